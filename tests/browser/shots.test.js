'use strict';
// Screenshots of the main screen in all five themes: a busy General, a direct message, a
// group, the friends page on each tab, the profile and safety-number dialogs, the GIF picker
// and the mention list, and then the unlock and black-out screens. Each is checked for what
// breaks a layout (sideways scrolling, a page that scrolls, the prompt lines where the theme
// hides them) and by axe-core for what shuts out people who use a screen reader or the
// keyboard, and written to MOSSWIRE_SHOTS (default: a folder under the system's temporary
// folder) to be looked at.
const fs = require('fs');
const os = require('os');
const path = require('path');
const test = require('node:test');
const assert = require('node:assert/strict');
const N = require('./chatnet.js');
const H = require('./harness.js');

const THEMES = ['kali', 'kali-light', 'matrix', 'amber', 'midnight'];
const OUT = process.env.MOSSWIRE_SHOTS || path.join(os.tmpdir(), 'mosswire-shots');

let ann, bo;
N.world(['ann', 'bo'], async (w) => {
  ({ ann, bo } = w);
  fs.mkdirSync(OUT, { recursive: true });
  await N.befriend(ann, bo);
  // A busy General, a direct message and a group, written straight into ann's vault.
  await ann.page.evaluate((bo) => {
    const d = Vault.data;
    d.settings.panicCode = 'F9';
    const now = Date.now();
    const day = 24 * 3600000;
    const g = [{ sys: true, text: 'bo joined the network', at: now - 2 * day }];
    const said = [
      [bo, 'morning all — anyone up for the 10:00 call?'], [bo, 'I pushed the notes to the shared folder'],
      [d.me, 'yes, joining in 5 @bo'], [bo, 'hey @ann. can you check the <b>draft</b> before lunch?'],
      [d.me, 'on it'], [bo, 'مرحبا — right-to-left text sits fine next to English'],
      [bo, 'averyveryveryveryveryveryveryveryveryveryveryveryveryveryveryveryveryveryveryveryveryveryverylongwordwithoutanyspaces'],
      [d.me, 'emoji test 🎉👩‍👩‍👧 ok'],
    ];
    said.forEach(([from, text], i) => g.push({ mid: 'm' + i, from, text, at: now - (said.length - i) * 600000 - (i < 2 ? day : 0) }));
    g.push({ mid: 'r1', from: bo, text: 'thanks!', at: now - 60000, re: { mid: 'm4', from: d.me, text: 'on it' } });
    g.push({ mid: 'gif1', from: bo, text: '[ASCII GIF: Cat]', gif: 'cat', at: now - 50000 });
    g.push({ mid: 'p1', from: d.me, text: 'this one is still on its way', at: now - 1000, st: 'pending' });
    g.push({ mid: 'f1', from: d.me, text: 'and this one failed', at: now, st: 'failed' });
    d.msgs.general = g;
    const dm = 'dm:' + [d.me, bo].sort().join(':');
    d.rooms[dm] = { id: dm, kind: 'dm', with: bo };
    d.msgs[dm] = [{ mid: 'd1', from: bo, text: 'see you at 6?', at: now - 120000 }, { mid: 'd2', from: d.me, text: 'yes 👍', at: now - 60000 }];
    d.rooms['g:' + 'a'.repeat(32)] = { id: 'g:' + 'a'.repeat(32), kind: 'group', name: 'Café Crew!', members: [d.me, bo], rv: now - 5000 };
    d.msgs['g:' + 'a'.repeat(32)] = [{ sys: true, text: 'You made Café Crew!', at: now - 5000 }, { mid: 'g1', from: bo, text: 'welcome to the crew', at: now - 4000 }];
    d.unread[dm] = 2;
    d.unread['g:' + 'a'.repeat(32)] = 150;
    d.pings['g:' + 'a'.repeat(32)] = true;
    d.wanted.dee = 'dee';
    Vault.save();
  }, bo.id);
});

const AXE = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');
// Low contrast that a theme's own fixed colours make: reported, with the ratios, not failed.
const contrast = new Map();

// axe-core over the page as it is: no critical or serious violation but for contrast.
async function accessible(page, what) {
  if (!(await page.evaluate(() => !!window.axe))) await page.evaluate(AXE);
  const found = await page.evaluate(() => axe.run(document, { resultTypes: ['violations'] }).then((r) => r.violations.map((v) => ({
    id: v.id, impact: v.impact, nodes: v.nodes.map((n) => ({ target: n.target.join(' '), ratio: n.any[0] && n.any[0].data && n.any[0].data.contrastRatio })),
  }))));
  for (const v of found.filter((x) => x.id === 'color-contrast')) {
    for (const n of v.nodes) contrast.set(what.split(' ')[0] + ' ' + n.target, n.ratio);
  }
  const bad = found.filter((v) => v.id !== 'color-contrast' && (v.impact === 'critical' || v.impact === 'serious'));
  assert.deepEqual(bad, [], what + ': accessibility violations');
}

async function layoutOk(page, what) {
  const r = await page.evaluate(() => {
    const log = document.getElementById('log');
    return {
      page: document.documentElement.scrollWidth - window.innerWidth + (document.documentElement.scrollHeight - window.innerHeight),
      log: log.offsetParent ? log.scrollWidth - log.clientWidth : 0,
    };
  });
  assert.ok(r.page <= 0, what + ': the page scrolls');
  assert.ok(r.log <= 1, what + ': the log scrolls sideways');
}

test('screens in every theme', { timeout: 300000 }, async (t) => {
  const page = ann.page;
  const shot = async (theme, name) => {
    await layoutOk(page, theme + ' ' + name);
    await accessible(page, theme + ' ' + name);
    await page.screenshot({ path: path.join(OUT, theme + '-' + name + '.png') });
  };
  for (const theme of THEMES) {
    await t.test(theme, async () => {
      await page.evaluate((th) => document.documentElement.setAttribute('data-theme', th), theme);
      await N.openGeneral(page);
      // The keyboard's place shows: the focus ring around the chat Tab reaches.
      await page.focus('#navGeneral');
      await page.keyboard.press('Tab');
      const ring = await page.evaluate(() => { const s = getComputedStyle(document.activeElement); return [s.outlineStyle, parseFloat(s.outlineWidth)]; });
      assert.equal(ring[0], 'solid', theme + ': a focus ring');
      assert.ok(ring[1] >= 2, theme + ': a focus ring of 2 pixels or more');
      assert.equal(await page.isVisible('#promptTop'), theme !== 'midnight', 'the prompt lines show except in midnight');
      await shot(theme, 'general');
      await page.click('#msg');
      await page.keyboard.type('hi @');
      await page.waitForSelector('#pingList:not(.hidden)');
      await shot(theme, 'mentions');
      await page.fill('#msg', '');
      await page.click('#gifBtn');
      await page.waitForSelector('#modalCard[data-kind="gifs"]');
      await shot(theme, 'gifs');
      await page.click('#modalCard button:has-text("Close")');
      await page.click('#inbox .item[data-room^="dm:"]');
      await page.waitForFunction(() => document.getElementById('roomTitle').textContent === 'bo');
      await shot(theme, 'dm');
      await page.click('#roomAction button');
      await page.waitForSelector('#modalCard[data-kind="profile"]');
      await shot(theme, 'profile');
      await page.click('#modalCard button:has-text("Verify safety number")');
      await page.waitForSelector('#modalCard[data-kind="safety"]');
      const numbers = await page.$$eval('#modalCard .safety', (e) => e.map((x) => x.textContent));
      assert.equal(numbers.length, 2);
      for (const n of numbers) assert.match(n, /^\d{5}( \d{5}){5}$/);
      await shot(theme, 'safety');
      await page.click('#modalCard button:has-text("Close")');
      await page.click('#inbox .item[data-room^="g:"]');
      await page.waitForFunction(() => document.getElementById('roomTitle').textContent === 'Café Crew!');
      await shot(theme, 'group');
      for (const tab of ['online', 'all', 'pending', 'blocked', 'add']) {
        await page.click('#navFriends');
        await page.click(`#friendsPane .tab[data-tab="${tab}"]`);
        await page.waitForSelector(`#friendsPane .tab.on[data-tab="${tab}"]`);
        await shot(theme, 'friends-' + tab);
      }
    });
  }
  await t.test('the unlock and black-out screens', async () => {
    await page.reload();
    await H.waitScreen(page, 'sUnlock');
    for (const theme of THEMES) {
      await page.evaluate((th) => document.documentElement.setAttribute('data-theme', th), theme);
      await shot(theme, 'unlock');
    }
    await H.unlockWith(page, ann.pin);
    await H.waitScreen(page, 'sMain');
    await page.keyboard.press('F9');
    await page.waitForSelector('#black:not(.hidden)');
    for (const theme of THEMES) {
      await page.evaluate((th) => document.documentElement.setAttribute('data-theme', th), theme);
      await accessible(page, theme + ' black-out');
    }
    await page.keyboard.type(ann.pin);
    await page.keyboard.press('Enter');
    await page.waitForSelector('#black.hidden', { state: 'attached' });
  });
  console.log('low contrast from a theme\'s own colours (theme, element: ratio): ' +
    ([...contrast].map(([k, r]) => k + ': ' + r).join('; ') || 'none'));
  assert.deepEqual(N.problems(ann), []);
});
