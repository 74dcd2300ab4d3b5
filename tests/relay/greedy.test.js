'use strict';
// One greedy member must not take more than its share: reconnecting refills no rate
// limit, a flood of fan-outs cannot fill the relay for everybody, and junk carried in a
// certificate is not stored or passed on.
const test = require('node:test');
const assert = require('node:assert');
const H = require('./helpers.js');
const { Mailbox } = require('../../relay/mailbox.js');

test('rate limits belong to the member, so signing in again refills nothing', async (t) => {
  const owner = await H.makeOwner();
  const relay = await H.startRelay({ ownerKey: owner.key, env: { RELAY_SEND_BURST: '5', RELAY_SEND_RATE: '1', RELAY_SIGNIN_BURST: '4' } });
  t.after(() => relay.stop());
  const [gus, hal] = await Promise.all([H.makeMember(owner, 'gus'), H.makeMember(owner, 'hal')]);
  const sh = await H.signIn(relay.url, hal);
  t.after(() => sh.close());
  const frame = await H.sealFor(gus, 'more', [hal]);
  const burst = async (s, n) => {
    for (let i = 0; i < n; i++) s.send(Object.assign({}, frame, { ref: i }));
    const got = [];
    for (let i = 0; i < n; i++) got.push((await s.next(['sent', 'error'])).t);
    return got;
  };
  const first = await H.signIn(relay.url, gus);
  const a = await burst(first, 8);
  // The burst of 5, and perhaps one more token refilled on a slow machine.
  assert.ok([5, 6].includes(a.filter((x) => x === 'sent').length), a.join(','));
  // A fresh connection for the same member starts from the same empty bucket.
  const second = await H.signIn(relay.url, gus);
  t.after(() => second.close());
  assert.strictEqual(second.answer.t, 'welcome');
  const b = await burst(second, 5);
  assert.ok(b.filter((x) => x === 'sent').length <= 2, 'after signing in again: ' + b.join(','));
  // Sign-ins are limited per member too: past the burst the relay closes the
  // connection without a refusal, so an honest client just tries again later.
  const answers = [];
  for (let i = 0; i < 4; i++) {
    const s = await H.FrameSocket.open(relay.url);
    t.after(() => s.close());
    const hello = await s.next('hello');
    s.send(await H.authFrame(gus, hello));
    answers.push(await s.next(['welcome', 'denied']).then((f) => f.t, () => s.closed.code));
  }
  assert.deepStrictEqual(answers.slice(0, 2), ['welcome', 'welcome']);
  assert.ok(answers.slice(2).includes(1013), 'answers: ' + answers.join(','));
  assert.ok(answers.every((a) => a === 'welcome' || a === 1013), 'answers: ' + answers.join(','));
  // Others are untouched by it.
  const other = await H.signIn(relay.url, await H.makeMember(owner, 'ivy'));
  t.after(() => other.close());
  assert.strictEqual(other.answer.t, 'welcome');
});

test('one member flooding fan-outs cannot fill the queues for everybody', async (t) => {
  const owner = await H.makeOwner();
  const relay = await H.startRelay({ ownerKey: owner.key, env: { RELAY_MAX_TOTAL_MIB: '4', RELAY_MAX_SENDER_MIB: '1' } });
  t.after(() => relay.stop());
  const names = ['greedy', 'honest', 'away'].concat(Array.from({ length: 20 }, (_, i) => 'off' + i));
  const [greedy, honest, away, ...offline] = await Promise.all(names.map((n) => H.makeMember(owner, n)));
  // Everybody has been seen once; all but the two senders are offline now.
  for (const m of [away, ...offline]) (await H.signIn(relay.url, m)).close();
  const sg = await H.signIn(relay.url, greedy);
  const sh = await H.signIn(relay.url, honest);
  t.after(() => [sg, sh].forEach((s) => s.close()));
  const big = await H.sealFor(greedy, 'x'.repeat(45000), offline);
  let accepted = 0;
  for (let i = 0; i < 200; i++) {
    sg.send(Object.assign({}, big, { ref: i }));
    if ((await sg.next(['sent', 'error'])).t === 'error') break;
    accepted++;
  }
  // Then small ones, to fill whatever room is left.
  const small = await H.sealFor(greedy, 'x', offline);
  for (let i = 0; i < 400; i++) {
    sg.send(Object.assign({}, small, { ref: i }));
    if ((await sg.next(['sent', 'error'])).t === 'error') break;
  }
  // The honest member's message to somebody offline still gets through.
  sh.send(await H.sealFor(honest, 'are you there?', [away], { ref: 'h' }));
  assert.deepStrictEqual(await sh.next(['sent', 'error']), { t: 'sent', ref: 'h' });
  // The shared ciphertext is charged once: the sender's 1 MiB holds over a dozen.
  assert.ok(accepted >= 12 && accepted < 200, accepted + ' fan-outs accepted before the sender hit its bound');
  const back = await H.signIn(relay.url, away);
  t.after(() => back.close());
  assert.strictEqual(await H.openEnv(away, await back.next('env'), honest), 'are you there?');
});

test('an envelope lives no longer than the longest ttl, whatever the sender asks', () => {
  let now = 1000;
  const mail = new Mailbox({ now: () => now, maxTtl: 5000 });
  const key = 'k'.repeat(56);
  mail.put('a', 'b', 'iv', 'A'.repeat(100), key, 1e15);
  mail.put('a', 'b', 'iv', 'B'.repeat(100), key, 0);
  mail.put('a', 'b', 'iv', 'C'.repeat(100), key, 2000);
  now = 3500;
  assert.deepStrictEqual(mail.pending('a').map((e) => e.ct[0]), ['A', 'B']);
  now = 6001;
  mail.sweep();
  assert.deepStrictEqual([mail.pending('a').length, mail.count, mail.bytes], [0, 0, 0]);
});

test('certificates are kept and passed on in their signed fields only', async (t) => {
  const owner = await H.makeOwner();
  const relay = await H.startRelay({ ownerKey: owner.key });
  t.after(() => relay.stop());
  const [jo, kim, lu] = await Promise.all(['jo', 'kim', 'lu'].map((n) => H.makeMember(owner, n)));
  const sk = await H.signIn(relay.url, kim);
  t.after(() => sk.close());
  const junk = 'j'.repeat(400 * 1024);
  const padded = JSON.parse(JSON.stringify(jo.cert));
  padded.m.junk = junk;
  padded.extra = junk;
  padded.by.extra = junk;
  padded.by.from.m.junk = junk;
  const sj = await H.signIn(relay.url, Object.assign({}, jo, { cert: padded }), { dir: [padded] });
  t.after(() => sj.close());
  assert.strictEqual(sj.answer.t, 'welcome');
  const seen = await sk.next('member');
  assert.deepStrictEqual(seen.cert, jo.cert);
  const sl = await H.signIn(relay.url, lu);
  t.after(() => sl.close());
  const text = JSON.stringify(sl.answer);
  assert.ok(text.length < 16 * 1024, 'the welcome is ' + text.length + ' characters');
  assert.deepStrictEqual(sl.answer.dir.find((c) => c.m.name === 'jo'), jo.cert);
  assert.doesNotMatch(text, /junk|extra/);
});
