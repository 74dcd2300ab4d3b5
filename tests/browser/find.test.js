'use strict';
// Finding and reaching things without a mouse, and seeing what was delivered, on the real
// relay: the search over every chat, the chat switcher and the keys between chats, the
// log's keys, dialogs that keep and give back the focus, and the marks of own lines driven
// by the other members' real receipts.
const test = require('node:test');
const assert = require('node:assert/strict');
const H = require('./harness.js');
const N = require('./chatnet.js');

let w;
N.world(['ann', 'bo', 'cy'], async (world) => {
  w = world;
  await N.befriend(w.ann, w.bo);
  await N.befriend(w.ann, w.cy);
  // ann's history: a General of 500 whose oldest line mentions the café, a direct message
  // and a group, written straight into the vault.
  await w.ann.page.evaluate(([bo, cy]) => {
    const d = Vault.data;
    d.settings.panicCode = 'F9';
    const now = Date.now();
    const g = [{ mid: 'old', from: bo, text: 'Émile says the CAFÉ opens at nine', at: now - 600 * 60000 }];
    for (let i = 1; i < 500; i++) g.push({ mid: 'g' + i, from: i % 2 ? bo : d.me, text: 'line ' + i, at: now - (600 - i) * 60000 });
    d.msgs.general = g;
    const dm = 'dm:' + [d.me, bo].sort().join(':');
    d.rooms[dm] = { id: dm, kind: 'dm', with: bo };
    d.msgs[dm] = [{ mid: 'd1', from: bo, text: 'meet at the cafe?', at: now - 30 * 60000 }];
    const grp = 'g:' + 'e'.repeat(32);
    d.rooms[grp] = { id: grp, kind: 'group', name: 'Crew', members: [d.me, bo, cy], rv: now - 99 };
    d.msgs[grp] = [{ mid: 'c1', from: d.me, text: 'Cafe crew, assemble', at: now - 20 * 60000 }];
    Vault.save();
  }, [w.bo.id, w.cy.id]);
  await N.openGeneral(w.ann.page);
});

const focused = (page) => page.evaluate(() => {
  const a = document.activeElement;
  return a ? a.id || a.getAttribute('data-mid') || a.className : null;
});

test('search: every kind of chat, any case and accent, newest first, a jump beyond the drawn lines', { timeout: 120000 }, async () => {
  const page = w.ann.page;
  await page.keyboard.press('Control+f');
  await page.waitForSelector('#modalCard[data-kind="search"] input');
  await page.keyboard.type('cafe');
  await page.waitForFunction(() => document.querySelectorAll('#pickList .pick-opt').length === 3);
  const found = await page.$$eval('#pickList .pick-opt', (els) => els.map((e) => [e.querySelector('.pick-room').textContent,
    e.querySelector('.pick-who').textContent, e.querySelector('mark').textContent]));
  assert.deepEqual(found, [['Crew', 'ann', 'Cafe'], ['bo', 'bo', 'cafe'], ['# General', 'bo', 'CAFÉ']]);
  await page.fill('#modalCard input', 'ÉMILE');
  await page.waitForFunction(() => document.querySelectorAll('#pickList .pick-opt').length === 1);
  await page.keyboard.press('Enter');
  await page.waitForSelector('#log .m.flash[data-mid="old"]');
  assert.equal(await page.isHidden('#modal'), true);
  assert.equal(await focused(page), 'old', 'the found line has the focus');
  // Escape closes the search and gives the focus back to where it was.
  await page.click('#searchBtn');
  await page.waitForSelector('#modalCard[data-kind="search"] input');
  await page.keyboard.press('Escape');
  await page.waitForSelector('#modal.hidden', { state: 'attached' });
  assert.equal(await focused(page), 'searchBtn');
});

test('keys between chats: Alt or Ctrl with Up and Down, and Ctrl+K by name', { timeout: 60000 }, async () => {
  const page = w.ann.page;
  await N.openGeneral(page);
  await page.keyboard.press('Alt+ArrowDown');
  await page.waitForFunction(() => document.getElementById('roomTitle').textContent === 'Announcements');
  await page.keyboard.press('Control+ArrowUp');
  await page.waitForFunction(() => document.getElementById('roomTitle').textContent === '# General');
  await page.keyboard.press('Control+k');
  await page.waitForSelector('#modalCard[data-kind="switch"] input');
  await page.keyboard.type('cre');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => document.getElementById('roomTitle').textContent === 'Crew');
});

test('the log by keyboard: Tab reaches it from the chats, Up and Down move, R replies', { timeout: 60000 }, async () => {
  const page = w.ann.page;
  await N.openGeneral(page);
  await page.focus('#navGeneral');
  let steps = 0;
  while ((await focused(page)) !== 'log' && steps++ < 30) await page.keyboard.press('Tab');
  assert.equal(await focused(page), 'log', 'Tab reaches the log');
  await page.keyboard.press('ArrowUp');
  assert.equal(await focused(page), 'g499');
  await page.keyboard.press('ArrowUp');
  assert.equal(await focused(page), 'g498');
  await page.keyboard.press('r');
  await page.waitForSelector('#replyBar:not(.hidden)');
  assert.match(await page.textContent('#replyText'), /^Replying to ann line 498$/);
  assert.equal(await focused(page), 'msg', 'then the composer writes the reply');
  await page.keyboard.press('Shift+Tab');
  assert.notEqual(await focused(page), 'msg');
  await page.click('#replyX');
});

test('a dialog keeps the keyboard inside and gives it back when it closes', { timeout: 60000 }, async () => {
  const page = w.ann.page;
  await page.focus('#settingsBtn');
  await page.keyboard.press('Enter');
  await page.waitForSelector('#modalCard[data-kind="settings"]');
  for (let i = 0; i < 60; i++) {
    await page.keyboard.press(i % 3 ? 'Tab' : 'Shift+Tab');
    assert.ok(await page.evaluate(() => document.getElementById('modalCard').contains(document.activeElement)), 'the focus left the dialog');
  }
  await page.click('#modalCard .row.end button:text-is("Close")');
  assert.equal(await focused(page), 'settingsBtn');
});

test('own lines: sent, delivered to some of General, delivered to all once every receipt came', { timeout: 180000 }, async () => {
  const { ann, bo, cy } = w;
  for (const s of [ann, bo, cy]) await N.openGeneral(s.page);
  const mark = (text) => ann.page.evaluate((t) => {
    const line = [...document.querySelectorAll('#log .m.me')].find((e) => e.querySelector('.text').textContent === t);
    const dv = line && line.querySelector('.dv');
    return dv ? [dv.textContent, dv.title] : null;
  }, text);
  // A line from someone else is told to a screen reader with who wrote it.
  await N.say(bo.page, 'hello from bo');
  await N.waitLine(ann.page, 'hello from bo');
  assert.equal((await ann.page.textContent('#announcer')).trim(), 'bo: hello from bo');
  await N.say(ann.page, 'everyone here');
  await ann.page.waitForFunction(() => [...document.querySelectorAll('#log .dv.done')].some((e) => e.closest('.m').querySelector('.text').textContent === 'everyone here'), null, { timeout: 30000 });
  assert.deepEqual(await mark('everyone here'), ['✓✓', 'Delivered']);

  // cy's program ends; what ann sends now reaches bo only, for a while.
  await cy.page.evaluate(() => window.MswQuit());
  await cy.page.goto('about:blank');
  await N.say(ann.page, 'while cy is away');
  await ann.page.waitForFunction(() => { const e = [...document.querySelectorAll('#log .m.me')].pop(); return e && e.querySelector('.dv') && /1 of 2/.test(e.querySelector('.dv').title); }, null, { timeout: 30000 });
  assert.deepEqual(await mark('while cy is away'), ['✓', 'Delivered to 1 of 2']);
  await cy.page.goto(w.net.site.url + 'index.html');
  await H.waitScreen(cy.page, 'sUnlock');
  await H.unlockWith(cy.page, cy.pin);
  await N.online(cy.page);
  await ann.page.waitForFunction(() => { const e = [...document.querySelectorAll('#log .m.me')].pop(); return e.querySelector('.dv.done'); }, null, { timeout: 30000 });
  assert.deepEqual(await mark('while cy is away'), ['✓✓', 'Delivered']);
});
