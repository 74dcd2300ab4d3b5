'use strict';
// Vault benchmark: the time of an unlock (two 600,000-round PBKDF2 derivations and the
// decryption) and of saveNow for a vault of 3 rooms × 3000 messages, in Debian's Chromium and
// in the real program's WebKitGTK window. Prints figures; asserts nothing about speed.
//
//   node bench/page-vault.bench.js [--rooms 3] [--per 3000] [--runs 5]
const { pageBenchData, pageBenchCreate, pageBenchUnlock } = require('./page-vault.js');
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
const SOURCE = [pageBenchData, pageBenchCreate, pageBenchUnlock].map((f) => `window.${f.name} = ${f.toString()};`).join('\n');

function stats(xs) {
  const s = xs.slice().sort((a, b) => a - b);
  const med = s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
  return `median ${med.toFixed(0)} ms, min ${s[0].toFixed(0)}, max ${s[s.length - 1].toFixed(0)} (${s.length} runs)`;
}

function report(engine, created, opened) {
  console.log(`${engine}: vault data ${(created.bytes / 1048576).toFixed(2)} MiB (${ROOMS} rooms × ${PER} messages)`);
  console.log(`  unlock:  ${stats(opened.unlocks)}`);
  console.log(`  saveNow: ${stats(created.saves)}`);
}

async function chromium() {
  const relay = await H.relayStandIn('B'.repeat(88));
  const site = await H.staticServer(H.pageFiles({ server: relay.url }));
  const chrome = await H.launch();
  try {
    const { page, context } = await H.openPage(chrome.browser, site.url + 'index.html');
    await page.evaluate(`(() => { ${SOURCE} })()`);
    const created = await page.evaluate(([pin, r, p, n]) => pageBenchCreate(pin, r, p, n), [PIN, ROOMS, PER, RUNS]);
    await page.reload();
    await page.evaluate(`(() => { ${SOURCE} })()`);
    const opened = await page.evaluate(([pin, n]) => pageBenchUnlock(pin, n), [PIN, RUNS]);
    report('Chromium ' + chrome.browser.version(), created, opened);
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
