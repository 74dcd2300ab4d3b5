#!/usr/bin/env node
'use strict';
// Benchmark of the chat client's page in Chromium against the real relay on loopback.
//   node bench/chat-page.bench.js [--messages N] [--burst N]
// Prints:
//   1. Send → line drawn in the other member's page, p50/p99 over N messages in General,
//      with 2 members, and with 20 (18 of them Node clients that sign in with real
//      certificates and acknowledge what they get);
//   2. a burst of envelopes to one member: vault writes and ack frames it caused, and the
//      time until the last line is drawn and the last envelope acknowledged;
//   3. Vault.saveNow and the page's JavaScript heap with 3 rooms of 3,000 messages each.
// The relay's send rate limit is lifted so the figures measure the client, not the limiter.
const path = require('path');
const { chromium } = require('playwright-core');
const H = require('../tests/browser/harness.js');
const { startRelay } = require('../tests/relay/helpers.js');
const { FrameSocket } = require('../tools/frames.js');
const P = require('../web/protocol.js');

const args = process.argv.slice(2);
const opt = (name, fallback) => { const i = args.indexOf(name); return i >= 0 ? Number(args[i + 1]) : fallback; };
const MESSAGES = opt('--messages', 200);
const BURST = opt('--burst', 1000);

const pct = (xs, p) => { const s = [...xs].sort((a, b) => a - b); return s[Math.min(s.length - 1, Math.floor((p / 100) * s.length))]; };
const ms = (x) => x.toFixed(1) + ' ms';

// Counts the frames each page sends, by type, before any page script runs.
const COUNT_FRAMES = `
  window.__sent = {};
  const realSend = WebSocket.prototype.send;
  WebSocket.prototype.send = function (text) {
    try { const t = JSON.parse(text).t; window.__sent[t] = (window.__sent[t] || 0) + 1; } catch (e) {}
    return realSend.call(this, text);
  };`;

// Records when each message text is first drawn in the log.
const WATCH_LOG = () => {
  window.__seen = {};
  new MutationObserver((records) => {
    const now = Date.now();
    for (const r of records) for (const n of r.addedNodes) {
      const t = n.querySelector && n.querySelector('.text');
      if (t && !(t.textContent in window.__seen)) window.__seen[t.textContent] = now;
    }
  }).observe(document.getElementById('log'), { childList: true });
};

async function nodeMember(owner, relay, name) {
  const keys = await P.generateKeys();
  const cert = await P.acceptInvite(await P.makeInvite(owner.cert, owner.keys, 24), keys, name);
  const id = await P.idOf(keys.sigPub);
  const s = await FrameSocket.open(relay.url);
  const hello = await s.next('hello', 15000);
  s.send({ t: 'auth', v: '1.1.8', cert, sig: await P.sign(keys.sigPriv, ['msw-auth', hello.nonce]), dir: [], removals: null, ann: [], spoken: [] });
  await s.next(['welcome'], 15000);
  const m = { id, keys, cert, s, box: P.createBox(id, keys.ecdhPriv), got: 0 };
  s.onFrame = (f) => {
    if (f.t === 'env') { m.got++; s.send({ t: 'ack', eids: [f.eid] }); }
    return false;
  };
  return m;
}

async function pageMember(browser, site, owner, name) {
  const context = await browser.newContext({ viewport: { width: 1100, height: 720 } });
  await context.addInitScript({ content: require('fs').readFileSync(path.join(__dirname, '../tests/browser/natives.js'), 'utf8') + `
    (function () {
      var store = { get: function (n) { return localStorage.getItem('msw:' + n); }, set: function (n, t) { localStorage.setItem('msw:' + n, t); }, del: function (n) { localStorage.removeItem('msw:' + n); } };
      window.__mswCalls = [];
      var natives = mswNativeDouble({ store: store, calls: window.__mswCalls });
      Object.keys(natives).forEach(function (n) { window[n] = natives[n]; });
    })();` + COUNT_FRAMES });
  const page = await context.newPage();
  await page.goto(site.url + 'index.html');
  await H.joinWith(page, await H.longInvite(owner), name, '2468');
  await page.waitForSelector('#netDot.dot.on', { timeout: 60000 });
  await page.click('#navGeneral');
  await page.evaluate(WATCH_LOG);
  const id = await page.evaluate(() => Vault.data.me);
  return { page, context, id, name };
}

async function latency(from, to, count, tag) {
  const out = [];
  for (let i = 0; i < count; i++) {
    const text = tag + ' ' + i;
    const t0 = await from.page.evaluate((t) => {
      document.getElementById('msg').value = t;
      const start = Date.now();
      document.getElementById('sendBtn').click();
      return start;
    }, text);
    await to.page.waitForFunction((t) => t in window.__seen, text, { timeout: 30000, polling: 'raf' });
    out.push((await to.page.evaluate((t) => window.__seen[t], text)) - t0);
  }
  return out;
}

async function main() {
  const owner = await H.makeOwner();
  const relay = await startRelay({ ownerKey: owner.keys.sigPub, env: { RELAY_SEND_RATE: '100000', RELAY_SEND_BURST: '100000', RELAY_FRAME_RATE: '100000', RELAY_FRAME_BURST: '100000' } });
  const site = await H.staticServer(H.pageFiles({ server: relay.url }));
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium', headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--enable-precise-memory-info', '--disable-background-timer-throttling', '--disable-renderer-backgrounding'],
  });
  const nodes = [];
  try {
    const a = await pageMember(browser, site, owner, 'ann');
    const b = await pageMember(browser, site, owner, 'bo');
    console.log('chat page benchmark: ' + MESSAGES + ' messages, burst of ' + BURST + ', real relay on loopback');

    const two = await latency(a, b, MESSAGES, 'two');
    console.log(`  Send -> drawn, General, 2 members:  p50 ${ms(pct(two, 50))}  p99 ${ms(pct(two, 99))}  max ${ms(Math.max(...two))}`);

    for (let i = 0; i < 18; i++) nodes.push(await nodeMember(owner, relay, 'node' + i));
    await a.page.waitForFunction((n) => document.querySelectorAll('#log .sys').length >= n, 18, { timeout: 60000 });
    const twenty = await latency(a, b, MESSAGES, 'twenty');
    const gotAll = nodes.every((n) => n.got >= MESSAGES);
    console.log(`  Send -> drawn, General, 20 members: p50 ${ms(pct(twenty, 50))}  p99 ${ms(pct(twenty, 99))}  max ${ms(Math.max(...twenty))}` +
      (gotAll ? '' : '  (some Node members missed messages)'));

    // The burst: a Node member seals each message for bo alone and sends them all at once.
    const flood = nodes[0];
    const bInfo = await P.verifyCert(await b.page.evaluate(() => Vault.data.cert), owner.keys.sigPub);
    await b.page.evaluate(() => { window.__sent = {}; window.__mswCalls.length = 0; });
    const frames = [];
    for (let i = 0; i < BURST; i++) {
      const sealed = await flood.box.seal({ k: 'msg', room: 'general', mid: 'burst' + i, text: 'burst ' + i, q: i.toString(16).padStart(16, '0'), at: Date.now() },
        [{ id: bInfo.id, ecdh: bInfo.ecdh }]);
      frames.push({ t: 'send', iv: sealed.iv, ct: sealed.ct, keys: sealed.keys });
    }
    const t0 = Date.now();
    for (const f of frames) flood.s.send(f);
    const last = 'burst ' + (BURST - 1);
    await b.page.waitForFunction((t) => t in window.__seen, last, { timeout: 120000, polling: 100 });
    const drawn = (await b.page.evaluate((t) => window.__seen[t], last)) - t0;
    await b.page.waitForFunction(() => (window.__sent.ack || 0) > 0 && window.__mswCalls.filter((c) => c.name === 'msw_write_vault').length > 0, null, { timeout: 60000 });
    // Acknowledged: the relay holds nothing more for bo once every id has been acked; the
    // page's ack batches end 300 ms after the last envelope.
    let acked = null;
    const deadline = Date.now() + 60000;
    while (Date.now() < deadline) {
      const st = await b.page.evaluate(() => ({ acks: window.__sent.ack || 0 }));
      await new Promise((r) => setTimeout(r, 50));
      const again = await b.page.evaluate(() => ({ acks: window.__sent.ack || 0 }));
      if (again.acks === st.acks && Date.now() - t0 > drawn + 400) { acked = Date.now() - t0 - 50; break; }
    }
    const counts = await b.page.evaluate(() => ({ acks: window.__sent.ack || 0, writes: window.__mswCalls.filter((c) => c.name === 'msw_write_vault').length }));
    console.log(`  Burst of ${BURST} envelopes to one member: last drawn after ${ms(drawn)}, acknowledged by ${acked === null ? '?' : ms(acked)};` +
      ` ${counts.writes} vault writes, ${counts.acks} ack frames`);

    // saveNow and the heap with 3 rooms × 3,000 messages.
    const mem = await b.page.evaluate(async () => {
      const d = Vault.data;
      const heap0 = performance.memory.usedJSHeapSize;
      const me = d.me;
      for (const [rid, room] of [['general', null], ['g:' + 'a'.repeat(32), 'One'], ['g:' + 'b'.repeat(32), 'Two']]) {
        if (room) d.rooms[rid] = { id: rid, kind: 'group', name: room, members: [me], rv: 1 };
        d.msgs[rid] = [];
        for (let i = 0; i < 3000; i++) {
          d.msgs[rid].push({ mid: (rid + i).padEnd(24, '0').slice(0, 24), from: me, text: 'A typical chat line of about eighty characters, number ' + i + ' in ' + rid, at: Date.now() - i });
        }
      }
      const times = [];
      for (let i = 0; i < 5; i++) { const s = performance.now(); await Vault.saveNow(); times.push(performance.now() - s); }
      times.sort((x, y) => x - y);
      const size = (localStorage.getItem('msw:vault.json') || '').length;
      return { save: times[2], heap0, heap1: performance.memory.usedJSHeapSize, size };
    });
    console.log(`  Vault.saveNow with 3 rooms x 3000 messages: median ${ms(mem.save)} (vault file ${(mem.size / 1048576).toFixed(2)} MiB);` +
      ` JS heap ${(mem.heap1 / 1048576).toFixed(1)} MiB (${((mem.heap1 - mem.heap0) / 1048576).toFixed(1)} MiB for the messages)`);
  } finally {
    for (const n of nodes) n.s.ws.terminate();
    await browser.close();
    await site.close();
    await relay.stop();
  }
}

main().catch((e) => { console.error(e); process.exit(1); });
