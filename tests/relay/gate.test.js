'use strict';
// The bound on unsigned connections: who gives way when a newcomer arrives.
const test = require('node:test');
const assert = require('node:assert');
const { Gate, addressKey, requestAddress } = require('../../relay/gate.js');

const conn = (name, addr, busy = false) => ({ name, addr, busy: () => busy });

test('a newcomer makes the oldest idle connection give way, first of its own address', () => {
  const gate = new Gate({ max: 4, maxPerAddress: 2 });
  const a1 = conn('a1', 'A', true); // in the middle of a sign-in check
  const a2 = conn('a2', 'A');
  const b1 = conn('b1', 'B');
  const c1 = conn('c1', 'C');
  for (const c of [a1, a2, b1, c1]) assert.deepStrictEqual(gate.enter(c), []);
  // A's share is full: its oldest idle one goes, not the busy one.
  assert.deepStrictEqual(gate.enter(conn('a3', 'A')).map((c) => c.name), ['a2']);
  // The pool is full: the oldest idle one of any address goes.
  assert.deepStrictEqual(gate.enter(conn('d1', 'D')).map((c) => c.name), ['b1']);
  assert.strictEqual(gate.size, 4);
  // Leaving twice counts once.
  assert.strictEqual(gate.leave(c1), true);
  assert.strictEqual(gate.leave(c1), false);
  assert.deepStrictEqual(gate.enter(conn('e1', 'E')), []);
  // When every one is busy, the oldest still makes room: nobody is turned away.
  const busy = new Gate({ max: 2, maxPerAddress: 2 });
  const x = conn('x', 'X', true);
  busy.enter(x);
  busy.enter(conn('y', 'Y', true));
  assert.deepStrictEqual(busy.enter(conn('z', 'Z')).map((c) => c.name), ['x']);
});

test('addresses are counted by IPv4 address and by IPv6 /64', () => {
  assert.strictEqual(addressKey('::ffff:192.0.2.7'), '192.0.2.7');
  assert.strictEqual(addressKey('192.0.2.7'), '192.0.2.7');
  assert.strictEqual(addressKey('2001:db8:1:2:aaaa::1'), addressKey('2001:db8:1:2::ffff'));
  assert.notStrictEqual(addressKey('2001:db8:1:2::1'), addressKey('2001:db8:1:3::1'));
  assert.strictEqual(addressKey(undefined), '?');
});

test('behind a trusted proxy on this host, connections count under the address it names', () => {
  const req = (peer, realIp) => ({ socket: { remoteAddress: peer }, headers: realIp ? { 'x-real-ip': realIp } : {} });
  assert.strictEqual(requestAddress(req('127.0.0.1', '198.51.100.4'), true), '198.51.100.4');
  assert.strictEqual(requestAddress(req('::ffff:127.0.0.1', '2001:db8:5:6::9'), true), '2001:db8:5:6::/64');
  // Not trusted, not from this host, or not an address: the peer counts.
  assert.strictEqual(requestAddress(req('127.0.0.1', '198.51.100.4'), false), '127.0.0.1');
  assert.strictEqual(requestAddress(req('203.0.113.9', '198.51.100.4'), true), '203.0.113.9');
  assert.strictEqual(requestAddress(req('127.0.0.1', 'everyone, all at once'), true), '127.0.0.1');
  assert.strictEqual(requestAddress(req('127.0.0.1'), true), '127.0.0.1');
});
