// The depth profile of the dive-log detail (web_html/main.htm), drawn with
// uPlot: time in minutes across, depth downward, the line coloured by ascent
// rate (green up to 9 m/min, amber up to 18, red above; the same rates in
// feet when the depths are in feet), the event symbols at their samples, and
// a readout of time, depth and ascent rate at the sample under the pointer,
// which the arrow keys also step through sample by sample.
(function () {
  'use strict';
  var FEET_PER_METRE = 3.2808399;
  var RATE_LIMITS_M = [9, 18];  // m/min: up to the first green, up to the second amber, above red
  var COLORS = ['#27a05a', '#e8a317', '#d8453b'];
  var AREA = 'rgba(14, 151, 173, 0.10)';
  var RATE_SPAN_S = 10;  // the ascent rate is taken over at least this many seconds
  var SYMBOL_PX = 18;
  // Symbols are pictures of the program folder's images/, named by the program
  // as "url(../../images/<name>.png)"; nothing else is loaded. Each is drawn
  // from its picture at twice its size, crisp at a desktop scale of 2.
  var SYMBOL = /^url\(\.\.\/\.\.\/images\/([a-z0-9_]+)\.png\)$/;
  var images = {};
  // Axis text, grid and ticks follow the page's colour scheme: read from its
  // style sheet at every draw, so a redraw after a scheme change repaints
  // them (the rate colours read well on both).
  var FONT = '11px "Inter", "DejaVu Sans", sans-serif';
  function cssColor(name, fallback) {
    var v = getComputedStyle(document.documentElement).getPropertyValue(name).trim();
    return v || fallback;
  }
  function axisText() { return cssColor('--muted', '#566b79'); }
  function gridLine() { return cssColor('--row-line', '#e6edf1'); }
  function tickLine() { return cssColor('--line', '#d8e3ea'); }
  function cursorFill() { return cssColor('--text', '#0b2a45'); }
  function cursorRing() { return cssColor('--card', '#ffffff'); }

  function image(name, redraw) {
    if (!images[name]) {
      var img = new Image();
      img.onload = redraw;
      img.src = '../../images/' + name + '.png';
      images[name] = img;
    }
    return images[name];
  }

  // The samples of a chart document, in order, as columns; samples that are
  // malformed or do not move forward in time are left out.
  function readSamples(doc) {
    var t = [], d = [], marks = [];
    if (!Array.isArray(doc)) return { t: t, d: d, marks: marks };
    for (var i = 0; i < doc.length; i++) {
      var s = doc[i];
      if (!Array.isArray(s) || s.length < 2) continue;
      var time = s[0], depth = s[1];
      if (typeof time !== 'number' || typeof depth !== 'number' || !isFinite(time) || !isFinite(depth)) continue;
      if (t.length && time <= t[t.length - 1]) continue;
      var m = s[2];
      if (m && typeof m === 'object' && m.enabled === true && typeof m.symbol === 'string') {
        var found = SYMBOL.exec(m.symbol);
        if (found) marks.push({ i: t.length, name: found[1] });
      }
      t.push(time);
      d.push(depth);
    }
    return { t: t, d: d, marks: marks };
  }

  // Ascent rate at each sample, in depth units per minute (positive going
  // up), over the span back to the latest sample at least RATE_SPAN_S
  // earlier; one pass.
  function ascentRates(t, d) {
    var r = new Array(t.length), j = 0;
    for (var i = 0; i < t.length; i++) {
      while (j + 1 < i && t[i] - t[j + 1] >= RATE_SPAN_S) j++;
      r[i] = i === 0 || t[i] === t[j] ? 0 : (d[j] - d[i]) * 60 / (t[i] - t[j]);
    }
    return r;
  }

  function rateClass(rate, limits) { return rate <= limits[0] ? 0 : rate <= limits[1] ? 1 : 2; }

  function minutes(seconds) {
    var s = Math.round(seconds), m = Math.floor(s / 60), r = s - m * 60;
    return m + ':' + (r < 10 ? '0' : '') + r;
  }

  function create(el, out) {
    var state = { t: [], d: [], rates: [], classes: [], marks: [], imperial: false, limits: RATE_LIMITS_M };
    var unit = function () { return state.imperial ? 'ft' : 'm'; };

    function redraw() { if (plot) plot.redraw(false, false); }

    // The line's colour along x: hard stops wherever the rate class changes.
    function stroke(u) {
      var n = state.t.length;
      if (n < 2 || !u.bbox.width) return COLORS[0];
      var left = u.bbox.left, width = u.bbox.width;
      var g = u.ctx.createLinearGradient(left, 0, left + width, 0);
      var at = function (i) { return Math.min(1, Math.max(0, (u.valToPos(state.t[i], 'x', true) - left) / width)); };
      var prev = state.classes[1];
      g.addColorStop(0, COLORS[prev]);
      for (var i = 2; i < n; i++) {
        var c = state.classes[i];
        if (c === prev) continue;
        var x = at(i - 1);
        g.addColorStop(x, COLORS[prev]);
        g.addColorStop(x, COLORS[c]);
        prev = c;
      }
      g.addColorStop(1, COLORS[prev]);
      return g;
    }

    function drawSymbols(u) {
      var ctx = u.ctx, px = SYMBOL_PX * devicePixelRatio;
      ctx.save();
      ctx.beginPath();
      ctx.rect(u.bbox.left, u.bbox.top - px, u.bbox.width, u.bbox.height + 2 * px);
      ctx.clip();
      state.marks.forEach(function (m) {
        var img = image(m.name, redraw);
        if (!img.complete || !img.naturalWidth) return;
        var x = u.valToPos(state.t[m.i], 'x', true), y = u.valToPos(state.d[m.i], 'y', true);
        ctx.drawImage(img, x - px / 2, y - px / 2, px, px);
      });
      ctx.restore();
    }

    function showReadout(u) {
      var i = u.cursor.idx;
      if (i === null || i === undefined || i >= state.t.length) {
        out.time.textContent = out.depth.textContent = out.rate.textContent = '\u2013';
        return;
      }
      var r = state.rates[i];
      out.time.textContent = minutes(state.t[i]);
      out.depth.textContent = state.d[i].toFixed(1) + ' ' + unit();
      out.rate.textContent = (r > 0.05 ? '\u2191 ' : r < -0.05 ? '\u2193 ' : '') + Math.abs(r).toFixed(1) + ' ' +
                             unit() + '/min';
      out.rate.className = 'rate' + state.classes[i];
    }

    function showLegend() {
      var l = state.limits, u = unit() + '/min';
      var texts = ['\u2264 ' + Math.round(l[0]) + ' ' + u, '\u2264 ' + Math.round(l[1]) + ' ' + u,
                   '> ' + Math.round(l[1]) + ' ' + u];
      out.legend.textContent = '';
      texts.forEach(function (text, k) {
        var item = document.createElement('span');
        item.className = 'rate' + k;
        item.textContent = text;
        out.legend.appendChild(item);
      });
    }

    var opts = {
      width: Math.max(el.clientWidth, 100), height: Math.max(el.clientHeight, 80),
      legend: { show: false },
      padding: [SYMBOL_PX / 2 + 2, 10, 0, 0],
      cursor: { drag: { x: false, y: false }, points: { size: 8, fill: cursorFill, stroke: cursorRing, width: 1.5 } },
      scales: {
        x: { time: false },
        y: { dir: -1, range: function (u, min, max) { return [0, Math.max(max, 1) * 1.08]; } }
      },
      axes: [
        {
          stroke: axisText, grid: { stroke: gridLine, width: 1 }, ticks: { stroke: tickLine, width: 1 },
          incrs: [5, 10, 15, 30, 60, 120, 300, 600, 900, 1200, 1800, 3600, 7200, 14400, 28800],
          values: function (u, splits) {
            return splits.map(function (s) { return s % 60 === 0 ? String(s / 60) : (s / 60).toFixed(1); });
          },
          label: 'min', labelSize: 16, labelFont: FONT, font: FONT, size: 30
        },
        {
          stroke: axisText, grid: { stroke: gridLine, width: 1 }, ticks: { stroke: tickLine, width: 1 },
          values: function (u, splits) { return splits.map(function (s) { return String(+s.toFixed(1)); }); },
          label: 'm', labelSize: 16, labelFont: FONT, font: FONT, size: 40
        }
      ],
      series: [{}, { stroke: stroke, width: 2, fill: AREA, points: { show: false } }],
      hooks: { draw: [drawSymbols], setCursor: [showReadout] }
    };
    var plot = new uPlot(opts, [[], []], el);

    // Arrow keys step the readout sample by sample (Page keys by ten).
    el.addEventListener('keydown', function (ev) {
      var step = { ArrowRight: 1, ArrowLeft: -1, PageDown: 10, PageUp: -10 }[ev.key];
      var n = state.t.length;
      if (ev.key === 'Home') step = -n;
      if (ev.key === 'End') step = n;
      if (!step || !n) return;
      ev.preventDefault();
      var i = plot.cursor.idx;
      i = i === null || i === undefined ? (step > 0 ? 0 : n - 1) : Math.min(n - 1, Math.max(0, i + step));
      plot.setCursor({ left: plot.valToPos(state.t[i], 'x'), top: plot.valToPos(state.d[i], 'y') });
    });
    el.addEventListener('mousedown', function () { el.focus(); });

    // A change of the colour scheme in force (the program's data-scheme on
    // the root, else the desktop's preference) repaints the chart in it.
    var scheme = window.matchMedia ? matchMedia('(prefers-color-scheme: dark)') : null;
    var isDark = function () {
      var s = document.documentElement.getAttribute('data-scheme');
      return s ? s === 'dark' : !!(scheme && scheme.matches);
    };
    var shown = isDark();
    var repaint = function () {
      if (isDark() === shown) return;
      shown = isDark();
      plot.redraw(false, true);
    };
    if (scheme && scheme.addEventListener) scheme.addEventListener('change', repaint);
    if (window.MutationObserver)
      new MutationObserver(repaint).observe(document.documentElement, { attributes: true, attributeFilter: ['data-scheme'] });

    if (window.ResizeObserver) {
      new ResizeObserver(function () {
        if (el.clientWidth > 0 && el.clientHeight > 0) plot.setSize({ width: el.clientWidth, height: el.clientHeight });
      }).observe(el);
    }

    function show(imperial, doc) {
      var s = readSamples(doc);
      state.t = s.t;
      state.d = s.d;
      state.marks = s.marks;
      state.imperial = imperial;
      state.limits = imperial ? RATE_LIMITS_M.map(function (v) { return v * FEET_PER_METRE; }) : RATE_LIMITS_M;
      state.rates = ascentRates(s.t, s.d);
      state.classes = state.rates.map(function (r) { return rateClass(r, state.limits); });
      plot.axes[1].label = unit();
      plot.setData([s.t, s.d]);
      plot.setCursor({ left: -10, top: -10 });
      showLegend();
    }

    showLegend();
    return { show: show, plot: plot, state: state };
  }

  window.DiveChart = Object.freeze({ create: create, ascentRates: ascentRates, readSamples: readSamples });
})();
