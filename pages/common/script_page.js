// Shared by the script pages (web_html/maps.htm, web_html/main.htm): reading
// what the program's calls carry, strictly as data, and reporting back.
//
// The program calls the pages' global functions with text arguments. Every
// function records its call (window.__received, read-only, for tests and
// diagnosis), then reads its arguments with these helpers: numbers from
// their decimal text, documents with JSON.parse. Texts are shown with
// textContent only, never as markup or code.
(function () {
  'use strict';
  var LIMIT = 24;  // calls kept, newest last (a dive's chart can be 200 kB)
  var log = [];

  function record(name, args) {
    var a = [];
    for (var k = 0; k < args.length; k++) a.push(typeof args[k] === 'string' ? args[k] : String(args[k]));
    log.push({ f: name, a: a });
    if (log.length > LIMIT) log.splice(0, log.length - LIMIT);
  }

  // The calls received so far, oldest first: [{f: name, a: [texts]}]. A copy
  // each time, so nothing outside can change the record.
  Object.defineProperty(window, '__received', {
    get: function () { return JSON.parse(JSON.stringify(log)); },
    configurable: false
  });

  // A decimal text ("25.033964", "-121.5", "14") as a finite number within
  // [-limit, limit]; null for anything else.
  var DECIMAL = /^[+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d+)?$/;
  function number(text, limit) {
    if (typeof text === 'number') text = String(text);
    if (typeof text !== 'string') return null;
    var s = text.trim();
    if (!DECIMAL.test(s)) return null;
    var v = Number(s);
    return isFinite(v) && Math.abs(v) <= limit ? v : null;
  }

  // Latitude and longitude texts as [lat, lng]; null when either is unusable.
  function latLng(lat, lng) {
    var a = number(lat, 90), b = number(lng, 180);
    return a === null || b === null ? null : [a, b];
  }

  // JSON text as a value; undefined when it is not JSON.
  function json(text) {
    if (typeof text !== 'string') return undefined;
    try { return JSON.parse(text); } catch (e) { return undefined; }
  }

  // Calls window.external.<name>(args...) when the host gave the page that
  // method (a page opened outside the program has none); never throws.
  function report(name) {
    var x = window.external;
    var f = x && x[name];
    if (typeof f !== 'function') return;
    try { f.apply(x, Array.prototype.slice.call(arguments, 1)); } catch (e) {}
  }

  // Runs `fn` once the document is parsed: reports made earlier could reach
  // the program before its host knows the page is ready for calls.
  function whenParsed(fn) {
    if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', fn);
    else setTimeout(fn, 0);
  }

  window.ScriptPage = Object.freeze({
    record: record, number: number, latLng: latLng, json: json, report: report, whenParsed: whenParsed
  });
})();
