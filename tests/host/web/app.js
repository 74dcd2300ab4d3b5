// Host test page: checks the script bridge from the page's side and reports everything
// it sees in the window title ("T|" followed by entries joined by "|"), which the window
// test reads from the X server.
(function () {
  'use strict';
  HostTestOrder.push('app');
  var log = ['load:' + Date.now()];  // tells one page load from the next
  function report() { window.msw_title('T|' + log.join('|')); }
  window.MswFocus = function (v) { log.push('focus:' + v); report(); };
  window.MswAway = function () { log.push('away'); report(); };
  window.MswPanic = function () { log.push('panic'); report(); };
  // The quit marks when it is asked and when it is done; in the "quit-hung" mode it is
  // never done, and the host must end the program anyway.
  window.MswQuit = function () {
    window.msw_mark('quit');
    return window.msw_test_mode().then(function (mode) {
      if (mode === 'quit-hung') return new Promise(function () {});
      return pause(800).then(function () { return window.msw_mark('stored'); });
    });
  };

  function same(a, b) { return JSON.stringify(a) === JSON.stringify(b) && typeof a === typeof b; }

  async function bridgeChecks() {
    var fails = [];
    function check(name, got, want) { if (!same(got, want)) fails.push(name + '=' + JSON.stringify(got)); }
    check('order', HostTestOrder, ['config', 'protocol', 'vault', 'gifs', 'app']);
    check('href', /^http:\/\/127\.0\.0\.1:\d+\/[0-9a-f]{32}\/index\.html$/.test(location.href), true);
    check('echo', await window.msw_echo('x', 2, true, null, { a: [1, '"]'] }), ['x', 2, true, null, { a: [1, '"]'] }]);
    check('noargs', await window.msw_echo(), []);
    check('true', await window.msw_result('true'), true);
    check('hi', await window.msw_result('"hi"'), 'hi');
    check('undefined', await window.msw_result(''), undefined);
    var odd = 'a\nb"c\\d\u0001e\u00e9\u2028f\ud83d\ude00';
    check('quoted', await window.msw_result(JSON.stringify(odd)), odd);
    var big = 'x'.repeat(300000);
    check('big', (await window.msw_echo(big))[0] === big, true);
    try { await window.msw_reject(); fails.push('reject-resolved'); } catch (e) { check('reject', e, null); }
    try { await window.msw_result('{bad'); fails.push('badjson-resolved'); }
    catch (e) { check('badjson', e.message, 'Failed to parse binding result as JSON'); }
    check('worker', await window.msw_worker('from worker'), 'from worker');
    check('utf8', await window.msw_bad_utf8(), 'a\ufffdb');
    var many = [];
    for (var i = 0; i < 50; i++) many.push(window.msw_result(String(i)));
    check('many', (await Promise.all(many)).reduce(function (s, v) { return s + v; }, 0), 1225);
    var names = ['msw_mark', 'msw_title', 'msw_echo', 'msw_result', 'msw_reject', 'msw_worker', 'msw_bad_utf8',
      'msw_set_panic', 'msw_tray'];
    check('bound', names.filter(function (n) { return typeof window[n] === 'function'; }).length, names.length);
    // A settled call's entry is gone: a second reply for its id finds nothing.
    var lastId = null, post = window.__webview__.post;
    window.__webview__.post = function (m) { lastId = JSON.parse(m).id; return post.call(this, m); };
    check('settled', await window.msw_result('5'), 5);
    window.__webview__.post = post;
    check('id', /^[0-9a-f]{32}$/.test(lastId), true);
    try { window.__webview__.onReply(lastId, 0, '6'); fails.push('kept-entry'); } catch (e) { /* expected */ }
    // A name that is not bound never settles.
    var unbound = window.__webview__.call('msw_not_bound', 1);
    check('unbound', await Promise.race([unbound.then(function () { return 'settled'; }, function () { return 'settled'; }),
      new Promise(function (r) { setTimeout(function () { r('pending'); }, 300); })]), 'pending');
    try { window.__webview__.onBind('msw_echo'); fails.push('rebind'); }
    catch (e) { check('rebind', e.message, 'Property "msw_echo" already exists'); }
    return fails;
  }

  async function keyChecks() {
    // The test holds F10 itself before the program starts.
    log.push('taken:' + await window.msw_set_panic('F10'));
    log.push('f8:' + await window.msw_set_panic('F8'));
    log.push('refused:' + await window.msw_set_panic('Keyb'));
    log.push('f9:' + await window.msw_set_panic('F9'));
  }

  function pause(ms) { return new Promise(function (r) { setTimeout(r, ms); }); }

  // Every way this page could leave its address, open a window or save a file; none may
  // work. Then a link covering the whole window waits for the test to click it, the one
  // thing that may go out (to the desktop's browser).
  async function safetyAttempts() {
    var link = document.createElement('a');
    link.href = 'http://example.invalid/clicked-link';
    link.textContent = 'link';
    ['position:fixed', 'left:0', 'top:0', 'width:100%', 'height:100%', 'display:block'].forEach(function (rule) {
      var kv = rule.split(':');
      link.style.setProperty(kv[0], kv[1]);
    });
    link.addEventListener('click', function (e) { log.push('clicked:' + e.isTrusted); report(); });
    document.body.appendChild(link);
    function scriptedClick(href, download) {
      var a = document.createElement('a');
      a.href = href;
      if (download) a.download = download;
      document.body.appendChild(a);
      a.click();
      a.remove();
    }
    location.href = 'http://example.invalid/script-navigation';
    await pause(300);
    location.href = 'data:text/html,<title>elsewhere</title>';
    await pause(300);
    location.href = 'file:///etc/hostname';
    await pause(300);
    window.open('http://example.invalid/script-window');
    window.open('https://example.invalid/script-window', '_blank');
    scriptedClick('https://example.invalid/scripted-click');
    scriptedClick(URL.createObjectURL(new Blob(['not to be saved'], { type: 'application/octet-stream' })), 'saved.bin');
    scriptedClick('data:application/octet-stream,not%20to%20be%20saved', 'saved-data.bin');
    await pause(1000);
    log.push('attempts-done');
    report();
  }

  async function main() {
    var mode = await window.msw_test_mode();
    if (mode === 'safety') return safetyAttempts();
    if (mode.indexOf('quit') === 0) {
      log.push('ready');
      return report();
    }
    var fails = await bridgeChecks();
    log.push(fails.length ? 'FAIL:' + fails.join(',') : 'bridge-ok');
    log.push('tray:' + await window.msw_tray());
    await keyChecks();
    log.push('ready');
    report();
  }
  main().catch(function (e) { log.push('ERROR:' + e); report(); });
})();
