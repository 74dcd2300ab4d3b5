'use strict';
// Vault benchmark, for a vault of 3 rooms × 3000 messages, in Debian's Chromium and in the
// real program's WebKitGTK window: the floor (two parallel 600,000-round PBKDF2 derivations
// in that engine), an unlock (the same two derivations and the decryption) and its ratio to
// the floor, saveNow, and the longest main-thread stall during a save (the longest gap
// between animation frames, and in Chromium the longest task). Prints figures; asserts
// nothing about speed.
//
//   node bench/page-vault.bench.js [--rooms 3] [--per 3000] [--runs 5]
const { pageBenchData, pageBenchWatch, pageBenchCreate, pageBenchFloor, pageBenchUnlock } = require('./page-vault.js');
const H = require('../tests/browser/harness.js');
const { unavailable, startHost } = require('../tests/browser/realhost.js');

const arg = (name, dflt) => {
  const i = process.argv.indexOf('--' + name);
  return i > 0 ? Number(process.argv[i + 1]) : dflt;
};
const ROOMS = arg('rooms', 3);
const PER = arg('per', 3000);
const RUNS = arg('runs', 5);
const PIN = '482916';
// Installed as globals by statements (the page's policy forbids eval, rightly).
const SOURCE = [pageBenchData, pageBenchWatch, pageBenchCreate, pageBenchFloor, pageBenchUnlock].map((f) => `window.${f.name} = ${f.toString()};`).join('\n');

function median(xs) {
  const s = xs.slice().sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
}

function stats(xs) {
  const s = xs.slice().sort((a, b) => a - b);
  return `median ${median(s).toFixed(0)} ms, min ${s[0].toFixed(0)}, max ${s[s.length - 1].toFixed(0)} (${s.length} runs)`;
}

function report(engine, created, opened) {
  console.log(`${engine}: vault data ${(created.bytes / 1048576).toFixed(2)} MiB (${ROOMS} rooms × ${PER} messages)`);
  console.log(`  floor:   ${stats(opened.floors)}`);
  console.log(`  unlock:  ${stats(opened.unlocks)}`);
  const ratios = opened.unlocks.map((u, i) => u / opened.floors[i]);
  console.log(`  ratio:   ${(median(opened.unlocks) / median(opened.floors)).toFixed(2)}× (medians; per run ${ratios.map((r) => r.toFixed(2)).join(' ')})`);
  console.log(`  read of the vault file at load: ${opened.load.toFixed(0)} ms`);
  console.log(`  saveNow: ${stats(created.saves)}`);
  if (created.standIn) console.log('    (the native write is answered from memory here: Chromium has only the test double)');
  else console.log(`    of which the native write (bridge and file, two syncs): ${stats(created.writes)}`);
  console.log(`  longest frame gap during a save: ${stats(created.gaps)}`);
  if (created.longTasks.length) console.log(`  longest task during a save (only tasks over 50 ms are reported; 0 = none): ${stats(created.longTasks)}`);
  else console.log('  longest task during a save: this engine does not report long tasks');
  console.log(`  load: ${require('os').loadavg().map((x) => x.toFixed(2)).join(' ')} (1, 5, 15 min)`);
}

async function chromium() {
  const relay = await H.relayStandIn('B'.repeat(88));
  const site = await H.staticServer(H.pageFiles({ server: relay.url }));
  const chrome = await H.launch();
  try {
    const { page, context } = await H.openPage(chrome.browser, site.url + 'index.html');
    await page.evaluate(`(() => { ${SOURCE} })()`);
    const created = await page.evaluate(([pin, r, p, n, s]) => pageBenchCreate(pin, r, p, n, s), [PIN, ROOMS, PER, RUNS, true]);
    await page.reload();
    await page.evaluate(`(() => { ${SOURCE} })()`);
    const opened = await page.evaluate(([pin, n]) => pageBenchUnlock(pin, n), [PIN, RUNS]);
    report('Chromium ' + chrome.browser.version(), Object.assign(created, { standIn: true }), opened);
    await context.close();
  } finally {
    await chrome.close();
    await site.close();
    await relay.close();
  }
}

async function webkit() {
  const why = unavailable();
  if (why) { console.log('WebKitGTK (real window): not measured, ' + why); return; }
  const host = await startHost();
  try {
    await host.waitScreen('sWelcome');
    await host.run(SOURCE);
    const created = await host.runAsync('return await pageBenchCreate(...arguments[0]);', [PIN, ROOMS, PER, RUNS]);
    await host.reload();
    await host.waitScreen('sUnlock');
    await host.run(SOURCE);
    const opened = await host.runAsync('return await pageBenchUnlock(...arguments[0]);', [PIN, RUNS]);
    report('WebKitGTK (real window, build/mosswire)', created, opened);
  } finally {
    await host.stop();
  }
}

(async () => {
  await chromium();
  await webkit();
})().catch((e) => {
  console.error(e);
  process.exit(1);
});
