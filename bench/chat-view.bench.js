'use strict';
// Chat view benchmark, through the page as a person uses it: opening a room that holds 3,000
// messages (400 drawn), appending one own line to that full log, and the ASCII GIF player
// with the picker open (frame rewrites per second; in Chromium also its script time). In
// Debian's Chromium and in the real program's WebKitGTK window. Prints figures; asserts
// nothing about speed.
//
//   node bench/chat-view.bench.js [--per 3000] [--runs 15]
const { viewBenchSetup, viewBenchMeasure, viewBenchRest, viewBenchSearch, viewBenchGifs } = require('./chat-view.js');
const H = require('../tests/browser/harness.js');
const { unavailable, startHost } = require('../tests/browser/realhost.js');
const { arg, stats: statsOf, pageSource } = require('./figures.js');

const PER = arg('per', 3000);
const RUNS = arg('runs', 15);
const PIN = '482916';
const SOURCE = pageSource([viewBenchSetup, viewBenchMeasure, viewBenchRest, viewBenchSearch, viewBenchGifs]);
// Typed into the search one key at a time: a word with an accent, typed without it.
const QUERY = 'zurich';
const SHOWN = 400;

const stats = (xs) => statsOf(xs, 2);

function report(engine, m, rest, search, gifs, extra) {
  console.log(`${engine}: General and two groups with ${PER} messages each`);
  console.log(`  open the room:        ${stats(m.opens)} (its newest ${m.first} lines in and laid out)`);
  console.log(`  all ${rest.drawn} of its lines drawn after ${rest.all.toFixed(1)} ms; longest time between two frames meanwhile ${rest.gap.toFixed(1)} ms`);
  console.log(`  append one own line:  ${stats(m.appends)}`);
  console.log(`  search, each key of "${QUERY}" until its results are in: ${stats(search.keys)}, ${search.results} results shown`);
  console.log(`  GIF player, picker open (${gifs.shown} GIFs on screen): ${gifs.rate.toFixed(1)} rewrites/s${extra || ''}`);
}

async function chromium() {
  const site = await H.staticServer(H.pageFiles({ server: 'ws://127.0.0.1:9' }));
  const chrome = await H.launch();
  try {
    const { page, context } = await H.openPage(chrome.browser, site.url + 'index.html');
    await H.waitScreen(page, 'sWelcome');
    await page.evaluate(`(() => { ${SOURCE} })()`);
    await page.evaluate(([pin, per]) => viewBenchSetup(pin, per), [PIN, PER]);
    await page.reload();
    await H.waitScreen(page, 'sUnlock');
    await H.unlockWith(page, PIN);
    await H.waitScreen(page, 'sMain', 60000);
    await page.evaluate(`(() => { ${SOURCE} })()`);
    const m = await page.evaluate((n) => viewBenchMeasure(n), RUNS);
    const rest = await page.evaluate((n) => viewBenchRest(n), SHOWN);
    const search = await page.evaluate((q) => viewBenchSearch(q), QUERY);
    const cdp = await context.newCDPSession(page);
    await cdp.send('Performance.enable');
    const script = async () => (await cdp.send('Performance.getMetrics')).metrics.find((x) => x.name === 'ScriptDuration').value;
    const s0 = await script();
    const gifs = await page.evaluate(() => viewBenchGifs(3));
    const spent = (await script()) - s0;
    report('Chromium ' + chrome.browser.version(), m, rest, search, gifs, `, page script ${(spent / 3 * 1000).toFixed(1)} ms/s`);
    await context.close();
  } finally {
    await chrome.close();
    await site.close();
  }
}

async function webkit() {
  const why = unavailable();
  if (why) { console.log('WebKitGTK (real window): not measured, ' + why); return; }
  const host = await startHost();
  try {
    await host.waitScreen('sWelcome');
    await host.run(SOURCE);
    await host.runAsync('return await viewBenchSetup(...arguments[0]);', [PIN, PER]);
    await host.reload();
    await host.waitScreen('sUnlock');
    await host.type('#unlockPin', PIN);
    await host.click('#unlockGo');
    await host.waitScreen('sMain', 60000);
    await host.run(SOURCE);
    const m = await host.run('return viewBenchMeasure(arguments[0]);', RUNS);
    const rest = await host.runAsync('return await viewBenchRest(arguments[0]);', SHOWN);
    const search = await host.run('return viewBenchSearch(arguments[0]);', QUERY);
    const gifs = await host.runAsync('return await viewBenchGifs(3);');
    report('WebKitGTK (real window, build/mosswire)', m, rest, search, gifs);
  } finally {
    await host.stop();
  }
}

(async () => {
  console.log('load average ' + require('os').loadavg().map((x) => x.toFixed(2)).join(' '));
  await chromium();
  await webkit();
})().catch((e) => {
  console.error(e);
  process.exit(1);
});
