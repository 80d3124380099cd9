// Keyboard use of the pages, beside the page runtime's Enter and Escape:
//  - the cells the program makes clickable (elements of class "btnctrl" that
//    are no buttons: dive days, dive-site and search-result cells) take the
//    focus and are pressed with Enter or Space, through the same click as
//    the mouse;
//  - the calendar is one tab stop: the arrow keys move the focus among its
//    days (a week up or down), Home and End to the first and last day;
//  - each list (the day's dives, the dive sites, the search results) is one
//    tab stop: Up and Down move among its rows, Home and End to the ends;
//  - shortcuts of the main window, from any of its frames: F5 syncs the dive
//    logs, Page Up and Page Down show the previous and next month (outside
//    text fields), Ctrl+comma opens the settings.
// Presentation only: the program works without any of this.
(function () {
  'use strict';
  var CELL = '.btnctrl:not(button):not(input)';
  var LISTS = '#cell_tbody, #poi_cell_tbody';

  // The rows of a list and their focusable parts.
  function rows(list) {
    return Array.prototype.filter.call(list.children, function (r) { return r.getClientRects().length > 0; });
  }
  function parts(row) {
    var own = row.matches(CELL) ? [row] : [];
    return own.concat(Array.prototype.slice.call(row.querySelectorAll(CELL + ', button, input, select')));
  }

  // One tab stop per group: the active item (the picked one, the focused one,
  // else the first) has tabindex 0, every other -1.
  function roveCalendar(cal, active) {
    var cells = Array.prototype.slice.call(cal.children);
    if (!active || cells.indexOf(active) < 0)
      active = cal.querySelector('.picked') || cal.querySelector('.date_td_in_dive_day') || cal.querySelector('.date_td') || cells[0];
    cells.forEach(function (c) { c.tabIndex = c === active ? 0 : -1; });
  }
  function roveList(list, activeRow) {
    var all = rows(list);
    if (!activeRow || all.indexOf(activeRow) < 0)
      activeRow = all.filter(function (r) { return r.querySelector('.picked') || r.matches('.picked'); })[0] || all[0];
    all.forEach(function (r) {
      parts(r).forEach(function (p) { p.tabIndex = r === activeRow ? 0 : -1; });
    });
  }
  function refresh() {
    var cal = document.getElementById('calendar');
    if (cal) {
      roveCalendar(cal, cal.contains(document.activeElement) ? document.activeElement : null);
      // A screen reader says a dive day as such, and that it can be pressed.
      var note = cal.getAttribute('data-has-dives') || '';
      Array.prototype.forEach.call(cal.children, function (c) {
        var dive = c.classList.contains('date_td_in_dive_day');
        var label = dive ? c.textContent.trim() + ', ' + note : null;
        if (label) {
          if (c.getAttribute('aria-label') !== label) c.setAttribute('aria-label', label);
          c.setAttribute('role', 'button');
        } else {
          c.removeAttribute('aria-label');
          c.removeAttribute('role');
        }
      });
    }
    document.querySelectorAll(LISTS).forEach(function (list) {
      var focused = list.contains(document.activeElement) ? rowOf(list, document.activeElement) : null;
      roveList(list, focused);
    });
    document.querySelectorAll(CELL).forEach(function (c) { if (!c.hasAttribute('tabindex')) c.tabIndex = 0; });
  }
  function rowOf(list, el) {
    while (el && el.parentElement !== list) el = el.parentElement;
    return el;
  }

  var pending = false;
  function schedule() {
    if (pending) return;
    pending = true;
    setTimeout(function () { pending = false; refresh(); }, 0);
  }

  function moveCalendar(cal, from, key) {
    var cells = Array.prototype.slice.call(cal.children);
    var i = cells.indexOf(from);
    var step = { ArrowLeft: -1, ArrowRight: 1, ArrowUp: -7, ArrowDown: 7 }[key];
    var j = key === 'Home' ? 0 : key === 'End' ? cells.length - 1 : i + step;
    if (step === undefined && key !== 'Home' && key !== 'End') return false;
    j = Math.max(0, Math.min(cells.length - 1, j));
    roveCalendar(cal, cells[j]);
    cells[j].focus();
    return true;
  }
  function moveList(list, from, key) {
    var all = rows(list);
    var i = all.indexOf(rowOf(list, from));
    var j = { ArrowUp: i - 1, ArrowDown: i + 1, Home: 0, End: all.length - 1 }[key];
    if (j === undefined || !all.length) return false;
    j = Math.max(0, Math.min(all.length - 1, j));
    roveList(list, all[j]);
    var first = parts(all[j])[0];
    if (first) first.focus();
    return true;
  }

  // A button of the main window, wherever the key was pressed.
  function mainButton(id, frameId) {
    var top;
    try { top = window.top.document; } catch (e) { return null; }
    var doc = top;
    if (frameId) {
      var f = top.getElementById(frameId);
      if (!f || f.hidden || !f.contentDocument) return null;
      doc = f.contentDocument;
    }
    var b = doc.getElementById(id);
    return b && !b.disabled && !b.hidden && b.getClientRects().length ? b : null;
  }
  function shortcut(ev, typing) {
    if (ev.key === 'F5' && !ev.ctrlKey && !ev.altKey) return mainButton('upload');
    if (ev.key === ',' && ev.ctrlKey && !ev.altKey) return mainButton('setting');
    if (typing || ev.ctrlKey || ev.altKey || ev.shiftKey) return null;
    if (ev.key === 'PageUp') return mainButton('lastmon', 'framepage1');
    if (ev.key === 'PageDown') return mainButton('nextmon', 'framepage1');
    return null;
  }

  document.addEventListener('keydown', function (ev) {
    if (ev.defaultPrevented || ev.isComposing) return;
    var t = ev.target && ev.target.nodeType === 1 ? ev.target : document.activeElement;
    if (!t) return;
    var typing = /^(INPUT|SELECT|TEXTAREA)$/.test(t.tagName) || t.isContentEditable;
    var done = false;
    var s = window.top === window || document.getElementById('calendar') || document.querySelector(LISTS)
      ? shortcut(ev, typing) : null;
    if (s) {
      s.click();
      done = true;
    } else if (!ev.ctrlKey && !ev.altKey && !ev.metaKey && !typing) {
      var cal = t.closest('#calendar');
      var list = t.closest(LISTS);
      if ((ev.key === 'Enter' || ev.key === ' ') && t.matches(CELL)) {
        t.click();
        done = true;
      } else if (cal && t.parentElement === cal) {
        done = moveCalendar(cal, t, ev.key);
      } else if (list && !ev.shiftKey) {
        done = moveList(list, t, ev.key);
      }
    }
    if (done) {
      ev.preventDefault();
      ev.stopPropagation();
    }
  });
  document.addEventListener('focusin', schedule);

  function start() {
    refresh();
    new MutationObserver(schedule).observe(document.body, {
      subtree: true, childList: true, attributes: true, attributeFilter: ['class', 'hidden']
    });
  }
  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', start);
  else start();
})();
