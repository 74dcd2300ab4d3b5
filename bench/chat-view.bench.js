'use strict';
// Chat view benchmark in Debian's Chromium, through the page as a person uses it: opening a
// room that holds 3,000 messages (400 drawn), appending one own line to that full log, and
// the ASCII GIF player with the picker open (element rewrites per second and script time).
// Prints figures; asserts nothing about speed.
//
//   node bench/chat-view.bench.js [--per 3000] [--runs 15]
const H = require('../tests/browser/harness.js');
const N = require('../tests/browser/chatnet.js');

const arg = (name, dflt) => {
  const i = process.argv.indexOf('--' + name);
  return i > 0 ? Number(process.argv[i + 1]) : dflt;
};
const PER = arg('per', 3000);
const RUNS = arg('runs', 15);

function stats(xs) {
  const s = xs.slice().sort((a, b) => a - b);
  const med = s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
  return `median ${med.toFixed(2)} ms, min ${s[0].toFixed(2)}, max ${s[s.length - 1].toFixed(2)} (${s.length} runs)`;
}

async function main() {
  const chrome = await H.launch();
  const net = await N.network();
  try {
    const ann = await N.member(chrome.browser, net, 'ann');
    const bo = await N.member(chrome.browser, net, 'bo');
    const page = ann.page;
    await page.evaluate(([per, other]) => {
      Vault.data.settings.panicCode = 'F9';
      const list = [];
      const now = Date.now();
      for (let i = 0; i < per; i++) {
        const from = i % 3 ? other : Vault.data.me;
        const m = { mid: 'b' + i, from, text: 'message number ' + i + (i % 7 ? '' : ' for @ann and @bo') + ' with a little more text to wrap', at: now - (per - i) * 30000 };
        if (i % 50 === 0) m.re = { mid: 'b' + (i - 1), from: other, text: 'quoted text' };
        list.push(m);
      }
      Vault.data.msgs.general = list;
    }, [PER, bo.id]);

    // Opening: from the friends page to General, the draw and the layout it forces.
    const opens = [];
    for (let i = 0; i < RUNS + 2; i++) {
      const ms = await page.evaluate(() => {
        document.getElementById('navFriends').click();
        const t0 = performance.now();
        document.getElementById('navGeneral').click();
        void document.getElementById('log').scrollHeight;
        return performance.now() - t0;
      });
      if (i >= 2) opens.push(ms);
    }
    const drawn = await page.$$eval('#log .m', (e) => e.length);

    // Appending: Enter in the composer with the full log open, until the line is in and laid out.
    const appends = [];
    for (let i = 0; i < RUNS + 2; i++) {
      const ms = await page.evaluate((n) => {
        const box = document.getElementById('msg');
        box.value = 'appended line ' + n;
        const t0 = performance.now();
        box.dispatchEvent(new KeyboardEvent('keydown', { key: 'Enter', bubbles: true, cancelable: true }));
        void document.getElementById('log').scrollHeight;
        return performance.now() - t0;
      }, i);
      if (i >= 2) appends.push(ms);
      await page.waitForFunction(() => !document.querySelector('#log .m.pending'));
    }

    // The GIF player with the picker open.
    const cdp = await page.context().newCDPSession(page);
    await cdp.send('Performance.enable');
    const script = async () => (await cdp.send('Performance.getMetrics')).metrics.find((m) => m.name === 'ScriptDuration').value;
    const watch = (secs) => page.evaluate((s) => new Promise((resolve) => {
      let n = 0;
      const obs = new MutationObserver((records) => {
        records.forEach((r) => { if (r.target.nodeName === 'PRE' || (r.target.parentNode && r.target.parentNode.nodeName === 'PRE')) n++; });
      });
      obs.observe(document.body, { subtree: true, childList: true, characterData: true });
      setTimeout(() => { obs.disconnect(); resolve(n / s); }, s * 1000);
    }), secs);
    const s0 = await script();
    await watch(3);
    const idle = (await script()) - s0;
    await page.click('#gifBtn');
    await page.waitForSelector('#modalCard[data-kind="gifs"]');
    const s1 = await script();
    const rate = await watch(3);
    const open = (await script()) - s1;
    const gifsShown = await page.$$eval('pre.gif', (e) => e.length);

    console.log(`Chromium: General with ${PER} messages, ${drawn} drawn`);
    console.log(`  open the room:        ${stats(opens)}`);
    console.log(`  append one own line:  ${stats(appends)}`);
    console.log(`  GIF player, picker open (${gifsShown} GIFs on screen): ${rate.toFixed(1)} rewrites/s, ` +
      `script ${(open / 3 * 1000).toFixed(1)} ms/s (picker closed: ${(idle / 3 * 1000).toFixed(1)} ms/s)`);
  } finally {
    await chrome.close();
    await net.close();
  }
}

main().catch((e) => { console.error(e); process.exit(1); });
