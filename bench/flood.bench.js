#!/usr/bin/env node
'use strict';
// Floods from one hostile member against the chat page in Chromium on the real relay. A
// member with a valid certificate, driven by a script that seals with web/protocol.js,
// sends as fast as the relay takes it:
//   1. 10,000 friend requests as a stranger,
//   2. 10,000 friend requests as a friend,
//   3. 1,000 groups of 200 members, as a friend,
// each followed by one General message as a mark. For each it prints the time until the
// page had handled them all (from the first sent, and after the last), the longest main-
// thread task meanwhile (PerformanceObserver 'longtask') and how many passed 50 ms, the
// longest wait of a key press inside the page (and, as this process saw them, of a page
// round trip and a key press), the notifications raised, what the page sent in
// answer, its outbox and its vault; then the time General messages take to show afterwards.
//   node bench/flood.bench.js [--requests N] [--groups N] [--trace]
// With --trace, Chromium traces each flood, and every task over 50 ms is printed with the
// CPU time its thread had and how much of it the engine's garbage collector took: a task
// that waited for a core, or collected garbage, is not the page's own work.
// The relay's send and queue limits are lifted so that the flood arrives as fast as the
// page can take it: the figures are the page's.
const os = require('os');
const { chromium } = require('playwright-core');
const H = require('../tests/browser/harness.js');
const { startRelay } = require('../tests/relay/helpers.js');
const { scripted, addressOf } = require('../tests/browser/scripted.js');
const { arg, median } = require('./figures.js');

const REQUESTS = arg('requests', 10000);
const GROUPS = arg('groups', 1000);
const CATCH_UP_MOST = 300000;
const TRACE = process.argv.includes('--trace');

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const s1 = (ms) => (ms / 1000).toFixed(1) + ' s';
const hex = (i, n) => i.toString(16).padStart(n, '0');

// Before the page's scripts: long tasks, and the frames the page sends, by type.
const WATCH = `
  window.__tasks = [];
  try {
    new PerformanceObserver(function (l) {
      l.getEntries().forEach(function (e) { window.__tasks.push([e.startTime, e.duration]); });
    }).observe({ type: 'longtask', buffered: true });
  } catch (e) {}
  // How long a key press waited for the page: from the moment the browser took it to the
  // moment the page's first handler ran, whatever the benchmark's own process was doing.
  window.__keyWait = [];
  window.addEventListener('keydown', function (e) {
    window.__keyWait.push([performance.now(), performance.now() - e.timeStamp]);
  }, true);
  window.__sent = {};
  var realSend = WebSocket.prototype.send;
  WebSocket.prototype.send = function (text) {
    try { var t = JSON.parse(text).t; window.__sent[t] = (window.__sent[t] || 0) + 1; } catch (e) {}
    return realSend.call(this, text);
  };`;

async function victim(browser, site, owner) {
  const { page } = await H.openPage(browser, site.url + 'index.html', { init: WATCH });
  await H.joinWith(page, await H.longInvite(owner), 'vic', '2468');
  await page.waitForSelector('#netDot.dot.on', { timeout: 60000 });
  await page.click('#navGeneral');
  // Away from the window, as a person whose desktop is being flooded would be.
  await page.evaluate(() => window.MswFocus(false));
  return page;
}

// What the page has done so far, to compare before and after a flood.
const tally = (page) => page.evaluate(() => ({
  now: performance.now(),
  notes: window.__mswCalls.filter((c) => c.name === 'msw_notify').length,
  sends: window.__sent.send || 0,
}));

async function flood(page, vicAt, from, frames, label) {
  const mark = 'mark-' + label.replace(/\W+/g, '-');
  frames.push(await from.seal({ k: 'msg', room: 'general', mid: mark, text: mark, q: hex(1, 16), at: Date.now() }, [vicAt]));
  const before = await tally(page);
  const browser = page.context().browser();
  if (TRACE) await browser.startTracing(page, { categories: ['toplevel', 'disabled-by-default-v8.gc'] });
  // A script round trip, and a key press answered (the key does nothing: Shift alone).
  let round = 0;
  let key = 0;
  let probing = true;
  const probe = (async () => {
    while (probing) {
      let t = Date.now();
      await page.evaluate(() => 0);
      round = Math.max(round, Date.now() - t);
      t = Date.now();
      await page.keyboard.press('Shift');
      key = Math.max(key, Date.now() - t);
      await sleep(50);
    }
  })();
  const t0 = Date.now();
  // In slices, so that this process keeps answering the probe while it sends.
  for (let i = 0; i < frames.length; i++) {
    from.s.send(frames[i]);
    if (i % 200 === 199) await new Promise((r) => setImmediate(r));
  }
  while (from.s.ws.bufferedAmount > 0) await sleep(5);
  const sentAll = Date.now();
  const caught = await page.waitForFunction((m) => (Vault.data.msgs.general || []).some((x) => x.mid === m), mark, { timeout: CATCH_UP_MOST, polling: 200 })
    .then(() => true, () => false);
  const done = Date.now();
  probing = false;
  await probe;
  if (!caught) {
    console.log(`  ${label}: not handled within ${s1(CATCH_UP_MOST)}`);
    return;
  }
  await sleep(6000); // the batches that end a burst (acknowledgements, receipts, saves), and held notifications
  const after = await page.evaluate(async (since) => {
    await Vault.saveNow();
    const tasks = window.__tasks.filter((x) => x[0] >= since);
    const d = Vault.data;
    return {
      keyWaits: window.__keyWait.filter((x) => x[0] >= since).map((x) => x[1]),
      longest: tasks.reduce((m, x) => Math.max(m, x[1]), 0),
      over50: tasks.length,
      outbox: Object.keys(d.outbox).length,
      friendEntries: Object.values(d.outbox).filter((e) => e.payload.k === 'friend').length,
      groups: Object.keys(d.rooms).filter((id) => id.startsWith('g:')).length,
      vault: (localStorage.getItem('msw:vault.json') || '').length,
    };
  }, before.now);
  const now = await tally(page);
  const causes = TRACE ? longTaskCauses(await browser.stopTracing()) : null;
  console.log(`  ${label}: handled after ${s1(done - t0)} (${s1(done - sentAll)} after the last was sent); longest task ${after.longest.toFixed(0)} ms,` +
    ` ${after.over50} over 50 ms`);
  const waits = after.keyWaits.length ? after.keyWaits : [0];
  console.log(`    key press waited in the page: median ${median(waits).toFixed(0)} ms, most ${Math.max(...waits).toFixed(0)} ms (${after.keyWaits.length} presses);` +
    ` seen from this process, which sends the flood too: round trip up to ${round} ms, key press up to ${key} ms`);
  console.log(`    ${now.notes - before.notes} notifications, ${now.sends - before.sends} sends by the page; outbox ${after.outbox}` +
    ` (${after.friendEntries} friend controls), ${after.groups} groups, vault ${(after.vault / 1048576).toFixed(2)} MiB`);
  if (causes) console.log(`    tasks over 50 ms in the trace: ${causes.length ? causes.join('; ') : 'none'}`);
}

// Each task over 50 ms on a page's main thread in a Chromium trace: its length, the CPU
// time the thread had meanwhile, and the garbage collector's share.
function longTaskCauses(buffer) {
  const events = JSON.parse(buffer.toString()).traceEvents;
  const mains = new Set(events.filter((e) => e.ph === 'M' && e.name === 'thread_name' && e.args.name === 'CrRendererMain').map((e) => e.pid + ':' + e.tid));
  const onMain = events.filter((e) => e.ph === 'X' && mains.has(e.pid + ':' + e.tid));
  const gcs = onMain.filter((e) => e.name === 'V8.GC_MARK_COMPACTOR' || e.name === 'V8.GC_SCAVENGER');
  return onMain.filter((e) => e.name === 'ThreadControllerImpl::RunTask' && e.dur > 50000).map((t) => {
    const within = (e) => e.pid === t.pid && e.tid === t.tid && e.ts >= t.ts && e.ts < t.ts + t.dur;
    const gc = gcs.filter(within).reduce((sum, e) => sum + e.dur, 0);
    return `${(t.dur / 1000).toFixed(0)} ms (CPU ${((t.tdur || 0) / 1000).toFixed(0)} ms, garbage collection ${(gc / 1000).toFixed(0)} ms)`;
  });
}

// Send → line drawn, for General messages from `from`.
async function generalLatency(page, vicAt, from, n) {
  const out = [];
  for (let i = 0; i < n; i++) {
    const mid = 'after' + i;
    const f = await from.seal({ k: 'msg', room: 'general', mid, text: 'after the flood ' + i, q: hex(100 + i, 16), at: Date.now() }, [vicAt]);
    const t0 = Date.now();
    from.s.send(f);
    await page.waitForFunction((m) => !!document.querySelector('#log .m[data-mid="' + m + '"]'), mid, { timeout: 30000, polling: 'raf' });
    out.push(Date.now() - t0);
  }
  return out;
}

async function main() {
  const owner = await H.makeOwner();
  const relay = await startRelay({
    ownerKey: owner.keys.sigPub,
    env: { RELAY_SEND_RATE: '1000000', RELAY_SEND_BURST: '1000000', RELAY_FRAME_RATE: '1000000', RELAY_FRAME_BURST: '1000000', RELAY_MAX_QUEUE: '100000' },
  });
  const site = await H.staticServer(H.pageFiles({ server: relay.url }));
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium', headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-timer-throttling', '--disable-renderer-backgrounding'],
  });
  const members = [];
  try {
    const page = await victim(browser, site, owner);
    const stranger = await scripted(relay.url, owner, 'stranger');
    const friend = await scripted(relay.url, owner, 'friend');
    members.push(stranger, friend);
    await page.waitForFunction((ids) => ids.every((id) => !!Vault.data.dir[id]), [stranger.id, friend.id], { timeout: 30000 });
    await page.evaluate((id) => { Vault.data.friends[id] = 'friend'; Vault.save(); }, friend.id);
    const vicAt = await addressOf(page, owner.keys.sigPub);
    // The observer must see a task that is long, or its silence would mean nothing.
    const seen = await page.evaluate(async () => {
      const t = performance.now();
      setTimeout(() => { while (performance.now() - t < 80) { /* a deliberate long task */ } }, 0);
      await new Promise((r) => setTimeout(r, 300));
      return window.__tasks.some((x) => x[0] >= t && x[1] >= 50);
    });
    if (!seen) throw new Error("Chromium's long-task observer does not report here; the figures would mean nothing");
    const load = () => os.loadavg().map((x) => x.toFixed(2)).join(' ');
    console.log(`flood benchmark: ${REQUESTS} friend requests, ${GROUPS} groups of 200; real relay on loopback; load average ${load()}`);

    const requests = async (from) => {
      const frames = [];
      for (let i = 0; i < REQUESTS; i++) frames.push(await from.seal({ k: 'friend', op: 'request', q: hex(0x10000 + i, 16), at: Date.now() }, [vicAt]));
      return frames;
    };
    await flood(page, vicAt, stranger, await requests(stranger), `${REQUESTS} requests from a stranger`);
    await flood(page, vicAt, friend, await requests(friend), `${REQUESTS} requests from a friend`);
    const others = Array.from({ length: 198 }, (_, i) => hex(i + 1, 32));
    const groups = [];
    for (let g = 0; g < GROUPS; g++) {
      const room = { id: 'g:' + hex(g + 1, 32), name: 'Group ' + g, members: [friend.id, vicAt.id].concat(others), rv: Date.now() };
      groups.push(await friend.seal({ k: 'room', room, q: hex(0x100000 + g, 16), at: Date.now() }, [vicAt]));
    }
    await flood(page, vicAt, friend, groups, `${GROUPS} groups of 200 from a friend`);

    const after = await generalLatency(page, vicAt, friend, 20);
    console.log(`  afterwards, General message sent -> drawn: median ${median(after).toFixed(0)} ms, max ${Math.max(...after)} ms (20 messages)`);
    console.log(`  load average ${load()}`);
  } finally {
    for (const m of members) m.close();
    await browser.close();
    await site.close();
    await relay.stop();
  }
}

main().catch((e) => { console.error(e); process.exit(1); });
