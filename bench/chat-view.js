'use strict';
// The in-page part of the chat view benchmark, engine-neutral so Chromium (playwright-core)
// and the real WebKitGTK window (WebDriver) run the same code. Sent to the page as text.

// A vault of a real member (fresh keys and certificate) whose General holds `per` messages
// from `per`/3 of its own and the rest from one other member, and two groups as full, with
// varied words to search for. Not timed.
async function viewBenchSetup(pin, per) {
  const P = MswProto;
  const ownerKeys = await P.generateKeys();
  const ownerCert = await P.ownerCert(ownerKeys, 'boss');
  const keys = await P.generateKeys();
  const cert = await P.acceptInvite(await P.makeInvite(ownerCert, ownerKeys, 1), keys, 'ann');
  const me = await P.idOf(keys.sigPub);
  const other = 'b'.repeat(32);
  const now = Date.now();
  const WORDS = ['café', 'meeting', 'Zürich', 'release', 'lunch', 'draft', 'élan', 'ticket', 'garden', 'rocket'];
  const fill = (tag) => {
    const list = [];
    for (let i = 0; i < per; i++) {
      const m = { mid: tag + i, from: i % 3 ? other : me, text: 'message number ' + i + ' about the ' + WORDS[i % WORDS.length] + (i % 7 ? '' : ' for @ann and @bo') + ' with a little more text to wrap', at: now - (per - i) * 30000 };
      if (i % 50 === 0) m.re = { mid: tag + (i - 1), from: other, text: 'quoted text' };
      list.push(m);
    }
    return list;
  };
  const list = fill('b');
  const d = {
    v: 1, server: 'ws://127.0.0.1:9', owner: ownerKeys.sigPub, me, keys, cert, dir: {}, names: { [other]: 'bo' }, removals: null,
    rooms: { general: { id: 'general', kind: 'general', name: 'General' }, announcements: { id: 'announcements', kind: 'ann', name: 'Announcements' } },
    msgs: { general: list, ['g:' + 'c'.repeat(32)]: fill('c'), ['g:' + 'd'.repeat(32)]: fill('d') }, unread: {}, pings: {}, friends: {}, blocked: {}, wanted: {}, outbox: {}, ann: {}, spoken: {},
    settings: { panicCode: 'F9', panicGlobal: false, notify: false, previews: true, wipeSet: false, startup: false },
  };
  d.dir[me] = cert;
  for (const g of ['c', 'd']) d.rooms['g:' + g.repeat(32)] = { id: 'g:' + g.repeat(32), kind: 'group', name: 'Group ' + g, members: [me, other], rv: now };
  await Vault.load();
  await Vault.create(pin, d);
  await Vault.lock();
  return true;
}

// On the main screen: times opening General from the friends page (to its first lines in
// and laid out), and Enter in the composer until the new line is in and laid out. Answers
// milliseconds.
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
  const first = log.querySelectorAll('.m').length;
  const box = document.getElementById('msg');
  for (let i = 0; i < runs + 2; i++) {
    box.value = 'appended line ' + i;
    const t0 = performance.now();
    box.dispatchEvent(new KeyboardEvent('keydown', { key: 'Enter', bubbles: true, cancelable: true }));
    void log.scrollHeight;
    if (i >= 2) appends.push(performance.now() - t0);
  }
  return { opens, appends, first };
}

// Opens General afresh and waits, frame by frame, until all of its SHOWN lines are drawn
// (a room draws its newest lines at once and the rest above them over the next frames).
// Answers the time until then and the longest time between two frames meanwhile.
function viewBenchRest(shown) {
  const log = document.getElementById('log');
  document.getElementById('navFriends').click();
  const t0 = performance.now();
  document.getElementById('navGeneral').click();
  return new Promise((resolve) => {
    let last = t0;
    let gap = 0;
    const step = (now) => {
      gap = Math.max(gap, now - last);
      last = now;
      if (log.querySelectorAll('.m').length >= shown || now - t0 > 10000) {
        resolve({ all: performance.now() - t0, gap, drawn: log.querySelectorAll('.m').length });
      } else {
        requestAnimationFrame(step);
      }
    };
    requestAnimationFrame(step);
  });
}

// Ctrl+F, then `query` typed one key at a time: for each keystroke the time until its
// results are in and laid out. Closes the search after.
function viewBenchSearch(query) {
  document.dispatchEvent(new KeyboardEvent('keydown', { key: 'f', ctrlKey: true, bubbles: true, cancelable: true }));
  const input = document.querySelector('#modalCard[data-kind="search"] input');
  const list = document.getElementById('pickList');
  const keys = [];
  let results = 0;
  for (let i = 1; i <= query.length; i++) {
    input.value = query.slice(0, i);
    const t0 = performance.now();
    input.dispatchEvent(new Event('input', { bubbles: true }));
    void list.offsetHeight;
    keys.push(performance.now() - t0);
    results = list.children.length;
  }
  document.querySelector('#modalCard .row.end button').click();
  return { keys, results };
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

module.exports = { viewBenchSetup, viewBenchMeasure, viewBenchRest, viewBenchSearch, viewBenchGifs };
