// The map of the script pages: Leaflet over an offline basemap of land and
// coastlines (Natural Earth at 1:50m, from world-atlas, read with
// topojson-client), drawn under everything, so that the map shows land and
// sea with no network at all. Online tiles are drawn over it only when the
// program passes their address as the page's query "tiles" (http or https);
// a tile that does not arrive leaves the basemap showing through.
//
// The land is kept as flat arrays of Web Mercator coordinates (the unit
// square of the map's projection) and drawn straight onto the canvas of a
// Leaflet canvas renderer each time the view settles: no Leaflet shape per
// polygon, so the data takes a few MB and a redraw a few milliseconds.
(function () {
  'use strict';
  var COLORS = Object.freeze({ land: '#e9e3cf', coast: '#a89d7d', sea: '#b7d7e8' });
  // Relative to this script: the program folder's lib/.
  var LAND_URL = new URL('../lib/world-atlas/land-50m.json', document.currentScript.src).href;
  var MAX_LAT = 85.0511287798;  // where the projection ends, as Leaflet's
  var CLIP_MARGIN = 256;        // pixels kept around the view when a ring is cut to it

  function tileUrl() {
    var t = null;
    try { t = new URLSearchParams(location.search).get('tiles'); } catch (e) {}
    return t && /^https?:\/\/[^\s"'<>]+$/i.test(t) ? t : null;
  }

  // ---- the data ----

  // One ring of the land: its points as [x0, y0, x1, y1, ...] in the unit
  // square (x may run past 0 or 1 where a ring crosses the antimeridian),
  // its box, and which of its segments are no coastline (the data's cut
  // along the antimeridian, the edge at the pole): those are not stroked.
  function makeRing(lonLat) {
    var n = lonLat.length, lons = new Array(n), shift = 0, seams = null;
    for (var i = 0; i < n; i++) {
      var lon = lonLat[i][0];
      if (i > 0) {
        var prev = lonLat[i - 1][0];
        // A ring crossing the antimeridian jumps from +180 to -180: it is
        // unwrapped to run on past 180 (or -180) instead.
        if (lon - prev > 180) shift -= 360;
        else if (lon - prev < -180) shift += 360;
        if (Math.abs(lon) >= 179.999 && lon === prev) (seams || (seams = new Uint8Array(n + 2)))[i] = 1;
      }
      lons[i] = lon + shift;
    }
    // A ring that ends a whole turn from its start goes round a pole
    // (Antarctica): it is closed along the map's edge at that pole.
    var pole = shift !== 0;
    var m = pole ? n + 2 : n, xy = new Float64Array(2 * m), latSum = 0;
    for (var j = 0; j < n; j++) {
      var lat = Math.max(-MAX_LAT, Math.min(MAX_LAT, lonLat[j][1])), s = Math.sin(lat * Math.PI / 180);
      xy[2 * j] = (lons[j] + 180) / 360;
      xy[2 * j + 1] = 0.5 - Math.log((1 + s) / (1 - s)) / (4 * Math.PI);
      latSum += lat;
    }
    if (pole) {
      var edge = latSum < 0 ? 1 : 0;
      xy[2 * n] = xy[2 * n - 2];
      xy[2 * n + 1] = edge;
      xy[2 * n + 2] = xy[0];
      xy[2 * n + 3] = edge;
      seams = seams || new Uint8Array(m);
      seams[n] = seams[n + 1] = 1;
    }
    var x0 = Infinity, y0 = Infinity, x1 = -Infinity, y1 = -Infinity;
    for (var k = 0; k < m; k++) {
      x0 = Math.min(x0, xy[2 * k]);
      x1 = Math.max(x1, xy[2 * k]);
      y0 = Math.min(y0, xy[2 * k + 1]);
      y1 = Math.max(y1, xy[2 * k + 1]);
    }
    return { xy: xy, n: m, box: [x0, y0, x1, y1], seams: seams };
  }

  function readLand(topo) {
    var land = topojson.feature(topo, topo.objects.land);
    var geometry = land.type === 'FeatureCollection' ? land.features[0].geometry : land.geometry;
    var polygons = geometry.type === 'Polygon' ? [geometry.coordinates] : geometry.coordinates;
    var rings = [];
    polygons.forEach(function (polygon) {
      polygon.forEach(function (ring) {
        // Rings wholly beyond the projection's end (the pole) are never seen.
        if (ring.some(function (p) { return Math.abs(p[1]) < MAX_LAT; })) rings.push(makeRing(ring));
      });
    });
    return rings;
  }

  // ---- drawing ----

  // Sutherland-Hodgman: the ring (xs, ys) cut to the rectangle.
  function clipRing(xs, ys, x0, y0, x1, y1) {
    var edges = [
      function (x) { return x >= x0; }, function (x) { return x <= x1; },
      function (x, y) { return y >= y0; }, function (x, y) { return y <= y1; }
    ];
    var cut = [
      function (ax, ay, bx, by) { return [x0, ay + (by - ay) * (x0 - ax) / (bx - ax)]; },
      function (ax, ay, bx, by) { return [x1, ay + (by - ay) * (x1 - ax) / (bx - ax)]; },
      function (ax, ay, bx, by) { return [ax + (bx - ax) * (y0 - ay) / (by - ay), y0]; },
      function (ax, ay, bx, by) { return [ax + (bx - ax) * (y1 - ay) / (by - ay), y1]; }
    ];
    for (var e = 0; e < 4 && xs.length; e++) {
      var inside = edges[e], ox = [], oy = [], n = xs.length;
      for (var i = 0; i < n; i++) {
        var ax = xs[(i + n - 1) % n], ay = ys[(i + n - 1) % n], bx = xs[i], by = ys[i];
        var ain = inside(ax, ay), bin = inside(bx, by);
        if (bin) {
          if (!ain) { var p = cut[e](ax, ay, bx, by); ox.push(p[0]); oy.push(p[1]); }
          ox.push(bx);
          oy.push(by);
        } else if (ain) {
          var q = cut[e](ax, ay, bx, by);
          ox.push(q[0]);
          oy.push(q[1]);
        }
      }
      xs = ox;
      ys = oy;
    }
    return [xs, ys];
  }

  function drawLand(renderer, map, rings) {
    var ctx = renderer._ctx, b = renderer._bounds;  // the renderer's canvas, in layer pixels
    if (!ctx || !b || !rings) return;
    var world = 256 * Math.pow(2, map.getZoom()), o = map.getPixelOrigin();
    var vx0 = b.min.x - CLIP_MARGIN, vy0 = b.min.y - CLIP_MARGIN, vx1 = b.max.x + CLIP_MARGIN, vy1 = b.max.y + CLIP_MARGIN;
    var ux0 = (vx0 + o.x) / world, ux1 = (vx1 + o.x) / world, uy0 = (vy0 + o.y) / world, uy1 = (vy1 + o.y) / world;
    var fill = new Path2D(), coast = new Path2D();
    rings.forEach(function (r) {
      if (r.box[1] > uy1 || r.box[3] < uy0) return;
      // The ring, and its copies a world to the east or west, where they meet the view.
      for (var k = Math.ceil(ux0 - r.box[2]); k <= Math.floor(ux1 - r.box[0]); k++) {
        var xs = new Array(r.n), ys = new Array(r.n);
        for (var i = 0; i < r.n; i++) {
          xs[i] = (r.xy[2 * i] + k) * world - o.x;
          ys[i] = r.xy[2 * i + 1] * world - o.y;
        }
        var whole = r.box[0] + k >= ux0 && r.box[2] + k <= ux1 && r.box[1] >= uy0 && r.box[3] <= uy1;
        var shape = whole ? [xs, ys] : clipRing(xs, ys, vx0, vy0, vx1, vy1);
        var fx = shape[0], fy = shape[1];
        if (fx.length > 2) {
          fill.moveTo(fx[0], fy[0]);
          for (var j = 1; j < fx.length; j++) fill.lineTo(fx[j], fy[j]);
          fill.closePath();
        }
        // The coastline: segments off the view and seams are left out.
        var pen = false;
        for (var s = 1; s < r.n; s++) {
          var ax = xs[s - 1], ay = ys[s - 1], bx = xs[s], by = ys[s];
          if ((r.seams && r.seams[s]) || (ax < vx0 && bx < vx0) || (ax > vx1 && bx > vx1) ||
              (ay < vy0 && by < vy0) || (ay > vy1 && by > vy1)) {
            pen = false;
            continue;
          }
          if (!pen) { coast.moveTo(ax, ay); pen = true; }
          coast.lineTo(bx, by);
        }
      }
    });
    ctx.fillStyle = COLORS.land;
    ctx.fill(fill, 'evenodd');
    ctx.strokeStyle = COLORS.coast;
    ctx.lineWidth = 0.8;
    ctx.lineJoin = 'round';
    ctx.stroke(coast);
  }

  // A canvas renderer that draws the land where Leaflet's draws its shapes:
  // after every clear of its canvas (view moved, zoomed, reset or resized).
  var LandRenderer = L.Canvas.extend({
    _rings: null,
    _draw: function () {
      this._ctx.save();
      drawLand(this, this._map, this._rings);
      this._ctx.restore();
    }
  });

  // Makes the map in `el`. `onReady(map)` runs once the basemap is drawn (or
  // could not be read: the map then shows sea only).
  function create(el, onReady) {
    el.style.background = COLORS.sea;
    var map = L.map(el, {
      center: [20, 0], zoom: 2, minZoom: 1, maxZoom: 18,
      worldCopyJump: true, attributionControl: false, zoomControl: true
    });
    var pane = map.createPane('land');
    pane.style.zIndex = 150;  // under the tiles (200) and everything else
    pane.style.pointerEvents = 'none';
    var tiles = tileUrl();
    if (tiles) L.tileLayer(tiles, { maxZoom: 19, subdomains: 'abc' }).addTo(map);
    var renderer = new LandRenderer({ pane: 'land', padding: 0.2 }).addTo(map);
    fetch(LAND_URL)
      .then(function (r) { if (!r.ok) throw new Error('land data ' + r.status); return r.json(); })
      .then(function (topo) {
        renderer._rings = readLand(topo);
        renderer._redraw();
      })
      .catch(function () {})
      .then(function () { if (onReady) onReady(map); });
    return map;
  }

  // A pin marker with a one-letter label: kind is 'entry', 'exit', 'site' or
  // 'current' (CSS classes in script_pages.css).
  function pin(latlng, kind, letter, draggable) {
    var face = document.createElement('div');
    face.className = 'pin_face';
    face.textContent = letter;
    var icon = L.divIcon({ className: 'pin pin_' + kind, html: face, iconSize: [26, 34], iconAnchor: [13, 33] });
    return L.marker(latlng, { icon: icon, draggable: !!draggable, keyboard: false, riseOnHover: true });
  }

  window.ScriptMap = Object.freeze({ create: create, pin: pin, tileUrl: tileUrl, colors: COLORS });
})();
