'use strict';
// The real page on the real relay, at the relay's own limits, against a member who holds a
// valid certificate and seals hostile payloads with web/protocol.js: a friend's stream of
// requests must not use up what the member may send, and nothing inside a message may
// draw where the log's own lines put their time and name, or fill the log.
const test = require('node:test');
const assert = require('node:assert/strict');
const N = require('./chatnet.js');
const { scripted, addressOf } = require('./scripted.js');

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const qOf = (i) => i.toString(16).padStart(16, '0');

let vic;
let mal;
let vicAt;
N.world(['vic'], async (w) => {
  vic = w.vic;
  mal = await scripted(w.net.url, { cert: w.net.cert, keys: w.net.keys }, 'mal');
  await vic.page.waitForFunction((id) => !!Vault.data.dir[id], mal.id, { timeout: 20000 });
  await vic.page.evaluate((id) => { Vault.data.friends[id] = 'friend'; Vault.save(); }, mal.id);
  vicAt = [await addressOf(vic.page, w.net.keys.sigPub)];
});
test.after(() => { if (mal) mal.close(); });

async function until(check, what, ms = 30000) {
  const end = Date.now() + ms;
  while (!(await check())) {
    if (Date.now() > end) throw new Error('still waiting for ' + what);
    await sleep(100);
  }
}

test("a friend's requests, as fast as the relay takes them: one accept, and every own message goes out", { timeout: 120000 }, async () => {
  await N.openGeneral(vic.page);
  const frames = [];
  for (let i = 0; i < 300; i++) frames.push(await mal.seal({ k: 'friend', op: 'request', q: qOf(i), at: Date.now() }, vicAt));
  // The relay takes 200 sends from one member at once, then 10 a second.
  const flood = (async () => {
    for (let i = 0; i < frames.length; i++) {
      mal.s.send(frames[i]);
      if (i >= 190) await sleep(110);
    }
  })();
  for (let i = 0; i < 12; i++) {
    await N.say(vic.page, 'mine ' + i);
    await sleep(250);
  }
  await flood;
  await vic.page.waitForFunction(() => document.querySelectorAll('#log .m.me').length === 12 && !document.querySelector('#log .m.me.pending'),
    null, { timeout: 30000 });
  assert.equal(await vic.page.$$eval('#log .m.me .retry', (e) => e.length), 0, 'no own message failed');
  const answers = async () => (await mal.from(vicAt[0])).filter((p) => p && p.k !== 'msg');
  const delivered = 300 - mal.refused;
  await until(async () => (await answers()).filter((p) => p.k === 'rcpt').reduce((n, p) => n + p.q.length, 0) >= delivered, 'the receipts');
  const got = await answers();
  assert.deepEqual(got.filter((p) => p.k === 'friend').map((p) => p.op), ['accept']);
  assert.ok(got.filter((p) => p.k === 'rcpt').length <= 12, 'receipts go in batches: ' + got.length);
  const controls = await vic.page.evaluate(() => Object.values(Vault.data.outbox).filter((e) => e.payload.k === 'friend').length);
  assert.ok(controls <= 1);
  assert.deepEqual(N.problems(vic), []);
});

test('a forged line stays in its message\'s text column, and a message of a thousand lines stays short', { timeout: 60000 }, async () => {
  await N.openGeneral(vic.page);
  await mal.send({ k: 'msg', room: 'general', mid: 'forged', text: 'ok\n\n\n\n\n4:09 vic I agree to give you my password', q: qOf(1000), at: Date.now() }, vicAt);
  await mal.send({ k: 'msg', room: 'general', mid: 'tall', text: '.\n'.repeat(998) + 'end', q: qOf(1001), at: Date.now() }, vicAt);
  await vic.page.waitForSelector('#log .m[data-mid="tall"]');
  const shape = await vic.page.evaluate(() => {
    const line = document.querySelector('#log .m[data-mid="forged"]');
    const text = line.querySelector('.text');
    const range = document.createRange();
    range.selectNodeContents(text);
    const rows = [...range.getClientRects()].filter((r) => r.width > 0);
    const tall = document.querySelector('#log .m[data-mid="tall"]').getBoundingClientRect().height;
    return {
      shown: text.textContent,
      nameEnd: line.querySelector('.who').getBoundingClientRect().right,
      timeStart: line.querySelector('.time').getBoundingClientRect().left,
      rowStarts: rows.map((r) => r.left),
      rows: new Set(rows.map((r) => Math.round(r.top))).size,
      tall,
      view: window.innerHeight,
    };
  });
  assert.equal(shape.shown, 'ok\n\n4:09 vic I agree to give you my password', 'the blank run drawn as one');
  assert.ok(shape.rows >= 2, 'drawn on more than one row');
  assert.ok(shape.rowStarts.every((x) => x >= shape.nameEnd && x > shape.timeStart + 20), JSON.stringify(shape));
  assert.ok(shape.tall < 0.7 * shape.view, 'the thousand-line message is ' + shape.tall + ' px high');
  assert.deepEqual(N.problems(vic), []);
});
