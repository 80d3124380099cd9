// Dialog pages are laid out for their logical size (data-w x data-h on
// <body>). When the window is larger because the screen's DPI is above 96,
// the page is zoomed by the same factor, so that it looks the same and its
// 30-pixel drag band matches the band the window moves by. If the view is
// already zoomed, the viewport is the logical size and nothing changes.
(function () {
  var b = document.body;
  var w = Number(b && b.getAttribute('data-w')), h = Number(b && b.getAttribute('data-h'));
  if (!(w > 0 && h > 0)) return;
  function fit() {
    var z = Math.min(window.innerWidth / w, window.innerHeight / h);
    document.documentElement.style.zoom = (z > 0 && Math.abs(z - 1) > 0.01) ? String(z) : '';
  }
  window.addEventListener('resize', fit);
  fit();
})();
