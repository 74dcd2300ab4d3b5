'use strict';
// Members who joined with the owner tool's invites talking through the real relay: presence,
// General messages in order and as text, mentions and their notification, pending marks and
// the outbox, messages written while the relay is down, and a relay restart.
const test = require('node:test');
const assert = require('node:assert/strict');
const H = require('./harness.js');
const N = require('./chatnet.js');

let net, ann, bo;
N.world(['ann', 'bo'], (w) => ({ net, ann, bo } = w));

test('two members in General', { timeout: 120000 }, async (t) => {
  await t.test('each sees the other online', async () => {
    for (const [s, other] of [[ann, bo], [bo, ann]]) {
      await s.page.click('#navFriends');
      await s.page.click('#friendsPane .tab[data-tab="add"]');
      await s.page.waitForSelector(`#friendsBody .frow[data-id="${other.id}"] .st.on`, { timeout: 20000 });
    }
  });

  await t.test('messages arrive in order with their sender, as text, and the mention is marked', async () => {
    await N.openGeneral(ann.page);
    await N.openGeneral(bo.page);
    await bo.page.evaluate(() => window.MswFocus(false));
    const texts = ['<b>one</b> <img src=x onerror=alert(1)>', 'two', 'three @bo.'];
    for (const text of texts) await N.say(ann.page, text);
    await N.waitLine(bo.page, texts[2]);
    const got = (await N.lines(bo.page)).filter((l) => !l.sys);
    assert.deepEqual(got.map((l) => l.text), texts);
    assert.deepEqual(got.map((l) => l.who), ['ann', 'ann', 'ann']);
    assert.deepEqual(got.map((l) => l.pinged), [false, false, true]);
    assert.equal(await bo.page.$$eval('#log img, #log b:not(.who)', (e) => e.length), 0, 'markup stays text');
    const notes = await N.calls(bo.page, 'msw_notify');
    assert.deepEqual(notes, [['ann mentioned you in General', 'three @bo.']]);
    const d = await bo.page.evaluate(() => ({ unread: Vault.data.unread.general, ping: Vault.data.pings.general }));
    assert.deepEqual(d, { unread: 3, ping: true }, 'unseen while the window is not in use');
  });

  await t.test('the pending mark clears on sent and the outbox empties on the receipt', async () => {
    await ann.page.waitForFunction(() => document.querySelectorAll('#log .m.me').length === 3 &&
      !document.querySelector('#log .m.pending'));
    await ann.page.waitForFunction(() => Object.keys(Vault.data.outbox).length === 0, null, { timeout: 15000 });
    const stored = await ann.page.evaluate(() => Vault.data.msgs.general.filter((m) => !m.sys).map((m) => m.st));
    assert.deepEqual(stored, [undefined, undefined, undefined]);
  });
  assert.deepEqual(N.problems(ann), []);
  assert.deepEqual(N.problems(bo), []);
});

test('the relay goes down and comes back with a new boot', { timeout: 180000 }, async (t) => {
  await N.openGeneral(ann.page);
  await N.openGeneral(bo.page);
  await t.test('a message written while the relay is down stays pending', async () => {
    await net.stop();
    await ann.page.waitForSelector('#netDot:not(.on)');
    await N.say(ann.page, 'while you slept');
    await ann.page.waitForSelector('#log .m.me.pending');
    assert.equal(await ann.page.isVisible('#log .m.me.pending .conn'), true, 'a pending line says so while offline');
    const banner = await ann.page.textContent('#banner');
    assert.match(banner, /Connecting… the server can take up to a minute to wake up\.|Disconnected/);
  });

  await t.test('after the restart every stored message is gone except the held one, which is delivered once', async () => {
    await net.start();
    await N.online(ann.page, 60000);
    await N.online(bo.page, 60000);
    await N.waitLine(bo.page, 'while you slept');
    await ann.page.waitForFunction(() => !document.querySelector('#log .m.pending'));
    const restart = 'The server went offline, so every message was deleted. Messages only last while the server is running.';
    for (const s of [ann, bo]) {
      const got = await N.lines(s.page);
      assert.equal(got[0].sys, true);
      assert.match(await s.page.$eval('#log > .sys', (e) => e.textContent), new RegExp(restart.slice(0, 30)));
      assert.ok(!got.some((l) => l.text === 'two'), 'older messages are deleted');
    }
    const atBo = (await N.lines(bo.page)).filter((l) => l.text === 'while you slept');
    assert.equal(atBo.length, 1);
    const bootSaved = await bo.page.evaluate(() => Vault.data.serverBoot);
    assert.equal(typeof bootSaved, 'string');
  });

  await t.test('a member who was locked gets what was sent meanwhile at the next unlock', async () => {
    await bo.page.reload();
    await H.waitScreen(bo.page, 'sUnlock');
    await N.say(ann.page, 'for later');
    await ann.page.waitForFunction(() => !document.querySelector('#log .m.pending'));
    await H.unlockWith(bo.page, bo.pin);
    await H.waitScreen(bo.page, 'sMain', 30000);
    await N.openGeneral(bo.page);
    await N.waitLine(bo.page, 'for later');
    assert.equal((await N.lines(bo.page)).filter((l) => l.text === 'for later').length, 1);
  });
  assert.deepEqual(N.problems(ann), []);
  assert.deepEqual(N.problems(bo), []);
});
