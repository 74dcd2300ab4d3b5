'use strict';
const test = require('node:test');
const assert = require('node:assert');
const http = require('node:http');
const H = require('./helpers.js');

function get(url, method = 'GET') {
  return new Promise((resolve, reject) => {
    const req = http.request(url, { method }, (res) => {
      let body = '';
      res.on('data', (d) => (body += d));
      res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, body }));
    });
    req.on('error', reject);
    req.end();
  });
}

test('bad input never crashes the relay or touches other clients', async (t) => {
  const owner = await H.makeOwner();
  const relay = await H.startRelay({ ownerKey: owner.key, env: { RELAY_MAX_PENDING: '4' } });
  t.after(() => relay.stop());
  const [vic, wes] = await Promise.all([H.makeMember(owner, 'vic'), H.makeMember(owner, 'wes')]);
  const sv = await H.signIn(relay.url, vic);
  const sw = await H.signIn(relay.url, wes);
  t.after(() => [sv, sw].forEach((s) => s.close()));

  await t.test('GET /health answers 200 on the same port; other paths and methods do not', async () => {
    const ok = await get(relay.http + '/health');
    assert.strictEqual(ok.status, 200);
    assert.strictEqual(JSON.parse(ok.body).ok, true);
    assert.strictEqual(ok.headers['access-control-allow-origin'], '*');
    assert.strictEqual((await get(relay.http + '/')).status, 404);
    assert.strictEqual((await get(relay.http + '/health', 'POST')).status, 405);
  });

  await t.test('frames that are not JSON objects with a type are answered with error', async () => {
    // From a member: answered, and the connection goes on.
    for (const bad of ['{not json', '[1,2]', '42', '"auth"', 'null', '{"t":5}', '{}']) {
      sv.send(bad);
      assert.ok((await sv.next('error')).msg.length > 0, bad);
    }
    sv.ws.send(Buffer.from([0xff, 0xfe, 0x00, 0x01]));
    assert.match((await sv.next('error')).msg, /not JSON/);
    for (const type of ['nonsense', '__proto__', 'constructor', 'hasOwnProperty']) {
      sv.send({ t: type });
      assert.match((await sv.next('error')).msg, /Unknown frame type/, type);
    }
    await H.barrier(sv);
    // Before sign-in: answered, and that connection is closed.
    for (const bad of ['{not json', '{"t":"nonsense"}']) {
      const s = await H.FrameSocket.open(relay.url);
      await s.next('hello');
      s.send(bad);
      assert.ok((await s.next('error')).msg.length > 0);
      assert.strictEqual((await s.whenClosed()).code, 1008);
    }
  });

  await t.test('member frames before sign-in are refused and end the connection', async () => {
    const s = await H.FrameSocket.open(relay.url);
    t.after(() => s.close());
    await s.next('hello');
    s.send(await H.sealFor(vic, 'sneaky', [wes], { ref: 'r' }));
    const e = await s.next('error');
    assert.deepStrictEqual([e.ref, e.msg], ['r', 'Sign in first.']);
    assert.strictEqual((await s.whenClosed()).code, 1008);
    assert.deepStrictEqual(await H.quiet(sw, ['env'], 100), []);
  });

  await t.test('send frames with wrong field types are answered with error and deliver nothing', async () => {
    const good = await H.sealFor(vic, 'fine', [wes]);
    const key = good.keys[wes.id];
    const bad = [
      { iv: 5 },
      { iv: 'short' },
      { ct: { a: 1 } },
      { ct: '' },
      { ct: 'A'.repeat(70000) },
      { keys: [] },
      { keys: null },
      { keys: {} },
      { keys: { ['__proto__']: key } },
      { keys: { [wes.id.toUpperCase()]: key } },
      { keys: { [wes.id]: key + 'A' } },
      { keys: { [wes.id]: 12 } },
      { ttl: -5 },
      { ttl: '100' },
      { ref: { x: 1 } },
      { ref: 'r'.repeat(65) },
    ];
    for (const change of bad) {
      const frame = Object.assign({}, good, change, { ref: change.ref === undefined ? 'bad' : change.ref });
      sv.send(JSON.stringify(frame));
      const e = await sv.next(['error', 'sent']);
      assert.strictEqual(e.t, 'error', JSON.stringify(change).slice(0, 80));
      if (change.ref === undefined) assert.strictEqual(e.ref, 'bad');
    }
    sv.send({ t: 'ack', eids: 'all' });
    assert.match((await sv.next('error')).msg, /eids/);
    assert.deepStrictEqual(await H.quiet(sw, ['env'], 200), []);
  });

  await t.test('records that fail their checks are refused without effect', async () => {
    sv.send({ t: 'announce', ann: 'text' });
    sv.send({ t: 'announce' });
    sv.send({ t: 'spoken_put', entries: 'x' });
    sv.send({ t: 'removals', removals: { v: 'nine', ids: 3 } });
    sv.send({ t: 'spoken_put', entries: new Array(21).fill({}) });
    assert.match((await sv.next('error')).msg, /entries must be a list/);
    assert.match((await sv.next('error')).msg, /entries must be a list/);
    assert.deepStrictEqual(await H.quiet(sw, ['ann', 'spoken', 'removals', 'removed'], 200), []);
  });

  await t.test('deeply nested JSON is refused like any other malformed field', async () => {
    const deep = '['.repeat(200000) + ']'.repeat(200000);
    const frame = JSON.stringify(await H.sealFor(vic, 'x', [wes], { ref: 'deep' }));
    sv.send(frame.replace(/"iv":"[^"]*"/, '"iv":' + deep));
    assert.strictEqual((await sv.next(['error', 'sent'], 10000)).ref, 'deep');
    sv.send(frame.replace(/"keys":\{/, '"keys":{"x":' + deep + ','));
    assert.strictEqual((await sv.next(['error', 'sent'], 10000)).t, 'error');
  });

  await t.test('an oversized frame closes only its own connection', async () => {
    const s = await H.FrameSocket.open(relay.url);
    await s.next('hello');
    s.send('{"t":"spoken_get","pad":"' + 'x'.repeat(9 * 1024 * 1024) + '"}');
    const closed = await s.whenClosed(10000);
    assert.strictEqual(closed.code, 1009);
  });

  await t.test('a flood of frames is cut off with an error, and the relay keeps serving others', async () => {
    const flooder = await H.makeMember(owner, 'flooder');
    const s = await H.signIn(relay.url, flooder);
    t.after(() => s.close());
    for (let i = 0; i < 800; i++) s.send({ t: 'spoken_get' });
    await s.next('error', 5000).then((e) => assert.match(e.msg, /Too many frames/));
    const lists = await H.quiet(s, ['spoken_list'], 300);
    assert.ok(lists.length < 800 && lists.length >= 390, 'answered ' + lists.length);
  });

  await t.test('strangers holding every unsigned slot never lock a newcomer out', async () => {
    // Some connections from the earlier subtests may still stand open unsigned; fill
    // the pool of four several times over.
    const idle = [];
    for (let i = 0; i < 12; i++) {
      const s = await H.FrameSocket.open(relay.url);
      idle.push(s);
      await s.next('hello');
    }
    t.after(() => idle.forEach((s) => s.close()));
    const closed = await Promise.all(idle.slice(0, 8).map((s) => s.whenClosed(2000)));
    assert.ok(closed.every((c) => c.code === 1013), 'the oldest idle ones made room');
    const s = await H.signIn(relay.url, await H.makeMember(owner, 'newcomer'));
    t.after(() => s.close());
    assert.strictEqual(s.answer.t, 'welcome');
  });

  await t.test('after all that the relay is alive and delivering', async () => {
    assert.ok(relay.alive());
    sv.send(await H.sealFor(vic, 'still here', [wes], { ref: 'end' }));
    assert.strictEqual((await sv.next('sent')).ref, 'end');
    assert.strictEqual(await H.openEnv(wes, await sw.next('env'), vic), 'still here');
    assert.doesNotMatch(relay.stderr(), /failed/);
  });
});
