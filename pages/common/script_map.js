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

  // A list of numbers in a typed array of `Type` that grows as needed and is
  // kept from one redraw to the next: drawing the land leaves no garbage
  // behind (a redraw at world zoom projects and cuts some 30,000 points,
  // which as script arrays and engine-side paths piled up between the script
  // engine's collections). Points go in as x, y pairs.
  function List(Type, size) { this.v = new Type(size); this.n = 0; }
  List.prototype.room = function (more) {
    if (this.n + more <= this.v.length) return;
    var bigger = new this.v.constructor(Math.max(2 * this.v.length, this.n + more));
    bigger.set(this.v);
    this.v = bigger;
  };
  List.prototype.add = function (a) {
    this.room(1);
    this.v[this.n++] = a;
  };
  List.prototype.add2 = function (x, y) {
    this.room(2);
    this.v[this.n++] = x;
    this.v[this.n++] = y;
  };
  List.prototype.append = function (other) {
    this.room(other.n);
    this.v.set(other.v.subarray(0, other.n), this.n);
    this.n += other.n;
  };
  function Points() { return new List(Float64Array, 2048); }
  // Point counts of the runs (rings or lines) the points make, one after another.
  function Runs() { return new List(Uint32Array, 256); }

  // Edge e of the rectangle (0 left, 1 right, 2 top, 3 bottom).
  function inside(e, x, y, r) {
    return e === 0 ? x >= r[0] : e === 1 ? x <= r[2] : e === 2 ? y >= r[1] : y <= r[3];
  }
  function addCut(e, ax, ay, bx, by, r, out) {
    if (e < 2) {
      var x = r[e === 0 ? 0 : 2];
      out.add2(x, ay + (by - ay) * (x - ax) / (bx - ax));
    } else {
      var y = r[e === 2 ? 1 : 3];
      out.add2(ax + (bx - ax) * (y - ay) / (by - ay), y);
    }
  }

  // Sutherland-Hodgman: the ring in `src` cut to the rectangle r = [x0, y0,
  // x1, y1], edge by edge between the two scratch lists; returns the one
  // holding the result.
  function clipRing(src, a, b, r) {
    var from = src, to = a;
    for (var e = 0; e < 4 && from.n; e++) {
      to.n = 0;
      var v = from.v, n = from.n / 2;
      for (var i = 0; i < n; i++) {
        var p = (i + n - 1) % n, ax = v[2 * p], ay = v[2 * p + 1], bx = v[2 * i], by = v[2 * i + 1];
        var ain = inside(e, ax, ay, r), bin = inside(e, bx, by, r);
        if (bin) {
          if (!ain) addCut(e, ax, ay, bx, by, r, to);
          to.add2(bx, by);
        } else if (ain) {
          addCut(e, ax, ay, bx, by, r, to);
        }
      }
      from = to;
      to = to === a ? b : a;
    }
    return from;
  }

  // The land of the view in layer pixels, kept for a redraw of the same view
  // (a colour scheme change fills it again instead of projecting and cutting
  // every ring anew): the outline as closed rings and the coastline as open
  // lines, each as points and run lengths.
  function LandShape() {
    this.key = null;
    this.rings = null;
    this.fill = Points();
    this.fillRuns = Runs();
    this.coast = Points();
    this.coastRuns = Runs();
    // Scratch: a ring projected, its points' seam flags, and the two halves
    // of its cutting.
    this.ring = Points();
    this.seams = new List(Uint8Array, 1024);
    this.cutA = Points();
    this.cutB = Points();
  }

  // The ring projected to layer pixels `k` worlds to the east, into
  // shape.ring and shape.seams. A point within half a pixel of the last one
  // kept adds nothing that shows (at world zoom, most of them) and is left
  // out, unless it ends the ring or a seam.
  function projectRing(shape, r, k, world, o) {
    var ring = shape.ring, xy = r.xy, n = r.n, lx = 0, ly = 0;
    ring.n = shape.seams.n = 0;
    for (var i = 0; i < n; i++) {
      var x = (xy[2 * i] + k) * world - o.x, y = xy[2 * i + 1] * world - o.y;
      if (i > 0 && i < n - 1 && !r.seams[i] && !r.seams[i + 1] && Math.abs(x - lx) < 0.5 && Math.abs(y - ly) < 0.5)
        continue;
      shape.seams.add(r.seams[i]);
      ring.add2(x, y);
      lx = x;
      ly = y;
    }
  }

  function drawLand(renderer, map, rings) {
    var ctx = renderer._ctx, b = renderer._bounds;  // the renderer's canvas, in layer pixels
    if (!ctx || !b || !rings) return;
    var o = map.getPixelOrigin();
    var key = [map.getZoom(), o.x, o.y, b.min.x, b.min.y, b.max.x, b.max.y].join(' ');
    var shape = renderer._land || (renderer._land = new LandShape());
    if (shape.key !== key || shape.rings !== rings) {
      projectLand(shape, map, b, o, rings);
      shape.key = key;
      shape.rings = rings;
    }
    var palette = colors();
    ctx.fillStyle = palette.land;
    trace(ctx, shape.fill, shape.fillRuns, true);
    ctx.fill('evenodd');
    ctx.strokeStyle = palette.coast;
    ctx.lineWidth = 0.8;
    ctx.lineJoin = 'round';
    trace(ctx, shape.coast, shape.coastRuns, false);
    ctx.stroke();
  }

  // The runs as the context's current path.
  function trace(ctx, points, runs, closed) {
    var v = points.v, at = 0;
    ctx.beginPath();
    for (var r = 0; r < runs.n; r++) {
      var end = at + 2 * runs.v[r];
      ctx.moveTo(v[at], v[at + 1]);
      for (var i = at + 2; i < end; i += 2) ctx.lineTo(v[i], v[i + 1]);
      if (closed) ctx.closePath();
      at = end;
    }
  }

  function projectLand(shape, map, b, o, rings) {
    var world = 256 * Math.pow(2, map.getZoom());
    var view = [b.min.x - CLIP_MARGIN, b.min.y - CLIP_MARGIN, b.max.x + CLIP_MARGIN, b.max.y + CLIP_MARGIN];
    var vx0 = view[0], vy0 = view[1], vx1 = view[2], vy1 = view[3];
    var ux0 = (vx0 + o.x) / world, ux1 = (vx1 + o.x) / world, uy0 = (vy0 + o.y) / world, uy1 = (vy1 + o.y) / world;
    var fill = shape.fill, coast = shape.coast, ring = shape.ring;
    fill.n = shape.fillRuns.n = coast.n = shape.coastRuns.n = 0;
    rings.forEach(function (r) {
      if (r.box[1] > uy1 || r.box[3] < uy0) return;
      // The ring, and its copies a world to the east or west, where they meet the view.
      for (var k = Math.ceil(ux0 - r.box[2]); k <= Math.floor(ux1 - r.box[0]); k++) {
        projectRing(shape, r, k, world, o);
        var whole = r.box[0] + k >= ux0 && r.box[2] + k <= ux1 && r.box[1] >= uy0 && r.box[3] <= uy1;
        var cut = whole ? ring : clipRing(ring, shape.cutA, shape.cutB, view);
        if (cut.n > 4) {
          fill.append(cut);
          shape.fillRuns.add(cut.n / 2);
        }
        // The coastline: segments off the view and seams are left out.
        var v = ring.v, m = ring.n / 2, seams = shape.seams.v, run = 0;
        for (var s = 1; s < m; s++) {
          var ax = v[2 * s - 2], ay = v[2 * s - 1], bx = v[2 * s], by = v[2 * s + 1];
          if (seams[s] || (ax < vx0 && bx < vx0) || (ax > vx1 && bx > vx1) ||
              (ay < vy0 && by < vy0) || (ay > vy1 && by > vy1)) {
            if (run) shape.coastRuns.add(run);
            run = 0;
            continue;
          }
          if (!run) { coast.add2(ax, ay); run = 1; }
          coast.add2(bx, by);
          run++;
        }
        if (run) shape.coastRuns.add(run);
      }
    });
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
    var renderer = new LandRenderer({ pane: 'land', padding: 0.1 }).addTo(map);
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
