// Run in the page by bench/page_driver_module.cpp once it has loaded: takes the page from
// the welcome screen through the first run (invite code, username, PIN), or from the unlock
// screen through the unlock, to the main screen, as a person would with the same entries,
// and reports each arrival through the document's title. The invite code is set by the
// benchmark before this text as window.__mswBenchInvite, and the username may be, as
// window.__mswBenchName (members of one network need names of their own).
(function () {
  'use strict';
  if (window.__mswBenchDriven) return;
  window.__mswBenchDriven = true;
  var PIN = '482916';
  var NAME = window.__mswBenchName || 'bench.user';
  var reports = 0;
  var stage = '';

  function report(name) { document.title = 'bench:' + name + ':' + (++reports); }
  function byId(id) { return document.getElementById(id); }
  function visible(id) { var e = byId(id); return !!e && !e.classList.contains('hidden'); }
  function screen() {
    var shown = Array.prototype.filter.call(document.querySelectorAll('#app > section'), function (s) {
      return !s.classList.contains('hidden');
    });
    return shown.length === 1 ? shown[0].id : '';
  }
  function type(id, text) {
    var e = byId(id);
    e.value = text;
    e.dispatchEvent(new Event('input', { bubbles: true }));
  }

  var timer = setInterval(function () {
    var s = screen();
    if (s === 'sWelcome' && stage === '') {
      stage = 'code';
      type('joinCode', window.__mswBenchInvite || '');
    } else if (s === 'sWelcome' && stage === 'code' && visible('joinRow')) {
      stage = 'name';
      type('joinName', NAME);
      byId('joinNext').click();
    } else if (s === 'sSetPin' && stage === 'name') {
      stage = 'pin';
      type('newPin', PIN);
      type('newPin2', PIN);
      byId('setPinGo').click();
    } else if (s === 'sUnlock' && stage === '') {
      stage = 'unlock';
      type('unlockPin', PIN);
      byId('unlockGo').click();
    } else if (s === 'sMain' && (stage === 'pin' || stage === 'unlock')) {
      clearInterval(timer);
      report(stage === 'pin' ? 'first-run' : 'unlocked');
    } else if (s === 'sGone') {
      clearInterval(timer);
      report('gone');
    }
  }, 100);
})();
