// Loaded into the bare window after tests/browser/natives.js: the page's native functions
// as that double keeps them, its files in localStorage so a restart finds the vault again.
// The program's own host answers these natively; the bare window has none.
(function () {
  'use strict';
  var store = {
    get: function (n) { return localStorage.getItem('msw:' + n); },
    set: function (n, t) { localStorage.setItem('msw:' + n, t); },
    del: function (n) { localStorage.removeItem('msw:' + n); },
  };
  var natives = mswNativeDouble({ store: store, focused: function () { return document.hasFocus(); } });
  Object.keys(natives).forEach(function (name) { window[name] = natives[name]; });
})();
