#!/usr/bin/env node
'use strict';
// Benchmark: a burst of envelopes to one member, in Chromium and in the real window, in one
// run against the real relay on loopback.
//   node bench/chat-burst.bench.js [--burst N] [--rounds R] [--stall MS]
// A Node member seals N messages (default 1,000) for one member alone with web/protocol.js
// and sends them all at once, to a member in Chromium (the page with the native test
// double) and to a member in the real window (build/mosswire under Xvfb through
// WebDriver, see tests/browser/realhost.js), taking turns for R rounds (default 3), each
// time to a member that has just joined. For each burst it prints the time until
// the last line is drawn and until the last envelope is acknowledged, the vault writes and
// ack frames, and while the burst arrives the longest main-thread task (Chromium reports
// long tasks; WebKit does not) and the largest gap between animation frames, with the
// load average. The relay's rate limits are lifted so the figures measure the client.
// --stall MS holds each page's main thread for MS once, 200 ms into each burst, to check
// that the figures see such a task.
const os = require('os');
const H = require('../tests/browser/harness.js');
const { unavailable } = require('../tests/browser/realhost.js');
const { arg, stats: statsOf } = require('./figures.js');
const { chatSetUp, nodeMember, chromiumMember, windowMember, burst, burstText } = require('./chat-burst.js');

const BURST = arg('burst', 1000);
const ROUNDS = arg('rounds', 3);
const STALL = arg('stall', 0);
const stats = (xs) => (xs.length ? statsOf(xs) : 'none in time');
const load = () => os.loadavg().map((x) => x.toFixed(2)).join(' ');

async function main() {
  const owner = await H.makeOwner();
  const { relay, site, browser, close } = await chatSetUp(owner);
  const why = unavailable();
  let flood = null;
  let member = null;
  try {
    flood = await nodeMember(owner, relay, 'flood');
    if (why) console.log('  (the real window is left out: ' + why + ')');
    console.log(`burst benchmark: ${BURST} envelopes to one member, ${ROUNDS} rounds, real relay on loopback${STALL ? `, a ${STALL} ms stall added to each burst` : ''}; load average ${load()}`);
    // Each burst goes to a member that has just joined, so that every round starts alike.
    const engines = [
      { engine: 'Chromium', join: (n) => chromiumMember(browser, site, owner, relay, 'chromium' + n), leave: (m) => m.context.close() },
    ];
    if (!why) engines.push({ engine: 'real window', join: (n) => windowMember(owner, relay, 'window' + n), leave: (m) => m.stop() });
    const results = new Map(engines.map((e) => [e, []]));
    let tag = 0;
    for (let round = 0; round < ROUNDS; round++) {
      for (const e of round % 2 ? engines.slice().reverse() : engines) {
        member = Object.assign(await e.join(++tag), { stall: STALL });
        const r = await burst(member, flood, owner.keys.sigPub, BURST, tag);
        await e.leave(member);
        member = null;
        results.get(e).push(r);
        console.log(`  ${e.engine.padEnd(12)} round ${round + 1}: ${burstText(r)}; load average ${load()}`);
      }
    }
    console.log(`summary, load average ${load()}`);
    for (const [e, rs] of results) {
      const of = (key) => rs.map((r) => r[key]).filter((x) => x !== null);
      const main = rs[0].longest !== null ? `longest task (0: none over 50 ms): ${stats(of('longest'))}; ` : '';
      console.log(`  ${e.engine}: drawn: ${stats(of('drawn'))}; acknowledged: ${stats(of('acked'))};`);
      console.log(`  ${''.padEnd(e.engine.length)}  ${main}largest frame gap: ${stats(of('gap'))}; vault writes ${of('writes').join('/')}, ack frames ${of('ackFrames').join('/')}`);
    }
  } finally {
    if (flood) flood.s.ws.terminate();
    if (member && member.stop) await member.stop();
    await close();
  }
}

main().catch((e) => { console.error(e); process.exit(1); });
