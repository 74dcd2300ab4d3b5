'use strict';
const test = require('node:test');
const assert = require('node:assert');
const H = require('./helpers.js');

test('delivery', async (t) => {
  const owner = await H.makeOwner();
  const relay = await H.startRelay({ ownerKey: owner.key });
  t.after(() => relay.stop());
  const open = [];
  t.after(() => open.forEach((s) => s.close()));
  const signIn = async (m) => {
    const s = await H.signIn(relay.url, m);
    assert.strictEqual(s.answer.t, 'welcome');
    open.push(s);
    return s;
  };
  const [amy, ben, cal] = await Promise.all(['amy', 'ben', 'cal'].map((n) => H.makeMember(owner, n)));
  const sa = await signIn(amy);
  const sb = await signIn(ben);
  const sc = await signIn(cal);

  await t.test('one env per recipient, with only its own key, the sender as from, a receive time and a unique eid', async () => {
    const before = Date.now();
    sa.send(await H.sealFor(amy, { k: 'msg', text: 'hi both' }, [ben, cal], { ref: 'm1' }));
    assert.deepStrictEqual(await sa.next(['sent', 'error']), { t: 'sent', ref: 'm1' });
    const eb = await sb.next('env');
    const ec = await sc.next('env');
    for (const e of [eb, ec]) {
      assert.strictEqual(e.from, amy.id);
      assert.ok(e.at >= before && e.at <= Date.now());
      assert.match(e.eid, /^[0-9a-f]+$/);
      assert.strictEqual(e.key.length, 56);
      assert.deepStrictEqual(Object.keys(e).sort(), ['at', 'ct', 'eid', 'from', 'iv', 'key', 't']);
    }
    assert.notStrictEqual(eb.eid, ec.eid);
    assert.notStrictEqual(eb.key, ec.key);
    assert.deepStrictEqual(await H.openEnv(ben, eb, amy), { k: 'msg', text: 'hi both' });
    assert.deepStrictEqual(await H.openEnv(cal, ec, amy), { k: 'msg', text: 'hi both' });
    sb.send({ t: 'ack', eids: [eb.eid] });
    sc.send({ t: 'ack', eids: [ec.eid] });
    assert.deepStrictEqual(await H.quiet(sa, ['env']), [], 'the sender was not a recipient');
  });

  await t.test('a from field in the frame cannot speak for somebody else', async () => {
    const frame = await H.sealFor(amy, 'x', [ben], { from: cal.id, ref: 7 });
    sa.send(frame);
    assert.strictEqual((await sa.next('sent')).ref, 7);
    const e = await sb.next('env');
    assert.strictEqual(e.from, amy.id);
    sb.send({ t: 'ack', eids: [e.eid] });
  });

  await t.test('unacknowledged envelopes come again at the next sign-in; acknowledged ones do not', async () => {
    sa.send(await H.sealFor(amy, 'one', [ben]));
    sa.send(await H.sealFor(amy, 'two', [ben]));
    assert.deepStrictEqual([await sa.next('sent'), await sa.next('sent')], [{ t: 'sent' }, { t: 'sent' }]);
    const e1 = await sb.next('env');
    const e2 = await sb.next('env');
    sb.send({ t: 'ack', eids: [e1.eid, 'not-an-eid', 42] });
    await H.barrier(sb);
    sb.close();
    const again = await signIn(ben);
    const e = await again.next('env');
    assert.strictEqual(e.eid, e2.eid);
    assert.strictEqual(await H.openEnv(ben, e, amy), 'two');
    assert.deepStrictEqual(await H.quiet(again, ['env'], 200), []);
    again.send({ t: 'ack', eids: [e.eid] });
    await H.barrier(again);
    again.close();
    const third = await signIn(ben);
    assert.deepStrictEqual(await H.quiet(third, ['env'], 200), []);
  });

  await t.test('envelopes wait for an offline member in order, and an expired ttl drops them', async () => {
    const dee = await H.makeMember(owner, 'dee');
    const sd = await signIn(dee);
    sd.close();
    for (;;) {
      const p = await sa.next('presence');
      if (p.id === dee.id && !p.on) break;
    }
    sa.send(await H.sealFor(amy, 'short-lived', [dee], { ref: 'a', ttl: 150 }));
    sa.send(await H.sealFor(amy, 'kept 1', [dee], { ref: 'b', ttl: 86400000 }));
    sa.send(await H.sealFor(amy, 'kept 2', [dee], { ref: 'c' }));
    for (const ref of ['a', 'b', 'c']) assert.strictEqual((await sa.next('sent')).ref, ref);
    await new Promise((r) => setTimeout(r, 300));
    const back = await signIn(dee);
    const got = [];
    for (let i = 0; i < 2; i++) got.push(await H.openEnv(dee, await back.next('env'), amy));
    assert.deepStrictEqual(got, ['kept 1', 'kept 2']);
    assert.deepStrictEqual(await H.quiet(back, ['env'], 200), []);
  });

  await t.test('unknown recipients are skipped; a send with none known is an error with the ref', async () => {
    const ghost = await H.makeMember(owner, 'ghost'); // never signed in: unknown to the relay
    sa.send(await H.sealFor(amy, 'to ghost', [ghost], { ref: 'g1' }));
    const err = await sa.next(['sent', 'error']);
    assert.deepStrictEqual([err.t, err.ref], ['error', 'g1']);
    assert.match(err.msg, /recipient/);
    sa.send(await H.sealFor(amy, 'mixed', [ghost, ben], { ref: 'g2' }));
    assert.deepStrictEqual(await sa.next(['sent', 'error']), { t: 'sent', ref: 'g2' });
  });

  await t.test('a member does not hear its own presence or member frames back', async () => {
    assert.deepStrictEqual(sa.drain(['presence']).filter((p) => p.id === amy.id), []);
  });
});

test('a restart brings a new boot id and forgets every envelope', async (t) => {
  const owner = await H.makeOwner();
  const relay = await H.startRelay({ ownerKey: owner.key });
  const [eve, fin] = await Promise.all([H.makeMember(owner, 'eve'), H.makeMember(owner, 'fin')]);
  const se = await H.signIn(relay.url, eve);
  const sf = await H.signIn(relay.url, fin);
  sf.close();
  se.send(await H.sealFor(eve, 'lost on restart', [fin], { ref: 'r' }));
  assert.strictEqual((await se.next('sent')).ref, 'r');
  const firstBoot = se.hello.boot;
  se.close();
  await relay.stop();

  const again = await H.startRelay({ ownerKey: owner.key, port: relay.port });
  t.after(() => again.stop());
  // The directory comes back from the members' own sign-ins.
  const se2 = await H.signIn(again.url, eve, { dir: [eve.cert, fin.cert] });
  t.after(() => se2.close());
  assert.notStrictEqual(se2.hello.boot, firstBoot);
  const sf2 = await H.signIn(again.url, fin);
  t.after(() => sf2.close());
  assert.strictEqual(sf2.answer.t, 'welcome');
  assert.deepStrictEqual(await H.quiet(sf2, ['env'], 300), []);
  se2.send(await H.sealFor(eve, 'after', [fin], { ref: 's' }));
  assert.strictEqual((await se2.next('sent')).ref, 's');
  assert.strictEqual(await H.openEnv(fin, await sf2.next('env'), eve), 'after');
});

test('bounds', async (t) => {
  const owner = await H.makeOwner();
  const [gus, hal, ivy] = await Promise.all(['gus', 'hal', 'ivy'].map((n) => H.makeMember(owner, n)));
  const members = async (env) => {
    const relay = await H.startRelay({ ownerKey: owner.key, env });
    t.after(() => relay.stop());
    const socks = [];
    for (const m of [gus, hal, ivy]) socks.push(await H.signIn(relay.url, m));
    t.after(() => socks.forEach((s) => s.close()));
    return socks;
  };

  await t.test('a full queue refuses with error; the sender learns it and others still get theirs', async () => {
    const [sg, sh, si] = await members({ RELAY_MAX_QUEUE: '3' });
    sh.close();
    const answers = [];
    for (let i = 0; i < 4; i++) {
      sg.send(await H.sealFor(gus, 'q' + i, [hal], { ref: 'q' + i }));
      answers.push(await sg.next(['sent', 'error']));
    }
    assert.deepStrictEqual(answers.map((a) => a.t), ['sent', 'sent', 'sent', 'error']);
    assert.match(answers[3].msg, /can't take more messages/);
    assert.strictEqual(answers[3].ref, 'q3');
    sg.send(await H.sealFor(gus, 'to ivy', [ivy], { ref: 'iv' }));
    assert.strictEqual((await sg.next(['sent', 'error'])).t, 'sent');
    assert.strictEqual(await H.openEnv(ivy, await si.next('env'), gus), 'to ivy');
  });

  await t.test('the total queued bytes are bounded, and acknowledging frees the room again', async () => {
    const [sg, sh] = await members({ RELAY_MAX_TOTAL_MIB: '1' });
    sh.close();
    const big = await H.sealFor(gus, 'x'.repeat(40000), [hal]);
    const answers = [];
    for (let i = 0; i < 30; i++) {
      sg.send(Object.assign({}, big, { ref: i }));
      const a = await sg.next(['sent', 'error']);
      answers.push(a.t);
      if (a.t === 'error') break;
    }
    const accepted = answers.filter((a) => a === 'sent').length;
    assert.strictEqual(answers[answers.length - 1], 'error');
    assert.ok(accepted >= 10 && accepted < 30, accepted + ' accepted');
    const back = await H.signIn(sg.ws.url, hal);
    t.after(() => back.close());
    const eids = [];
    for (let i = 0; i < accepted; i++) eids.push((await back.next('env')).eid);
    back.send({ t: 'ack', eids });
    await H.barrier(back);
    sg.send(Object.assign({}, big, { ref: 'again' }));
    assert.deepStrictEqual(await sg.next(['sent', 'error']), { t: 'sent', ref: 'again' });
  });

  await t.test('sending faster than the limit is answered with error and the ref; the rest of the relay goes on', async () => {
    const [sg, , si] = await members({ RELAY_SEND_BURST: '5', RELAY_SEND_RATE: '1' });
    const frame = await H.sealFor(ivy, 'burst', [gus]);
    for (let i = 0; i < 12; i++) si.send(Object.assign({}, frame, { ref: 'b' + i }));
    const got = [];
    for (let i = 0; i < 12; i++) got.push(await si.next(['sent', 'error']));
    const errors = got.filter((a) => a.t === 'error');
    assert.ok(errors.length >= 5, 'some sends were refused: ' + got.map((a) => a.t).join(','));
    assert.match(errors[0].msg, /too fast/);
    assert.ok(got.slice(0, 5).every((a) => a.t === 'sent'), 'the burst went through');
    // Another member is not slowed by it.
    sg.send(await H.sealFor(gus, 'still fine', [ivy], { ref: 'ok' }));
    assert.strictEqual((await sg.next(['sent', 'error'])).t, 'sent');
  });
});
