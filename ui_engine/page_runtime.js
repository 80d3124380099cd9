// The page runtime: injected at document start into every frame that shows
// one of the program's own pages (app://local/...). It is compiled into the
// program (ui_engine/CMakeLists.txt embeds this file as a string).
//
// It reports behaviour events (button clicks, select changes) and, in script
// pages, window.external calls to the host as JSON text, and offers the element
// operations the host queues (window.__vorta.*). Every operation takes its
// arguments as data: a frame path (ids of frame elements, outermost first), an
// element id (null for the document's root) and string values.
//
// The host puts this process's message token in place of TOKEN's
// placeholder below (its first occurrence in this file: keep it the only one).
(function () {
'use strict';
if (window.__vorta) return;
// The host drops messages without this token: the message handler is visible
// to every frame, but only the program's own pages get this script.
var TOKEN = '@TOKEN@';
// What posting needs is taken now, before any page script runs. The frames
// of a page share its origin and can replace what this window offers later
// (JSON.stringify, the handler's postMessage, a setter or toJSON on
// Object.prototype); a replacement made then must not see the token. The
// token never becomes a property of anything: it is joined to the message's
// text as a string.
var stringify = JSON.stringify;
var sliceText = Function.prototype.call.bind(String.prototype.slice);
var send = null;
try {
  var handler = window.webkit.messageHandlers.vorta;
  send = Function.prototype.bind.call(handler.postMessage, handler);
} catch (e) {}
function post(m) {
  try {
    var body = stringify(m);
    if (send && typeof body === 'string' && body.length > 2) send('{"t":"' + TOKEN + '",' + sliceText(body, 1));
  } catch (e) {}
}

// Ids of the frame elements from the top document down to this one; null
// when a frame on the way is not reachable.
function framePath() {
  var p = [], w = window;
  try {
    while (w !== w.top) {
      var fe = w.frameElement;
      if (!fe) return null;
      p.unshift(fe.id || '');
      w = w.parent;
    }
  } catch (e) { return null; }
  return p;
}

function sel(id) { return "[id='" + CSS.escape(id) + "']"; }
function docOf(path) {
  var d = document;
  for (var k = 0; k < path.length; k++) {
    if (!d) return null;
    var fe = d.querySelector(sel(path[k]));
    if (!fe) return null;
    try { d = fe.contentDocument; } catch (e) { return null; }
  }
  return d;
}
function el(path, id) {
  var d = docOf(path);
  if (!d) return null;
  if (id === null) return d.documentElement;
  if (typeof id === 'object') {
    // One of several elements with the same id: the one tagged when it
    // raised an event, or the n-th in document order.
    if (id.g) return d.querySelector("[data-vorta-ev='" + id.g + "']");
    return d.querySelectorAll(sel(id.i))[id.n] || null;
  }
  return d.querySelector(sel(id));
}

// The element's attributes as one object, sent with its events (a handler
// reads a row's data without a round trip to the page).
function attrsOf(e) {
  var o = {};
  for (var k = 0; k < e.attributes.length; k++) o[e.attributes[k].name] = e.attributes[k].value;
  return o;
}

// An event's element, when its id is not unique in its document (the
// buttons of list rows): tagged, so that the host's handle on the event's
// target reaches this element and not the first with the id. 0 otherwise.
var tagSeq = 0;
function tagOf(e) {
  if (!e.id) return 0;
  var d = e.ownerDocument;
  if (d.querySelectorAll(sel(e.id)).length < 2) return 0;
  // An element keeps its tag: events raised one after another are handled
  // later, each on its own element.
  var g = e.getAttribute('data-vorta-ev');
  if (!g) { g = String(++tagSeq); e.setAttribute('data-vorta-ev', g); }
  return Number(g);
}

var BUTTONS = 'button,input[type=button],input[type=submit],input[type=reset],input[type=image],.btnctrl';
var posting = false;  // set while a host-posted click is dispatched

window.addEventListener('click', function (ev) {
  var t = ev.target;
  if (t && t.nodeType !== 1) t = t.parentElement;
  if (!t || !t.closest) return;
  var b = t.closest(BUTTONS);
  var a = t.closest('a');
  // Buttons and links inside forms never submit or navigate.
  if ((b && (b.form || b.closest('form'))) || (a && a.closest('form'))) ev.preventDefault();
  if (!b || b.disabled) return;
  post({ k: 'ev', c: 0, p: framePath(), i: b.id || '', a: attrsOf(b), g: tagOf(b), r: posting ? 1 : 0 });
}, true);

window.addEventListener('change', function (ev) {
  var t = ev.target;
  if (!t || t.tagName !== 'SELECT') return;
  post({ k: 'ev', c: 5, p: framePath(), i: t.id || '', v: String(t.value), a: attrsOf(t), g: tagOf(t), r: posting ? 1 : 0 });
}, true);

window.addEventListener('submit', function (ev) { ev.preventDefault(); }, true);

// Keyboard, the only key handling of the pages: Enter and Escape press the
// button of the page marked for them (data-key="enter" / data-key="escape"),
// through the same click path as the mouse. A field may send its Enter to a
// button of its own instead (data-enter="<button id>", e.g. a search box).
// Enter is left alone where it already means something: in a text area, or
// on a focused button, link or list. The key stops here, so nothing else on
// the page acts on it a second time.
window.addEventListener('keydown', function (ev) {
  if (ev.defaultPrevented || ev.isComposing || ev.altKey || ev.ctrlKey || ev.metaKey || ev.shiftKey) return;
  var key = ev.key === 'Enter' ? 'enter' : ev.key === 'Escape' ? 'escape' : '';
  if (!key) return;
  var t = ev.target;
  if (t && t.nodeType !== 1) t = t.parentElement;
  if (key === 'enter' && t &&
      (t.tagName === 'TEXTAREA' || t.tagName === 'SELECT' || t.isContentEditable || t.closest(BUTTONS + ',a'))) return;
  var own = key === 'enter' && t ? t.closest('[data-enter]') : null;
  var b = own ? document.getElementById(own.getAttribute('data-enter'))
              : document.querySelector('[data-key~="' + key + '"]');
  if (!b || b.disabled || b.hidden || b.getClientRects().length === 0) return;
  ev.preventDefault();
  ev.stopPropagation();
  b.click();
}, true);

// Script pages. A document shown in a frame that the host made for a script
// page (an <iframe> marked data-vorta-script="<load number>", see R.asp)
// gets window.external with exactly the methods the host named in its
// data-vorta-external attribute; a call of any other name fails in the page.
// Each call posts its name and arguments (as text: String(x), "" for null
// and undefined; numbers keep every digit) with the frame's load number, so
// the host can tell the page from one shown earlier in the same frame. The
// page also reports when its scripts have run (s: 1, it can take calls) and
// when it goes away (s: 0). Every other document has no window.external.
var scriptFrame = null;
try {
  var fe = window.frameElement;
  if (fe && fe.hasAttribute('data-vorta-script')) scriptFrame = fe;
} catch (e) {}
if (scriptFrame) {
  var load = scriptFrame.getAttribute('data-vorta-script');
  var external = {};
  (scriptFrame.getAttribute('data-vorta-external') || '').split(' ').forEach(function (name) {
    if (!/^[A-Za-z_][A-Za-z0-9_]*$/.test(name)) return;
    external[name] = function () {
      var args = [];
      for (var k = 0; k < arguments.length; k++) {
        var x = arguments[k];
        args.push(x === null || x === undefined ? '' : String(x));
      }
      post({ k: 'ext', p: framePath(), g: load, n: name, a: args });
    };
  });
  try { Object.defineProperty(window, 'external', { value: Object.freeze(external), configurable: false, writable: false }); }
  catch (e) {}
  var state = function (s) { return function () { post({ k: 'sp', p: framePath(), g: load, s: s }); }; };
  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', state(1));
  else state(1)();
  window.addEventListener('pagehide', state(0));
}

function isField(e) {
  var n = e.tagName;
  return n === 'INPUT' || n === 'TEXTAREA' || n === 'SELECT' || n === 'PROGRESS' || n === 'METER' ||
         n === 'OPTION' || n === 'BUTTON' || n === 'OUTPUT';
}
function getValue(e) {
  if (e.tagName === 'PROGRESS' || e.tagName === 'METER') return e.hasAttribute('value') ? String(e.value) : '';
  if (isField(e)) return String(e.value);
  return e.textContent;
}
function setValue(e, v) {
  if (e.tagName === 'PROGRESS' || e.tagName === 'METER') {
    var n = parseFloat(v);
    if (isNaN(n)) e.removeAttribute('value'); else e.value = n;
  } else if (isField(e)) {
    e.value = v;
  } else {
    e.textContent = v;
  }
}

// Consecutive appends to one element are joined and parsed once: a list
// refresh appends dozens of rows, and one parse of them all costs a fraction
// of dozens of parses. The program appends whole fragments (rows, cells), for
// which the joined text builds the same nodes. Any other operation, and the
// end of a batch, first puts the pending appends in place.
var pendingAppend = null;
function flushAppends() {
  var a = pendingAppend;
  pendingAppend = null;
  if (a) { try { a.e.insertAdjacentHTML('beforeend', a.h); } catch (e) {} }
}
// Each operation is guarded so that one failing write never stops the batch.
function guard(f, fallback) {
  return function () { flushAppends(); try { return f.apply(null, arguments); } catch (e) { return fallback; } };
}
var R = {
  ex: guard(function (p, i) { return el(p, i) ? '1' : '0'; }, '0'),
  ga: guard(function (p, i, n) { var e = el(p, i); var v = e ? e.getAttribute(n) : null; return v === null ? '' : v; }, ''),
  gt: guard(function (p, i) { var e = el(p, i); return e ? e.textContent : ''; }, ''),
  gv: guard(function (p, i) { var e = el(p, i); return e ? getValue(e) : ''; }, ''),
  gh: guard(function (p, i) { var e = el(p, i); return e ? e.innerHTML : ''; }, ''),
  // A promise of the element's text once it is no longer `was` (at once when
  // it is not now), or of null after `ms` milliseconds: a watcher waits for
  // a page to change without asking it again and again.
  wt: function (p, i, was, ms) {
    return new Promise(function (resolve) {
      var obs = null, timer = 0;
      function check() {
        var t = R.gt(p, i);
        if (t === was) return false;
        if (obs) obs.disconnect();
        clearTimeout(timer);
        resolve(t);
        return true;
      }
      if (check()) return;
      timer = setTimeout(function () { if (obs) obs.disconnect(); resolve(null); }, ms);
      try {
        obs = new MutationObserver(check);
        obs.observe(docOf(p) || document, { subtree: true, childList: true, characterData: true });
      } catch (e) {}
    });
  },
  // A script page's record of the calls it received (its window.__received),
  // as JSON text; the element is the page's frame.
  gr: guard(function (p, i) {
    var e = el(p, i), w = e && e.contentWindow;
    return w && w.__received !== undefined ? JSON.stringify(w.__received) : '';
  }, ''),
  // A mouse move over the element, (x, y) pixels from its top left corner, as
  // the page's own handlers see it.
  mm: guard(function (p, i, x, y) {
    var e = el(p, i); if (!e) return '0';
    var r = e.getBoundingClientRect(), V = e.ownerDocument.defaultView;
    var o = { bubbles: true, cancelable: true, view: V, clientX: r.left + x, clientY: r.top + y };
    e.dispatchEvent(new V.MouseEvent('mouseover', o));
    e.dispatchEvent(new V.MouseEvent('mousemove', o));
    return '1';
  }, '0'),
  sa: guard(function (p, i, n, v) { var e = el(p, i); if (!e) return; if (v === null) e.removeAttribute(n); else e.setAttribute(n, v); }),
  st: guard(function (p, i, t) { var e = el(p, i); if (e) e.textContent = t; }),
  ah: function (p, i, h) {
    try {
      var e = el(p, i); if (!e) return;
      if (pendingAppend && pendingAppend.e === e) { pendingAppend.h += h; return; }
      flushAppends();
      pendingAppend = { e: e, h: String(h) };
    } catch (x) {}
  },
  fa: flushAppends,
  sh: guard(function (p, i, h) { var e = el(p, i); if (e) e.innerHTML = h; }),
  sv: guard(function (p, i, v) { var e = el(p, i); if (e) setValue(e, v); }),
  // Value set as by the user: input and change events follow.
  su: guard(function (p, i, v) {
    var e = el(p, i); if (!e) return;
    setValue(e, v);
    var w = e.ownerDocument.defaultView;
    var rt = w && w.__vorta;
    if (rt) rt._posting(true);
    try {
      e.dispatchEvent(new Event('input', { bubbles: true }));
      e.dispatchEvent(new Event('change', { bubbles: true }));
    } finally { if (rt) rt._posting(false); }
  }),
  // Focus as a user's click or Tab into the element gives it.
  fo: guard(function (p, i) { var e = el(p, i); if (e && e.focus) e.focus(); }),
  ss: guard(function (p, i, n, v) { var e = el(p, i); if (!e) return; if (v === '') e.style.removeProperty(n); else e.style.setProperty(n, v); }),
  sp: guard(function (p, i, ap, ai) {
    var e = el(p, i), a = el(ap, ai); if (!e) return;
    var x = 0, y = 0;
    if (a) { var r = a.getBoundingClientRect(); x = r.left; y = r.bottom; }
    e.removeAttribute('hidden');
    e.style.setProperty('position', 'fixed');
    e.style.setProperty('left', x + 'px');
    e.style.setProperty('top', y + 'px');
    e.style.setProperty('z-index', '10000');
    e.style.setProperty('display', 'block');
  }),
  hp: guard(function (p, i) { var e = el(p, i); if (e) e.style.setProperty('display', 'none'); }),
  ck: guard(function (p, i) {
    var e = el(p, i); if (!e) return;
    var w = e.ownerDocument.defaultView;
    var rt = w && w.__vorta;
    if (rt) rt._posting(true);
    try { e.dispatchEvent(new MouseEvent('click', { bubbles: true, cancelable: true, view: w })); }
    finally { if (rt) rt._posting(false); }
  }),
  // A script page in an <iframe> (id "<id>_page") that replaces the
  // element's content: `load` numbers this showing, `names` (space-separated)
  // are the page's window.external methods.
  asp: guard(function (p, i, url, load, names) {
    var e = el(p, i); if (!e || !i) return;
    if (!/^app:\/\/local\//.test(url)) return;
    var f = e.ownerDocument.createElement('iframe');
    f.id = i + '_page';
    f.setAttribute('frameborder', '0');
    f.setAttribute('data-vorta-script', load);
    f.setAttribute('data-vorta-external', names);
    f.style.cssText = 'border:0;margin:0;padding:0;width:100%;height:100%;display:block';
    f.src = url;
    e.textContent = '';
    e.appendChild(f);
  }),
  // Calls a global function of the script page in the frame element (or in
  // the first frame inside the element). Only script-page frames take calls.
  cs: guard(function (p, i, fn, args) {
    var e = el(p, i); if (!e) return;
    var f = (e.tagName === 'IFRAME' || e.tagName === 'FRAME') ? e : e.querySelector('iframe,frame');
    if (!f || !f.hasAttribute('data-vorta-script') || !f.contentWindow) return;
    var w = f.contentWindow, g = w[fn];
    if (typeof g === 'function') g.apply(w, args);
  }),
  // The program's colour scheme, 'dark' or 'light': the data-scheme
  // attribute of this document's root and of every document of the
  // program's frames inside it (the style sheets follow it ahead of
  // prefers-color-scheme). The promise settles once the next frame has been
  // drawn, in the new scheme.
  scheme: function (s) {
    if (s !== 'dark' && s !== 'light') return null;
    (function mark(w) {
      var d = null;
      try { d = w.document; } catch (e) { return; }  // a foreign frame
      if (d && d.documentElement) d.documentElement.setAttribute('data-scheme', s);
      for (var k = 0; k < w.frames.length; k++) mark(w.frames[k]);
    })(window);
    return new Promise(function (done) {
      requestAnimationFrame(function () { setTimeout(done, 0); });
    });
  },
  _posting: function (on) { posting = on; }
};
Object.defineProperty(window, '__vorta', { value: Object.freeze(R), configurable: false, writable: false });
})();
