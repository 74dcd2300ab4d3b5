'use strict';
// What the chat benchmarks share: Node members that sign in with real certificates and
// acknowledge what they get, and the burst: a Node member seals many messages for one
// member alone and sends them all at once, and the member's page (Chromium through
// playwright-core, or the real window through WebDriver) reports when the last line was
// drawn, when the last envelope was acknowledged, the vault writes and ack frames it took,
// and how long the page's main thread was held while they arrived.
const fs = require('fs');
const path = require('path');
const { chromium } = require('playwright-core');
const H = require('../tests/browser/harness.js');
const { startHost } = require('../tests/browser/realhost.js');
const { startRelay } = require('../tests/relay/helpers.js');
const { FrameSocket } = require('../tools/frames.js');
const P = require('../web/protocol.js');
const { pageSource } = require('./figures.js');
const { pageBenchWatch } = require('./page-vault.js');

const relaySteer = fs.readFileSync(path.join(__dirname, 'relay-steer.js'), 'utf8');
// How long a burst may take before its figures are taken as they are.
const BURST_LIMIT_MS = 600000;

// The real relay on loopback with its rate limits lifted (so that the figures measure the
// client, not the limiter), the page files pointed at it, and Debian's Chromium with
// `args` besides those every chat benchmark uses. `close` ends all three.
async function chatSetUp(owner, args = []) {
  const limits = { RELAY_SEND_RATE: '100000', RELAY_SEND_BURST: '100000', RELAY_FRAME_RATE: '100000', RELAY_FRAME_BURST: '100000' };
  const relay = await startRelay({ ownerKey: owner.keys.sigPub, env: limits });
  const site = await H.staticServer(H.pageFiles({ server: relay.url }));
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium', headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-timer-throttling', '--disable-renderer-backgrounding', ...args],
  });
  const close = async () => {
    await browser.close();
    await site.close();
    await relay.stop();
  };
  return { relay, site, browser, close };
}

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

// The relay steering (which also keeps the page's sockets for the burst's watch), as a
// script to run in a page before it connects.
const steerer = (relay) => `window.__mswBenchRelayPort = ${relay.port};\n` + relaySteer;

// A member in a Chromium page with the native test double, joined and on General.
async function chromiumMember(browser, site, owner, relay, name) {
  const { page, context } = await H.openPage(browser, site.url + 'index.html');
  await page.evaluate(steerer(relay));
  await H.joinWith(page, await H.longInvite(owner), name, '2468');
  await page.waitForSelector('#netDot.dot.on', { timeout: 60000 });
  await page.click('#navGeneral');
  const id = await page.evaluate(() => Vault.data.me);
  return { page, context, id, name, evaluate: (expression) => page.evaluate(expression) };
}

// A member in the real window (build/mosswire under Xvfb, driven through WebDriver), its
// connection steered to `relay`, joined and on General. Its `stop` ends the program.
async function windowMember(owner, relay, name) {
  const host = await startHost();
  try {
    await host.waitScreen('sWelcome', 60000);
    await host.join(await H.longInvite(owner), name, '2468', () => host.run(steerer(relay)));
    await host.waitFor(() => host.run('return document.getElementById("netDot").className === "dot on"'), 60000, name + ' online');
    await host.click('#navGeneral');
    const id = await host.run('return Vault.data.me');
    return { host, id, name, stop: host.stop, evaluate: (expression) => host.runAsync('return ' + expression) };
  } catch (e) {
    await host.stop();
    throw e;
  }
}

// Installed in the member's page just before a burst of `count` envelopes whose last
// line reads `lastText`, sent by the member `fromId`; resolves once the watch of the main
// thread has begun (the burst may go out then). Acknowledged means the ids of `count` of
// the sender's envelopes have gone out in ack frames (the relay forgets an envelope once
// acked). The hooks on the socket and the
// vault write go in once a page and count for the burst being watched. While the burst
// arrives (until its last line is drawn and its last envelope acknowledged, or `limitMs`)
// bench/page-vault.js's watch takes the largest gap between animation frames and, where
// the engine reports them, the longest task.
function watchBurst(count, lastText, limitMs, fromId) {
  const b = { count, drawn: null, acked: null, writes: 0, ackFrames: 0, ids: new Set(), arrived: new Set(), exact: false };
  // The burst's envelopes as they arrive on the page's socket (the sender's id is in each),
  // so that only their acknowledgements count.
  const ws = (window.__mswBenchSockets || []).filter((s) => s.readyState === 1).pop();
  if (ws) {
    b.exact = true;
    b.listener = (e) => {
      if (typeof e.data !== 'string' || e.data.indexOf(fromId) < 0) return;
      const m = /"eid":"([^"]+)"/.exec(e.data);
      if (m) b.arrived.add(m[1]);
    };
    ws.addEventListener('message', b.listener);
    b.socket = ws;
  }
  const done = new Promise((resolve) => { b.finish = () => { if (b.drawn !== null && b.acked !== null) resolve(); }; });
  window.__burst = b;
  if (!window.__burstHooked) {
    window.__burstHooked = true;
    const send = WebSocket.prototype.send;
    WebSocket.prototype.send = function (text) {
      const w = window.__burst;
      if (w && typeof text === 'string' && text.indexOf('"ack"') >= 0) {
        try {
          const f = JSON.parse(text);
          if (f.t === 'ack') {
            w.ackFrames++;
            for (const e of f.eids || []) if (!w.exact || w.arrived.has(e)) w.ids.add(e);
            if (w.acked === null && w.ids.size >= w.count) { w.acked = Date.now(); w.finish(); }
          }
        } catch (e) { /* not a frame of ours to count */ }
      }
      return send.call(this, text);
    };
    const write = window.msw_write_vault;
    window.msw_write_vault = function () {
      if (window.__burst) window.__burst.writes++;
      return write.apply(this, arguments);
    };
  }
  const texts = (n) => (n.nodeType !== 1 ? [] : n.matches('.text') ? [n] : n.querySelectorAll('.text'));
  b.observer = new MutationObserver((records) => {
    if (b.drawn !== null) return;
    for (const r of records) for (const n of r.addedNodes) for (const t of texts(n)) {
      if (t.textContent === lastText && b.drawn === null) { b.drawn = Date.now(); b.finish(); }
    }
  });
  b.observer.observe(document.getElementById('log'), { childList: true, subtree: true });
  const limit = new Promise((r) => setTimeout(r, limitMs)).then(() => { b.timedOut = true; });
  b.watch = pageBenchWatch(() => Promise.race([done, limit]));
  // The watch waits two frames before it starts.
  return new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(() => requestAnimationFrame(() => r(true)))));
}

// Whether the watched burst is drawn and acknowledged, or its time is up.
function burstOver() {
  const b = window.__burst;
  return (b.drawn !== null && b.acked !== null) || !!b.timedOut;
}

// Once the watched burst is over, and a second more for the writes that follow: what the
// page saw, as times since `t0` (Date.now() when the first envelope went out).
async function burstResult(t0) {
  const b = window.__burst;
  const w = await b.watch;
  await new Promise((r) => setTimeout(r, 1000));
  b.observer.disconnect();
  if (b.socket) b.socket.removeEventListener('message', b.listener);
  return {
    drawn: b.drawn === null ? null : b.drawn - t0, acked: b.acked === null ? null : b.acked - t0,
    ackedIds: b.ids.size, arrived: b.exact ? b.arrived.size : null, ackFrames: b.ackFrames, writes: b.writes, gap: w.gap, longest: w.longTask,
    focused: document.hasFocus(),
  };
}

const PAGE_SOURCE = pageSource([pageBenchWatch, watchBurst, burstOver, burstResult]);

// One burst of `count` messages from `flood` (a Node member) to the member `target`, whose
// `evaluate(expression)` runs an expression in its page and resolves to its (awaited)
// value. `tag` keeps the burst's message ids and texts apart from earlier ones.
async function burst(target, flood, ownerKey, count, tag) {
  const info = await P.verifyCert(await target.evaluate('Vault.data.cert'), ownerKey);
  const frames = [];
  for (let i = 0; i < count; i++) {
    const sealed = await flood.box.seal({
      k: 'msg', room: 'general', mid: 'burst' + tag + '-' + i, text: 'burst ' + tag + ' ' + i,
      q: (tag * 1e6 + i).toString(16).padStart(16, '0'), at: Date.now(),
    }, [{ id: info.id, ecdh: info.ecdh }]);
    frames.push({ t: 'send', iv: sealed.iv, ct: sealed.ct, keys: sealed.keys });
  }
  await target.evaluate(`(() => { ${PAGE_SOURCE} })()`);
  await target.evaluate(`watchBurst(${count}, ${JSON.stringify('burst ' + tag + ' ' + (count - 1))}, ${BURST_LIMIT_MS}, ${JSON.stringify(flood.id)})`);
  const t0 = Date.now();
  for (const f of frames) flood.s.send(f);
  if (target.stall) await target.evaluate(`setTimeout(() => { const end = performance.now() + ${target.stall}; while (performance.now() < end); }, 200)`);
  // Asked once a second rather than waited for in one call: a WebDriver call that takes
  // minutes ends in the HTTP client's time-out.
  while (!(await target.evaluate('burstOver()'))) await new Promise((r) => setTimeout(r, 1000));
  return target.evaluate(`burstResult(${t0})`);
}

const ms = (x) => (x === null ? '?' : x.toFixed(0) + ' ms');

// One line of figures for a burst's result.
function burstText(r) {
  const main = r.longest === null
    ? 'long tasks not reported by this engine'
    : `longest main-thread task ${r.longest ? ms(r.longest) : 'none over 50 ms'}`;
  return `last drawn after ${ms(r.drawn)}, acknowledged by ${ms(r.acked)}` +
    ` (${r.ackedIds} of its ids in ${r.ackFrames} ack frames${r.arrived === null ? ', any ids counted: its socket was not found' : ''}), ${r.writes} vault writes;` +
    ` ${main}, largest gap between animation frames ${ms(r.gap)}` + (r.focused ? '' : ' (page not focused)');
}

module.exports = { chatSetUp, nodeMember, chromiumMember, windowMember, burst, burstText };
