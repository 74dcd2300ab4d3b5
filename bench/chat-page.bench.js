#!/usr/bin/env node
'use strict';
// Benchmark of the chat client's page in Chromium against the real relay on loopback.
//   node bench/chat-page.bench.js [--messages N] [--burst N]
// Prints:
//   1. Send → line drawn in the other member's page, p50/p99 over N messages in General,
//      with 2 members, and with 20 (18 of them Node clients that sign in with real
//      certificates and acknowledge what they get);
//   2. a burst of envelopes to one member: the time until the last line is drawn and the
//      last envelope acknowledged, the vault writes and ack frames it caused, and the longest
//      main-thread task and largest gap between animation frames while it arrived
//      (bench/chat-burst.bench.js runs it in the real window too);
//   3. Vault.saveNow and the page's JavaScript heap with 3 rooms of 3,000 messages each.
// The relay's send rate limit is lifted so the figures measure the client, not the limiter.
const os = require('os');
const H = require('../tests/browser/harness.js');
const { chatSetUp, nodeMember, chromiumMember, burst, burstText } = require('./chat-burst.js');

const args = process.argv.slice(2);
const opt = (name, fallback) => { const i = args.indexOf(name); return i >= 0 ? Number(args[i + 1]) : fallback; };
const MESSAGES = opt('--messages', 200);
const BURST = opt('--burst', 1000);

const pct = (xs, p) => { const s = [...xs].sort((a, b) => a - b); return s[Math.min(s.length - 1, Math.floor((p / 100) * s.length))]; };
const ms = (x) => x.toFixed(1) + ' ms';
const load = () => os.loadavg().map((x) => x.toFixed(2)).join(' ');

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

async function pageMember(browser, site, owner, relay, name) {
  const m = await chromiumMember(browser, site, owner, relay, name);
  await m.page.evaluate(WATCH_LOG);
  return m;
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
  const { relay, site, browser, close } = await chatSetUp(owner, ['--enable-precise-memory-info']);
  const nodes = [];
  try {
    const a = await pageMember(browser, site, owner, relay, 'ann');
    const b = await pageMember(browser, site, owner, relay, 'bo');
    console.log('chat page benchmark: ' + MESSAGES + ' messages, burst of ' + BURST + ', real relay on loopback; load average ' + load());

    const two = await latency(a, b, MESSAGES, 'two');
    console.log(`  Send -> drawn, General, 2 members:  p50 ${ms(pct(two, 50))}  p99 ${ms(pct(two, 99))}  max ${ms(Math.max(...two))}`);

    for (let i = 0; i < 18; i++) nodes.push(await nodeMember(owner, relay, 'node' + i));
    await a.page.waitForFunction((n) => document.querySelectorAll('#log .sys').length >= n, 18, { timeout: 60000 });
    const twenty = await latency(a, b, MESSAGES, 'twenty');
    const gotAll = nodes.every((n) => n.got >= MESSAGES);
    console.log(`  Send -> drawn, General, 20 members: p50 ${ms(pct(twenty, 50))}  p99 ${ms(pct(twenty, 99))}  max ${ms(Math.max(...twenty))}` +
      (gotAll ? '' : '  (some Node members missed messages)'));

    // The burst: a Node member seals each message for bo alone and sends them all at once.
    const r = await burst(b, nodes[0], owner.keys.sigPub, BURST, 1);
    console.log(`  Burst of ${BURST} envelopes to one member: ${burstText(r)}; load average ${load()}`);

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
      ` JS heap ${(mem.heap1 / 1048576).toFixed(1)} MiB (${((mem.heap1 - mem.heap0) / 1048576).toFixed(1)} MiB for the messages); load average ${load()}`);
  } finally {
    for (const n of nodes) n.s.ws.terminate();
    await close();
  }
}

main().catch((e) => { console.error(e); process.exit(1); });
