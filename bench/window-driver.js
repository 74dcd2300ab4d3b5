// Run in the real page after bench/unlock-driver.js and bench/relay-steer.js by
// bench/window_bench.cpp (through the GTK module bench/page_driver_module.cpp): once the
// page is on the main screen and online, General is opened, the composer focused and
// "ready@LOG/COMPOSER" reported (each as x,y,width,height of the page), so that the
// benchmark knows which part of the window to watch and where to click. From then on,
// each time the last line of the log changes, "line=TEXT" is reported a quarter second
// later, outside the time a benchmark measures.
(function () {
  'use strict';
  if (window.__mswWindowDriven) return;
  window.__mswWindowDriven = true;
  // One title a task at most: titles set in one task reach the host as the last one only.
  var reports = 0;
  var queue = [];
  function show() {
    document.title = 'bench:' + queue[0] + ':w' + (++reports);
    setTimeout(function () {
      queue.shift();
      if (queue.length) show();
    }, 50);
  }
  function report(name) {
    queue.push(name);
    if (queue.length === 1) show();
  }
  function byId(id) { return document.getElementById(id); }
  function place(e) {
    var r = e.getBoundingClientRect();
    var k = window.devicePixelRatio || 1;
    return [r.left, r.top, r.width, r.height].map(function (v) { return Math.round(v * k); }).join(',');
  }
  function onMain() {
    var main = byId('sMain');
    var dot = byId('netDot');
    return main && !main.classList.contains('hidden') && dot && dot.classList.contains('on');
  }

  var lastLine = null;
  var pending = false;
  function reportLastLine() {
    pending = false;
    var texts = byId('log').querySelectorAll('.m .text');
    var text = texts.length ? texts[texts.length - 1].textContent : '';
    if (text === lastLine) return;
    lastLine = text;
    report('line=' + text.replace(/:/g, ' '));
  }

  var timer = setInterval(function () {
    if (!onMain()) return;
    clearInterval(timer);
    byId('navGeneral').click();
    byId('msg').focus();
    lastLine = null;
    setTimeout(function () {
      report('ready@' + place(byId('log')) + '/' + place(byId('msg')));
      new MutationObserver(function () {
        if (!pending) { pending = true; setTimeout(reportLastLine, 250); }
      }).observe(byId('log'), { childList: true, subtree: true, characterData: true });
      reportLastLine();
    }, 500);
  }, 100);
})();
