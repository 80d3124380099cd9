// The map of the script pages: Leaflet over an offline basemap of land and
// coastlines (Natural Earth at 1:50m, from world-atlas, decoded with
// topojson-client at build time by pages/land_data.js), drawn under
// everything, so that the map shows land and sea with no network at all. Online tiles are drawn over it only when the
// program passes their address as the page's query "tiles" (http or https);
// a tile that does not arrive leaves the basemap showing through.
//
// The land arrives as flat arrays of Web Mercator coordinates (the unit
// square of the map's projection) and is drawn straight onto the canvas of a
// Leaflet canvas renderer each time the view settles: nothing to decode, no
// Leaflet shape per polygon; the data takes half a MB, a redraw a few ms.
(function () {
  'use strict';
  // Land, coast and sea in the light and the dark colour scheme; the map
  // follows the desktop's scheme and repaints when it changes.
  var PALETTES = Object.freeze({
    light: Object.freeze({ land: '#e9e3cf', coast: '#a89d7d', sea: '#b7d7e8' }),
    dark: Object.freeze({ land: '#353b33', coast: '#7b8270', sea: '#13283a' })
  });
  // The program's scheme on the root (data-scheme) wins over the desktop's.
  var DARK = window.matchMedia ? window.matchMedia('(prefers-color-scheme: dark)') : null;
  function isDark() {
    var s = document.documentElement.getAttribute('data-scheme');
    return s ? s === 'dark' : !!(DARK && DARK.matches);
  }
  function colors() { return isDark() ? PALETTES.dark : PALETTES.light; }
  // Relative to this script: the program folder's lib/.
  var LAND_URL = new URL('../lib/land-50m.bin', document.currentScript.src).href;
  var CLIP_MARGIN = 256;        // pixels kept around the view when a ring is cut to it

  function tileUrl() {
    var t = null;
    try { t = new URLSearchParams(location.search).get('tiles'); } catch (e) {}
    return t && /^https?:\/\/[^\s"'<>]+$/i.test(t) ? t : null;
  }

  // ---- the data ----

  // The land as pages/land_data.js writes it: rings of points in Web
  // Mercator coordinates of the unit square (x may run past 0 or 1 where a
  // ring crosses the antimeridian), with a flag per point for a segment that
  // is no coastline. Each ring gets its box here. null when the data is not
  // what that script writes.
  function readLand(buffer) {
    if (buffer.byteLength < 16) return null;
    var head = new Uint32Array(buffer, 0, 4), count = head[2], points = head[3];
    var sizesAt = 16, xyAt = sizesAt + 4 * count, seamsAt = xyAt + 8 * points;
    if (head[0] !== 0x444e4c56 || head[1] !== 1 || buffer.byteLength !== seamsAt + points) return null;
    var sizes = new Uint32Array(buffer, sizesAt, count);
    var xyAll = new Float32Array(buffer, xyAt, 2 * points), seamsAll = new Uint8Array(buffer, seamsAt, points);
    var rings = [], at = 0;
    for (var r = 0; r < count; r++) {
      var n = sizes[r];
      if (at + n > points) return null;
      var xy = xyAll.subarray(2 * at, 2 * (at + n));
      var x0 = Infinity, y0 = Infinity, x1 = -Infinity, y1 = -Infinity;
      for (var i = 0; i < n; i++) {
        var x = xy[2 * i], y = xy[2 * i + 1];
        if (x < x0) x0 = x;
        if (x > x1) x1 = x;
        if (y < y0) y0 = y;
        if (y > y1) y1 = y;
      }
      rings.push({ xy: xy, n: n, box: [x0, y0, x1, y1], seams: seamsAll.subarray(at, at + n) });
      at += n;
    }
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

  // The land's outline and coastline as paths for the view; a redraw of an
  // unchanged view (a colour scheme change) fills the kept paths again
  // instead of projecting and cutting every ring anew.
  function drawLand(renderer, map, rings) {
    var ctx = renderer._ctx, b = renderer._bounds;  // the renderer's canvas, in layer pixels
    if (!ctx || !b || !rings) return;
    var o = map.getPixelOrigin();
    var key = [map.getZoom(), o.x, o.y, b.min.x, b.min.y, b.max.x, b.max.y].join(' ');
    var kept = renderer._landPaths;
    if (!kept || kept.key !== key || kept.rings !== rings)
      kept = renderer._landPaths = { key: key, rings: rings, paths: landPaths(map, b, o, rings) };
    var palette = colors();
    ctx.fillStyle = palette.land;
    ctx.fill(kept.paths.fill, 'evenodd');
    ctx.strokeStyle = palette.coast;
    ctx.lineWidth = 0.8;
    ctx.lineJoin = 'round';
    ctx.stroke(kept.paths.coast);
  }

  function landPaths(map, b, o, rings) {
    var world = 256 * Math.pow(2, map.getZoom());
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
          if (r.seams[s] || (ax < vx0 && bx < vx0) || (ax > vx1 && bx > vx1) ||
              (ay < vy0 && by < vy0) || (ay > vy1 && by > vy1)) {
            pen = false;
            continue;
          }
          if (!pen) { coast.moveTo(ax, ay); pen = true; }
          coast.lineTo(bx, by);
        }
      }
    });
    return { fill: fill, coast: coast };
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
    el.style.background = colors().sea;
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
    // Repainted in place (the kept paths filled anew) when the scheme in
    // force changes, by the program's attribute or the desktop's preference.
    var shown = isDark();
    var restyle = function () {
      if (isDark() === shown) return;
      shown = isDark();
      el.style.background = colors().sea;
      renderer._redraw();
    };
    if (DARK && DARK.addEventListener) DARK.addEventListener('change', restyle);
    if (window.MutationObserver)
      new MutationObserver(restyle).observe(document.documentElement, { attributes: true, attributeFilter: ['data-scheme'] });
    fetch(LAND_URL)
      .then(function (r) { if (!r.ok) throw new Error('land data ' + r.status); return r.arrayBuffer(); })
      .then(function (buffer) {
        renderer._rings = readLand(buffer);
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

  window.ScriptMap = Object.freeze({ create: create, pin: pin, tileUrl: tileUrl, colors: colors, palettes: PALETTES });
})();
