'use strict';
// The whole chat under ordinary wear for about a minute: three members on the real relay
// keep talking in General while their connections drop, their programs restart (the
// program's end first stores what the page holds, as the host asks it to), and some quit
// within 50 ms of pressing Enter. Afterwards every line a sender saw drawn is in every
// member's history exactly once, nothing is still pending, and no outbox waits for a
// member who has the message.
//   MSW_SOAK_SECONDS (default 60) runs it longer; MSW_SOAK_SEED repeats one run's choices.
const test = require('node:test');
const assert = require('node:assert/strict');
const H = require('./harness.js');
const N = require('./chatnet.js');

const SECONDS = Number(process.env.MSW_SOAK_SECONDS) || 60;
const SEED = Number(process.env.MSW_SOAK_SEED) || Date.now() % 1000000;

// The page's sockets, so that a test can cut one as a network would.
const SOCKETS = `(function () {
  var Real = window.WebSocket;
  window.__mswSockets = [];
  window.WebSocket = function (url, protocols) {
    var ws = new Real(url, protocols);
    window.__mswSockets.push(ws);
    return ws;
  };
  window.WebSocket.prototype = Real.prototype;
  window.WebSocket.OPEN = Real.OPEN;
})();`;

function random(seed) {
  let a = seed >>> 0;
  return () => {
    a = (a + 0x6d2b79f5) >>> 0;
    let t = a;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

let w;
N.world(['ana', 'ben', 'cat'], async (world) => {
  w = world;
  for (const name of ['ana', 'ben', 'cat']) await w[name].context.addInitScript({ content: SOCKETS });
});

// Back on the main screen after a start: PIN, online, General open.
async function unlocked(m) {
  await H.waitScreen(m.page, 'sUnlock', 30000);
  await H.unlockWith(m.page, m.pin);
  await N.online(m.page, 60000);
  await N.openGeneral(m.page);
}

// The program ends as the host ends it (the page stores first) and starts again: in the
// same window (a reload) or a new one (a new process).
async function restart(m, fresh) {
  await m.page.evaluate(() => window.MswQuit());
  if (fresh) {
    await m.page.close();
    m.page = await m.context.newPage();
    await m.page.goto(w.net.site.url + 'index.html');
  } else {
    await m.page.reload();
  }
  await unlocked(m);
}

test('three members talking through drops, restarts and quits lose nothing and keep nothing twice', { timeout: (SECONDS + 240) * 1000 }, async () => {
  const members = [w.ana, w.ben, w.cat];
  const rnd = random(SEED);
  const sent = [];
  const count = { drops: 0, restarts: 0, quickQuits: 0 };
  for (const m of members) await restart(m, false);

  const end = Date.now() + SECONDS * 1000;
  await Promise.all(members.map(async (m) => {
    let n = 0;
    while (Date.now() < end) {
      const roll = rnd();
      if (roll < 0.7) {
        const text = m.name + '-' + ++n;
        await m.page.fill('#msg', text);
        await m.page.press('#msg', 'Enter');
        sent.push({ from: m.id, text });
        if (roll < 0.06) {
          // Quit within 50 ms of Enter, then start again in a new window.
          await sleep(Math.floor(rnd() * 50));
          count.quickQuits++;
          await restart(m, true);
        } else {
          await sleep(150 + rnd() * 500);
        }
      } else if (roll < 0.8) {
        count.drops++;
        await m.page.evaluate(() => { const s = window.__mswSockets; if (s.length) s[s.length - 1].close(); });
        await sleep(rnd() * 2000);
      } else if (roll < 0.86) {
        count.restarts++;
        await restart(m, rnd() < 0.5);
      } else {
        await sleep(200 + rnd() * 800);
      }
    }
  }));

  // Everything settles: all online, nothing pending, every outbox confirmed.
  const state = (m) => m.page.evaluate(() => ({
    online: document.getElementById('netDot').className === 'dot on',
    pending: (Vault.data.msgs.general || []).filter((x) => x.from === Vault.data.me && x.st).length,
    outbox: Object.keys(Vault.data.outbox).length,
    waiting: Object.values(Vault.data.outbox).map((e) => e.payload.k + ' ' + (e.payload.text || e.payload.op || '') + ' to ' +
      e.to.map((id) => Vault.data.names[id] || id).join(',') + ' boot ' + e.boot + '/' + Vault.data.serverBoot),
    lines: (Vault.data.msgs.general || []).filter((x) => !x.sys).map((x) => x.from + ' ' + x.text),
  }));
  const want = sent.map((s) => s.from + ' ' + s.text).sort();
  const settled = async () => {
    for (const m of members) {
      const s = await state(m);
      if (!s.online || s.pending || s.outbox || s.lines.length < want.length) return false;
    }
    return true;
  };
  const until = Date.now() + 90000;
  while (!(await settled()) && Date.now() < until) await sleep(500);

  let copies = 0;
  for (const m of members) {
    const s = await state(m);
    assert.equal(s.pending, 0, m.name + ': own messages still pending');
    assert.deepEqual(s.waiting, [], m.name + ': outbox entries for members who have the messages');
    assert.deepEqual(s.lines.slice().sort(), want, m.name + ': every drawn line exactly once (seed ' + SEED + ')');
    copies += s.lines.length;
    assert.deepEqual(N.problems(m).filter((p) => !/WebSocket/.test(p)), [], m.name);
  }
  console.log(`soak (seed ${SEED}): ${SECONDS} s, 3 members, ${sent.length} messages sent, ${count.quickQuits} quits within 50 ms of Enter, ` +
    `${count.restarts} other restarts, ${count.drops} dropped connections; ${copies} copies in the histories, each exactly once; outboxes empty`);
});
