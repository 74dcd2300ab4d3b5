'use strict';
// The chat client's pure pieces, run outside a browser: the app sections are joined as the
// build joins them and loaded over a minimal stand-in for the DOM, so the functions inside
// the closure can be called directly.
const test = require('node:test');
const assert = require('node:assert/strict');
const P = require('../../web/protocol.js');
const { loadApp } = require('./load-app.js');

const EXPORTS = ['normalise', 'keyLabel', 'validPin', 'h', 'parseInvite', 'checkInvite', 'makeInviteCode', 'nameOf',
  'isFriend', 'isOnline', 'focused', 'dmId', 'ensureDm', 'themeId', 'healthUrl', 'initialData', 'failText', 'lookupSpoken', 'S'];

function load(opts = {}) {
  return loadApp(Object.assign({ exports: EXPORTS }, opts));
}

const plain = (x) => JSON.parse(JSON.stringify(x));

test('normalising an older vault', async (t) => {
  const app = load();
  await t.test('a vault from before the later fields opens with their defaults, and is saved', () => {
    const d = {
      v: 1, rooms: { general: { id: 'general', kind: 'general', name: 'General' } }, msgs: {}, unread: {},
      friends: { a: 'friend' }, settings: { panicCode: 'KeyB', panicGlobal: true, wipeSet: true, seenVersion: '1.0.0' },
    };
    assert.equal(app.normalise(d, 1000), true);
    for (const k of ['blocked', 'outbox', 'wanted', 'ann', 'pings', 'spoken']) assert.deepEqual(plain(d[k]), {}, k);
    assert.deepEqual(plain(d.friends), { a: 'friend' }, 'present fields stay');
    assert.deepEqual(plain(d.rooms.announcements), { id: 'announcements', kind: 'ann', name: 'Announcements' });
    assert.deepEqual(plain(d.settings), {
      panicCode: 'KeyB', panicGlobal: true, wipeSet: true, seenVersion: '1.0.0', notify: true, previews: true, startup: true,
    });
    assert.equal(app.normalise(d, 1000), false, 'a second pass changes nothing');
  });

  await t.test('notifications switched off stay off; a missing notify turns both on', () => {
    const d = { settings: { notify: false, previews: false, startup: false, panicCode: '', panicGlobal: false } };
    app.normalise(d, 1);
    assert.deepEqual([d.settings.notify, d.settings.previews, d.settings.startup, d.settings.panicCode], [false, false, false, '']);
    const e = { settings: { previews: false, panicCode: 'Escape', panicGlobal: false } };
    app.normalise(e, 1);
    assert.deepEqual([e.settings.notify, e.settings.previews], [true, true]);
  });

  await t.test('Tab as the black-out key becomes Escape', () => {
    const d = { settings: { panicCode: 'Tab', panicGlobal: true, notify: true, startup: true } };
    assert.equal(app.normalise(d, 1), true);
    assert.equal(d.settings.panicCode, 'Escape');
  });

  await t.test('spoken entries whose time has come are dropped', () => {
    const d = { spoken: { a: { id: 'a', exp: 999 }, b: { id: 'b', exp: 1000 }, c: { id: 'c', exp: 1001 }, d: null }, settings: {} };
    app.normalise(d, 1000);
    assert.deepEqual(Object.keys(d.spoken), ['c']);
  });
});

test('page helpers', async (t) => {
  const app = load();
  await t.test('h sets text as text and skips empty attributes and children', () => {
    let clicked = 0;
    const el = app.h('button', { class: 'btn', text: '<b>hi</b>', title: null, hidden: false, disabled: true, onclick: () => clicked++, 'data-x': 3 },
      ['a', [null, 'b', false, [7]]], app.h('i', null));
    assert.equal(el.textContent, '<b>hi</b>');
    assert.equal(el.className, 'btn');
    assert.deepEqual(plain(el.attrs), { disabled: '', 'data-x': '3' });
    assert.deepEqual(el.children.map((c) => c.text || c.tagName), ['a', 'b', '7', 'i']);
    el.listeners.click[0]();
    assert.equal(clicked, 1);
    const quiet = app.h('a', { onclick: 'alert(1)', onmouseover: null });
    assert.deepEqual(plain(quiet.attrs), {}, 'no inline handler from text');
    assert.deepEqual(quiet.listeners, {});
  });

  await t.test('PINs are 4 to 12 digits', () => {
    for (const ok of ['1234', '000000000000', '0042']) assert.equal(app.validPin(ok), true, ok);
    for (const bad of ['123', '1234567890123', '12a4', ' 1234', '１２３４', '']) assert.equal(app.validPin(bad), false, bad);
  });

  await t.test('key labels', () => {
    const cases = { '': 'none', Escape: 'Esc', KeyQ: 'Q', Digit3: '3', Backquote: '`', Minus: '-', Equal: '=', BracketLeft: '[',
      BracketRight: ']', Backslash: '\\', Semicolon: ';', Quote: "'", Comma: ',', Period: '.', Slash: '/', Space: 'Space',
      ArrowLeft: '←', ArrowRight: '→', ArrowUp: '↑', ArrowDown: '↓', F9: 'F9', Numpad1: 'Numpad1' };
    for (const [code, label] of Object.entries(cases)) assert.equal(app.keyLabel(code), label, code);
    assert.equal(app.keyLabel(undefined), 'none');
  });

  await t.test('unknown themes are kali', () => {
    for (const id of ['kali', 'kali-light', 'matrix', 'amber', 'midnight']) assert.equal(app.themeId(id), id);
    for (const id of [undefined, '', 'Matrix', 'solarized', '__proto__']) assert.equal(app.themeId(id), 'kali');
  });

  await t.test('the health address follows the relay address', () => {
    assert.equal(app.healthUrl(), 'https://relay.example:8443/health');
    assert.equal(load({ config: { SERVER: 'ws://127.0.0.1:8787' } }).healthUrl(), 'http://127.0.0.1:8787/health');
    assert.equal(load({ config: { SERVER: 'not a url' } }).healthUrl(), null);
  });

  await t.test('the keychain failure reads as words', () => {
    assert.equal(app.failText(new Error('keychain')), 'the system keychain refused to hand over the key that protects your data.');
    assert.equal(app.failText(new Error("Couldn't save")), "Couldn't save");
  });
});

test('client read helpers', () => {
  const app = load();
  const me = 'a'.repeat(32);
  const other = '0'.repeat(32);
  app.setD({ me, names: { [other]: 'old.name' }, friends: { [other]: 'friend', x: 'incoming' }, rooms: {} });
  assert.equal(app.nameOf(other), 'old.name');
  assert.equal(app.nameOf('f'.repeat(32)), 'someone');
  app.S.info[other] = { name: 'new.name' };
  assert.equal(app.nameOf(other), 'new.name');
  assert.equal(app.isFriend(other), true);
  assert.equal(app.isFriend('x'), false);
  assert.equal(app.dmId(other), `dm:${other}:${me}`);
  assert.equal(app.dmId(other), app.dmId(other));
  const room = app.ensureDm(other);
  assert.deepEqual(plain(room), { id: `dm:${other}:${me}`, kind: 'dm', with: other });
  assert.equal(app.ensureDm(other), room);
  assert.equal(app.isOnline(me), false);
  app.S.status = 'online';
  assert.equal(app.isOnline(me), true);
  app.S.online.add(other);
  assert.equal(app.isOnline(other), true);
  assert.equal(app.focused(), true, 'no host report: the page decides');
  app.S.fg = false;
  assert.equal(app.focused(), false);
  app.S.fg = true;
  app.S.away = true;
  assert.equal(app.focused(), false, 'away overrides');
});

test('invites as the client reads, checks and makes them', async (t) => {
  const ownerKeys = await P.generateKeys();
  const ownerCert = await P.ownerCert(ownerKeys, 'owner');
  const long = (inv) => 'MSW1.' + Buffer.from(JSON.stringify(inv)).toString('base64url');
  const inv = await P.makeInvite(ownerCert, ownerKeys, 24);
  const app = load();

  await t.test('reading', async () => {
    const got = await app.parseInvite('  ' + long(inv).slice(0, 30) + '\n\t' + long(inv).slice(30) + ' ');
    assert.deepEqual(plain(got), plain(inv));
    const b64 = 'MSW1.' + Buffer.from(JSON.stringify(inv)).toString('base64'); // with + / = is accepted too
    assert.deepEqual(plain(await app.parseInvite(b64)), plain(inv));
    for (const bad of [null, '', 'MSW1', 'MSW1.', 'MSW1.%%%', long({ g: inv.g }), long({ g: inv.g, k: 5 }), long({ g: 0, k: 'x' }),
      long([1]), 'MSW1.' + Buffer.from('null').toString('base64url'), 'msw1.' + long(inv).slice(5), 'MSW3.abc']) {
      assert.equal(await app.parseInvite(bad), null, String(bad).slice(0, 30));
    }
  });

  await t.test('short codes need the owner certificate built in', async () => {
    const code = await P.makeShortInvite(ownerKeys.sigPriv, 24);
    assert.equal(await app.parseInvite(code), null);
    const withCert = load({ config: { OWNER_CERT: ownerCert } });
    const a = await withCert.parseInvite(code.slice(0, 60) + ' \n ' + code.slice(60));
    const b = await withCert.parseInvite(code);
    assert.equal(a.k, b.k);
    assert.equal(await withCert.checkInvite(a), ownerKeys.sigPub);
    assert.equal(await withCert.parseInvite(code.slice(0, -1)), null);
  });

  await t.test('checking: only the owner may invite, and every signature must hold', async () => {
    assert.equal(await app.checkInvite(inv), ownerKeys.sigPub);
    const expired = await P.makeInvite(ownerCert, ownerKeys, -1);
    assert.equal(await app.checkInvite(expired), ownerKeys.sigPub, 'expiry is the caller\'s check');
    const moved = JSON.parse(JSON.stringify(inv));
    moved.g.exp += 1;
    assert.equal(await app.checkInvite(moved), null);
    const otherKeys = await P.generateKeys();
    const swapped = JSON.parse(JSON.stringify(inv));
    swapped.g.from = await P.ownerCert(otherKeys, 'owner');
    assert.equal(await app.checkInvite(swapped), null, 'signed by a different owner than it names');
    const memberKeys = await P.generateKeys();
    const memberCert = await P.acceptInvite(inv, memberKeys, 'member');
    assert.equal(await app.checkInvite(await P.makeInvite(memberCert, memberKeys, 1)), null);
    for (const junk of [null, {}, { g: null }, { g: { from: { m: {} } } }, { g: { ...inv.g, exp: String(inv.g.exp) }, k: inv.k }]) {
      assert.equal(await app.checkInvite(junk), null);
    }
  });

  await t.test('making codes on the owner\'s computer', async () => {
    const natives = { msw_owner_secret: async () => ownerKeys.sigPriv };
    const memberKeys = await P.generateKeys();
    const myCert = await P.acceptInvite(inv, memberKeys, 'owner.self');
    const d = { owner: ownerKeys.sigPub, cert: myCert };

    const plainBuild = load({ natives });
    plainBuild.setD(d);
    const longCode = await plainBuild.makeInviteCode(7);
    assert.match(longCode, /^MSW1\.[A-Za-z0-9_-]+$/);
    const read = await plainBuild.parseInvite(longCode);
    assert.equal(await plainBuild.checkInvite(read), ownerKeys.sigPub);
    const days = (read.g.exp - Date.now()) / 86400000;
    assert.ok(days > 6.99 && days <= 7, String(days));

    const certBuild = load({ natives, config: { OWNER_CERT: ownerCert } });
    certBuild.setD(d);
    const short = await certBuild.makeInviteCode(90);
    assert.equal(short.length, 117);
    assert.equal(await certBuild.checkInvite(await certBuild.parseInvite(short)), ownerKeys.sigPub);

    const otherNet = load({ natives, config: { OWNER_CERT: await P.ownerCert(await P.generateKeys(), 'x') } });
    otherNet.setD(d);
    assert.match(await otherNet.makeInviteCode(1), /^MSW1\./, 'a built-in certificate of another network makes a long code');

    const noKey = load({ natives: { msw_owner_secret: async () => null } });
    noKey.setD(d);
    assert.equal(await noKey.makeInviteCode(7), null);
    const badKey = load({ natives: { msw_owner_secret: async () => 'A'.repeat(120) } });
    badKey.setD(d);
    assert.equal(await badKey.makeInviteCode(7), null);
    const failing = load({ natives: { msw_owner_secret: () => Promise.reject(new Error('x')) } });
    failing.setD(d);
    assert.equal(await failing.makeInviteCode(7), null);
  });
});

test('the first vault data', () => {
  const app = load();
  const d = app.initialData('OWNER', 'ME', { sigPub: 'k' }, { m: { name: 'n' } }, { g: { ik: 'i' }, k: 'K', extra: 1 });
  assert.deepEqual(plain(d), {
    v: 1, server: 'wss://relay.example:8443/ws', owner: 'OWNER', me: 'ME', keys: { sigPub: 'k' }, cert: { m: { name: 'n' } },
    dir: { ME: { m: { name: 'n' } } }, names: {}, removals: null, pendingInvite: { g: { ik: 'i' }, k: 'K' },
    rooms: { general: { id: 'general', kind: 'general', name: 'General' }, announcements: { id: 'announcements', kind: 'ann', name: 'Announcements' } },
    msgs: {}, unread: {}, pings: {}, friends: {}, blocked: {}, wanted: {}, outbox: {}, receipts: {}, ann: {}, spoken: {},
    settings: { panicCode: 'Escape', panicGlobal: false, notify: true, previews: true, wipeSet: false, startup: true, seenVersion: '1.1.8' },
  });
  assert.equal(app.normalise(d, 1), false, 'a fresh record needs no repair');
});

test('damaged data is repaired, good data kept', () => {
  const app = load();
  const me = 'a'.repeat(32);
  const g = 'g:' + 'b'.repeat(32);
  const dm = 'dm:' + 'a'.repeat(32) + ':' + 'c'.repeat(32);
  const d = {
    rooms: { general: 5, [g]: { id: g, kind: 'group', name: 'x', members: [me], rv: 1 }, 'g:zz': { kind: 'group' },
      [dm]: { id: dm, kind: 'dm', with: 'c'.repeat(32) }, junk: { kind: 'group' } },
    msgs: { general: 'nope', [g]: [{ mid: '1', text: 'hi' }, null, { mid: 2 }], gone: [{ text: 'x' }] },
    outbox: { a: { payload: {}, to: [] }, b: null, c: { payload: 1, to: [] } },
    settings: {},
  };
  assert.equal(app.normalise(d, 1), true);
  assert.deepEqual(Object.keys(d.rooms).sort(), [dm, g, 'announcements', 'general'].sort());
  assert.equal(d.rooms.general.kind, 'general');
  assert.deepEqual(Object.keys(d.msgs), [g]);
  assert.deepEqual(plain(d.msgs[g]), [{ mid: '1', text: 'hi' }]);
  assert.deepEqual(Object.keys(d.outbox), ['a']);
});

test('spoken lookup without a server', async (t) => {
  await t.test('a socket that cannot even be made', async () => {
    class Refused { constructor() { throw new SyntaxError('bad address'); } }
    const app = load({ config: { SERVER: 'not a url' }, globals: { WebSocket: Refused } });
    assert.deepEqual(plain(await app.lookupSpoken('123412341234', () => {})), { err: "Couldn't reach the server." });
  });

  await t.test('a server that never answers: the slow notice at 3 s, giving up at 90 s, the socket closed', async () => {
    const timers = [];
    const fakeSet = (fn, ms) => { timers.push({ fn, ms, live: true }); return timers.length; };
    const fakeClear = (id) => { if (timers[id - 1]) timers[id - 1].live = false; };
    const sockets = [];
    class Silent { constructor(url) { this.url = url; this.closed = false; sockets.push(this); } close() { this.closed = true; } send() {} }
    const fetched = [];
    const app = load({ globals: { WebSocket: Silent, setTimeout: fakeSet, clearTimeout: fakeClear, fetch: (u, o) => { fetched.push([u, o]); return Promise.resolve(); } } });
    let slow = 0;
    const p = app.lookupSpoken('123412341234', () => { slow += 1; });
    assert.equal(sockets[0].url, 'wss://relay.example:8443/ws');
    assert.deepEqual(plain(fetched), [['https://relay.example:8443/health', { mode: 'no-cors', cache: 'no-store' }]]);
    const fire = (ms) => timers.filter((x) => x.live && x.ms === ms).forEach((x) => { x.live = false; x.fn(); });
    fire(3000);
    assert.equal(slow, 1);
    fire(90000);
    assert.deepEqual(plain(await p), { err: "Couldn't reach the server. Check your internet connection, then try again." });
    assert.equal(sockets[0].closed, true);
    assert.equal(timers.filter((x) => x.live).length, 0, 'every timer cleared');
    sockets[0].onclose && sockets[0].onclose();
  });
});
