// Steers the page's relay connections to the benchmark's relay: the built page points at
// the default relay address, and a benchmark's relay listens on a free port of its own
// (window.__mswBenchRelayPort, set before this runs; nothing changes without it). Each
// socket made is kept in window.__mswBenchSockets, so a benchmark can watch what arrives
// on it. Run in the page before it connects: by bench/window_bench.cpp's driver, and by
// bench/chat-burst.js.
(function () {
  'use strict';
  var port = window.__mswBenchRelayPort;
  if (!port || window.__mswBenchSteered) return;
  window.__mswBenchSteered = true;
  var Real = window.WebSocket;
  window.__mswBenchSockets = [];
  var Steered = function (url, protocols) {
    var u = new URL(url);
    u.port = port;
    var ws = new Real(u.toString(), protocols);
    window.__mswBenchSockets.push(ws);
    return ws;
  };
  Steered.prototype = Real.prototype;
  ['CONNECTING', 'OPEN', 'CLOSING', 'CLOSED'].forEach(function (k) { Steered[k] = Real[k]; });
  window.WebSocket = Steered;
})();
