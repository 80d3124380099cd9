// Checks run inside a page by the look tests: sample content for the
// elements the program fills, the face that draws Latin text, and the
// contrast of every text element with what lies behind it. Each check
// returns its findings as lines of text; "" when there are none.
(function () {
  'use strict';
  var SAMPLE = 'Sample 12.3 m';
  var VOID = /^(INPUT|IMG|IFRAME|PROGRESS|SELECT|OPTION|TEXTAREA|BR|SCRIPT|STYLE)$/;

  function load(url) {
    var x = new XMLHttpRequest();
    x.open('GET', url, false);
    x.send();
    return x.responseText;
  }

  // The program's list rows, appended the way the program appends them.
  function appendRows(listId, fragment, count) {
    var list = document.getElementById(listId);
    if (!list) return;
    var html = load(fragment);
    for (var i = 0; i < count; i++) list.insertAdjacentHTML('beforeend', html);
  }

  function fill() {
    var file = location.pathname.split('/').pop();
    if (file === 'dive_log_page.htm') appendRows('cell_tbody', 'dive_log_cell.htm', 2);
    if (file === 'dive_site_page.htm') {
      appendRows('cell_tbody', 'dive_site_cell.htm', 3);
      appendRows('poi_cell_tbody', 'dive_site_list.htm', 2);
      var pop = document.getElementById('pop_table');
      if (pop) pop.style.display = 'flex';
      var cell = document.querySelector('.site_cell');
      if (cell) cell.classList.add('picked');
    }
    if (file === 'log_edit.htm') appendRows('cell_tbody', 'dive_site_list.htm', 2);
    // Dive days, one of them picked.
    var days = document.querySelectorAll('#calendar > div');
    for (var d = 10; d < 14 && d < days.length; d++) days[d].className = 'date_td_in_dive_day';
    if (days.length > 12) days[12].classList.add('picked');
    var all = document.querySelectorAll('[id]');
    for (var k = 0; k < all.length; k++) {
      var el = all[k];
      if (VOID.test(el.tagName) || el.children.length || el.textContent.trim()) continue;
      el.textContent = SAMPLE;
    }
    return '';
  }

  function visible(el) {
    if (!el.getClientRects().length) return false;
    var cs = getComputedStyle(el);
    return cs.visibility === 'visible' && parseFloat(cs.opacity) > 0;
  }

  // Elements drawing text of their own (a text node child that is not blank),
  // shown, and not part of a disabled control (exempt from contrast rules).
  function textElements() {
    var out = [];
    var walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
    var seen = new Set();
    for (var n = walker.nextNode(); n; n = walker.nextNode()) {
      var el = n.parentElement;
      if (!el || seen.has(el) || !n.nodeValue.trim()) continue;
      if (/^(SCRIPT|STYLE|OPTION|TITLE)$/.test(el.tagName)) continue;
      seen.add(el);
      if (!visible(el) || el.closest(':disabled, [disabled], [aria-hidden="true"]')) continue;
      out.push(el);
    }
    var fields = document.querySelectorAll('input, select');
    for (var i = 0; i < fields.length; i++) {
      var f = fields[i];
      if (f.type === 'hidden' || f.disabled || !visible(f)) continue;
      if (f.tagName === 'INPUT' && !f.value) f.value = SAMPLE;
      out.push(f);
    }
    return out;
  }

  function name(el) {
    var s = el.tagName.toLowerCase();
    if (el.id) s += '#' + el.id;
    else if (el.className && typeof el.className === 'string') s += '.' + el.className.trim().split(/\s+/).join('.');
    return s;
  }

  // ---- contrast ----
  function parseColor(text) {
    var m = /rgba?\(([^)]*)\)/.exec(text);
    if (!m) return null;
    var p = m[1].split(/[\s,/]+/).filter(Boolean).map(parseFloat);
    return [p[0], p[1], p[2], p.length > 3 ? p[3] : 1];
  }
  function over(top, bottom) {
    var a = top[3];
    return [0, 1, 2].map(function (i) { return top[i] * a + bottom[i] * (1 - a); }).concat([1]);
  }
  function luminance(c) {
    var v = [0, 1, 2].map(function (i) {
      var s = c[i] / 255;
      return s <= 0.03928 ? s / 12.92 : Math.pow((s + 0.055) / 1.055, 2.4);
    });
    return 0.2126 * v[0] + 0.7152 * v[1] + 0.0722 * v[2];
  }
  function ratio(a, b) {
    var x = luminance(a), y = luminance(b);
    return (Math.max(x, y) + 0.05) / (Math.min(x, y) + 0.05);
  }

  // The colours that can lie behind an element: its own and its ancestors'
  // backgrounds, composited from the first opaque one up; each colour stop of
  // a gradient is one possibility.
  function backgrounds(el) {
    var layers = [];
    for (var node = el; node; node = node.parentElement) {
      var cs = getComputedStyle(node);
      var colors = [];
      var image = cs.backgroundImage;
      if (image && image.indexOf('gradient') >= 0) {
        var stops = image.match(/rgba?\([^)]*\)/g) || [];
        colors = stops.map(parseColor);
      }
      var own = parseColor(cs.backgroundColor);
      if (own && own[3] > 0) colors = colors.length ? colors.map(function (c) { return over(c, own); }) : [own];
      if (!colors.length) continue;
      layers.push(colors);
      if (colors.every(function (c) { return c[3] >= 1; })) break;
    }
    var base = [[255, 255, 255, 1]];
    if (matchMedia('(prefers-color-scheme: dark)').matches) base = [[18, 18, 18, 1]];
    for (var i = layers.length - 1; i >= 0; i--) {
      var next = [];
      layers[i].forEach(function (top) { base.forEach(function (b) { next.push(over(top, b)); }); });
      base = next;
    }
    return base;
  }

  function contrast() {
    var lines = [];
    textElements().forEach(function (el) {
      var fg = parseColor(getComputedStyle(el).color);
      if (!fg) return;
      var worst = Infinity;
      backgrounds(el).forEach(function (bg) { worst = Math.min(worst, ratio(over(fg, bg), bg)); });
      if (worst < 4.5) lines.push(name(el) + ' ' + worst.toFixed(2) + ':1');
    });
    return lines.join('\n');
  }

  // ---- fonts ----
  var canvas = document.createElement('canvas');
  var ctx = canvas.getContext('2d');
  function width(style, family, text) {
    ctx.font = style + ' ' + family;
    return ctx.measureText(text).width;
  }
  // Latin text must be drawn with the Latin interface face, never with the
  // CJK face: the widths of the element's Latin text in its own font stack,
  // in the Latin face alone and in the CJK face alone tell which one the
  // engine took.
  function fonts(latinFace, cjkFace) {
    var lines = [];
    textElements().forEach(function (el) {
      var text = (el.tagName === 'INPUT' ? el.value : el.textContent).replace(/[^A-Za-z0-9 .,:]/g, '').trim();
      if (text.length < 2) return;
      // Drawn large, with every Latin letter: faces differ in width there even
      // where they round to the same pixels at the page's size.
      text += ' Hamburgefonstiv AQWXYZ jkpqxyz';
      var cs = getComputedStyle(el);
      var style = cs.fontStyle + ' ' + cs.fontWeight + ' 100px';
      var used = width(style, cs.fontFamily, text);
      var latin = width(style, '"' + latinFace + '"', text);
      var cjk = width(style, '"' + cjkFace + '"', text);
      if (Math.abs(latin - cjk) < 0.5) lines.push(name(el) + ': the faces cannot be told apart');
      else if (Math.abs(used - latin) > 0.01)
        lines.push(name(el) + ' [' + cs.fontFamily + '] ' + used.toFixed(2) + ' latin ' + latin.toFixed(2) + ' cjk ' + cjk.toFixed(2));
    });
    return lines.join('\n');
  }

  window.__checks = { fill: fill, contrast: contrast, fonts: fonts, count: function () { return String(textElements().length); } };
})();

// Every control a user can reach has a name a screen reader can say: its
// own label (aria-label, aria-labelledby, a <label>), its text, a title, or
// the alternative text of its picture.
(function () {
  'use strict';
  var CONTROLS = 'button, a[href], input:not([type=hidden]), select, textarea, .btnctrl, [role=button], [role=gridcell]';
  function text(el) { return el ? (el.textContent || '').trim() : ''; }
  function accessibleName(el) {
    var n = (el.getAttribute('aria-label') || '').trim();
    if (n) return n;
    var by = el.getAttribute('aria-labelledby');
    if (by) {
      n = by.split(/\s+/).map(function (id) { return text(document.getElementById(id)); }).join(' ').trim();
      if (n) return n;
    }
    if (el.labels && el.labels.length) {
      n = Array.prototype.map.call(el.labels, text).join(' ').trim();
      if (n) return n;
    }
    if (!/^(INPUT|SELECT|TEXTAREA)$/.test(el.tagName)) {
      n = text(el);
      if (n) return n;
    }
    n = (el.getAttribute('title') || '').trim();
    if (n) return n;
    var img = el.querySelector && el.querySelector('img[alt]');
    return img ? img.getAttribute('alt').trim() : '';
  }
  window.__checks.names = function () {
    var lines = [];
    document.querySelectorAll(CONTROLS).forEach(function (el) {
      if (!el.getClientRects().length) return;
      if (!accessibleName(el)) lines.push((el.tagName.toLowerCase()) + (el.id ? '#' + el.id : '') + ' has no name');
    });
    return lines.join('\n');
  };
})();

// The text a box cuts off without saying so (no ellipsis), for the scale
// test.
(function () {
  'use strict';
  window.__checks.clipped = function () {
    var lines = [];
    document.querySelectorAll('body *').forEach(function (el) {
      if (!el.getClientRects().length || el.closest('.list, .msg_scroll, .dd_values, .popup, .leaflet-container')) return;
      var cs = getComputedStyle(el);
      if (cs.textOverflow === 'ellipsis' || /^(INPUT|SELECT|TEXTAREA|IFRAME|PROGRESS|IMG)$/.test(el.tagName)) return;
      var own = Array.prototype.some.call(el.childNodes, function (n) { return n.nodeType === 3 && n.nodeValue.trim(); });
      if (!own) return;
      var hides = /(hidden|clip)/.test(cs.overflowX + cs.overflowY);
      if (hides && (el.scrollWidth > el.clientWidth + 1 || el.scrollHeight > el.clientHeight + 1))
        lines.push((el.id ? '#' + el.id : el.tagName.toLowerCase() + '.' + el.className) + ' ' + el.scrollWidth + 'x' +
                   el.scrollHeight + ' in ' + el.clientWidth + 'x' + el.clientHeight);
    });
    return lines.join('\n');
  };
})();

// The layout boxes of a page in CSS pixels, for comparing one page at two
// desktop scales: the viewport first, then every shown element that has an
// id, one "name x y w h" line each.
(function () {
  'use strict';
  window.__checks.boxes = function () {
    var lines = ['viewport 0 0 ' + window.innerWidth + ' ' + window.innerHeight];
    document.querySelectorAll('body [id]').forEach(function (el) {
      var r = el.getBoundingClientRect();
      if (!r.width && !r.height) return;
      lines.push('#' + el.id + ' ' + [r.left, r.top, r.width, r.height].map(Math.round).join(' '));
    });
    return lines.join('\n');
  };
  window.__checks.ratio = function () { return String(window.devicePixelRatio); };
})();

// Pictures that are not crisp at a desktop scale of 2: a shown <img> that is
// neither vector nor at least twice its drawn size.
(function () {
  'use strict';
  window.__checks.blurry = function () {
    var lines = [];
    document.querySelectorAll('img').forEach(function (img) {
      if (!img.getClientRects().length || !img.naturalWidth || /\.svg(\?|$)/i.test(img.src)) return;
      var r = img.getBoundingClientRect();
      if (img.naturalWidth < 2 * r.width - 0.5 || img.naturalHeight < 2 * r.height - 0.5)
        lines.push(img.src.split('/').pop() + ' ' + img.naturalWidth + 'x' + img.naturalHeight + ' drawn at ' +
                   Math.round(r.width) + 'x' + Math.round(r.height));
    });
    return lines.join('\n');
  };
})();
