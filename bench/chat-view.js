'use strict';
// The in-page part of the chat view benchmark, engine-neutral so Chromium (playwright-core)
// and the real WebKitGTK window (WebDriver) run the same code. Sent to the page as text.

// A vault of a real member (fresh keys and certificate) whose General holds `per` messages
// from `per`/3 of its own and the rest from one other member. Not timed.
async function viewBenchSetup(pin, per) {
  const P = MswProto;
  const ownerKeys = await P.generateKeys();
  const ownerCert = await P.ownerCert(ownerKeys, 'boss');
  const keys = await P.generateKeys();
  const cert = await P.acceptInvite(await P.makeInvite(ownerCert, ownerKeys, 1), keys, 'ann');
  const me = await P.idOf(keys.sigPub);
  const other = 'b'.repeat(32);
  const now = Date.now();
  const list = [];
  for (let i = 0; i < per; i++) {
    const m = { mid: 'b' + i, from: i % 3 ? other : me, text: 'message number ' + i + (i % 7 ? '' : ' for @ann and @bo') + ' with a little more text to wrap', at: now - (per - i) * 30000 };
    if (i % 50 === 0) m.re = { mid: 'b' + (i - 1), from: other, text: 'quoted text' };
    list.push(m);
  }
  const d = {
    v: 1, server: 'ws://127.0.0.1:9', owner: ownerKeys.sigPub, me, keys, cert, dir: {}, names: { [other]: 'bo' }, removals: null,
    rooms: { general: { id: 'general', kind: 'general', name: 'General' }, announcements: { id: 'announcements', kind: 'ann', name: 'Announcements' } },
    msgs: { general: list }, unread: {}, pings: {}, friends: {}, blocked: {}, wanted: {}, outbox: {}, ann: {}, spoken: {},
    settings: { panicCode: 'F9', panicGlobal: false, notify: false, previews: true, wipeSet: false, startup: false },
  };
  d.dir[me] = cert;
  await Vault.load();
  await Vault.create(pin, d);
  await Vault.lock();
  return true;
}

// On the main screen: times opening General from the friends page, and Enter in the
// composer until the new line is in and laid out. Answers milliseconds.
function viewBenchMeasure(runs) {
  const opens = [];
  const appends = [];
  const log = document.getElementById('log');
  for (let i = 0; i < runs + 2; i++) {
    document.getElementById('navFriends').click();
    const t0 = performance.now();
    document.getElementById('navGeneral').click();
    void log.scrollHeight;
    if (i >= 2) opens.push(performance.now() - t0);
  }
  const box = document.getElementById('msg');
  for (let i = 0; i < runs + 2; i++) {
    box.value = 'appended line ' + i;
    const t0 = performance.now();
    box.dispatchEvent(new KeyboardEvent('keydown', { key: 'Enter', bubbles: true, cancelable: true }));
    void log.scrollHeight;
    if (i >= 2) appends.push(performance.now() - t0);
  }
  return { opens, appends, drawn: log.querySelectorAll('.m').length };
}

// Opens the GIF picker and counts GIF frame rewrites per second over `secs` seconds.
function viewBenchGifs(secs) {
  document.getElementById('gifBtn').click();
  return new Promise((resolve) => {
    let n = 0;
    const obs = new MutationObserver((records) => {
      records.forEach((r) => {
        const t = r.target.nodeName === 'PRE' ? r.target : r.target.parentNode;
        if (t && t.nodeName === 'PRE') n++;
      });
    });
    obs.observe(document.body, { subtree: true, childList: true, characterData: true });
    setTimeout(() => {
      obs.disconnect();
      resolve({ rate: n / secs, shown: document.querySelectorAll('pre.gif').length });
    }, secs * 1000);
  });
}

module.exports = { viewBenchSetup, viewBenchMeasure, viewBenchGifs };
