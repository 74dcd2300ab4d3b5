'use strict';
// Vault benchmark, for a vault of 3 rooms × 3000 messages, in Debian's Chromium and in the
// real program's WebKitGTK window: the floor (two parallel 600,000-round PBKDF2 derivations
// in that engine, and one alone), an unlock (the same two derivations and the decryption)
// and its ratio to the floor, saveNow with its steps (the page's, the bridge's, the disk's),
// and the longest main-thread stall during a save (the longest gap between animation
// frames, and in Chromium the longest task). Prints figures; asserts nothing about speed.
//
//   node bench/page-vault.bench.js [--rooms 3] [--per 3000] [--runs 5]
const { pageBenchData, pageBenchWatch, pageBenchCreate, pageBenchFloor, pageBenchUnlock } = require('./page-vault.js');
const fs = require('fs');
const path = require('path');
const H = require('../tests/browser/harness.js');
const { unavailable, startHost } = require('../tests/browser/realhost.js');
const { arg, median, stats, pageSource } = require('./figures.js');

const ROOMS = arg('rooms', 3);
const PER = arg('per', 3000);
const RUNS = arg('runs', 5);
const PIN = '482916';
const SOURCE = pageSource([pageBenchData, pageBenchWatch, pageBenchCreate, pageBenchFloor, pageBenchUnlock]);

// The disk's own share: the same bytes replaced the way the native side does it (a fresh
// temporary file, fsync, rename, fsync of the folder), in the same folder.
function diskWrites(folder, bytes, runs) {
  const out = [];
  const tmp = path.join(folder, 'bench.tmp'), target = path.join(folder, 'bench.json');
  for (let i = 0; i < runs; i++) {
    const t0 = process.hrtime.bigint();
    const fd = fs.openSync(tmp, 'wx', 0o600);
    fs.writeSync(fd, bytes);
    fs.fsyncSync(fd);
    fs.closeSync(fd);
    fs.renameSync(tmp, target);
    const dir = fs.openSync(folder, 'r');
    fs.fsyncSync(dir);
    fs.closeSync(dir);
    out.push(Number(process.hrtime.bigint() - t0) / 1e6);
  }
  fs.rmSync(target, { force: true });
  return out;
}

function report(engine, created, opened) {
  console.log(`${engine}: vault data ${(created.bytes / 1048576).toFixed(2)} MiB (${ROOMS} rooms × ${PER} messages)`);
  console.log(`  floor:   ${stats(opened.floors)}`);
  console.log(`    (one derivation alone: ${stats(opened.singles)}; an engine that runs its crypto on one thread takes the floor's two one after the other)`);
  console.log(`  unlock:  ${stats(opened.unlocks)}`);
  const ratios = opened.unlocks.map((u, i) => u / opened.floors[i]);
  console.log(`  ratio:   ${(median(opened.unlocks) / median(opened.floors)).toFixed(2)}× (medians; per run ${ratios.map((r) => r.toFixed(2)).join(' ')})`);
  console.log(`  read of the vault file at load: ${opened.load.toFixed(0)} ms`);
  console.log(`  saveNow: ${stats(created.saves)}`);
  console.log(`    after 400 ms idle (the debounced save's case): ${stats(created.idle)}`);
  console.log(`    page, serialising and encoding (in slices): ${stats(created.steps.data)}`);
  console.log(`    page, AES-GCM (the engine's own thread): ${stats(created.steps.seal)}`);
  console.log(`    page, Base64 and the header text: ${stats(created.steps.text)}`);
  if (created.standIn) console.log('    native write: answered from memory here (Chromium has only the test double)');
  else {
    console.log(`    native write (bridge, worker, file and its two syncs): ${stats(created.writes)}`);
    if (created.bridge.length) {
      console.log(`      the bridge alone (the same text to msw_focused, which ignores it): ${stats(created.bridge)}; longest frame gap ${stats(created.bridgeGaps)}`);
      console.log(`        of which the page makes the call message (JSON.stringify): ${stats(created.quoting)}`);
    }
    if (created.disk) console.log(`      the file alone (node on the same disk: write, fsync, rename, folder fsync of ${(created.fileBytes / 1048576).toFixed(2)} MiB): ${stats(created.disk)}`);
    if (created.bridge.length && created.disk) {
      // What a save cannot go below while the text travels as one call message: the page's
      // steps, the bridge both ways and the file, each at its median.
      const page = median(created.steps.data) + median(created.steps.seal) + median(created.steps.text);
      console.log(`    least a save can take with this bridge (page steps + bridge alone + file alone, medians): ${(page + median(created.bridge) + median(created.disk)).toFixed(0)} ms`);
    }
  }
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
    created.disk = diskWrites(host.appFolder, fs.readFileSync(path.join(host.appFolder, 'vault.json')), RUNS);
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
