window.__js_loaded = 1;
