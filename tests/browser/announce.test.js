'use strict';
// Announcements and spoken codes on the real relay: the owner posts with the owner's tool and
// from the page on the computer holding the owner key, every member gets the posts, and a
// relay restart loses neither posts nor spoken codes because the members hand them back.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const H = require('./harness.js');
const N = require('./chatnet.js');

const SHOTS = process.env.MSW_SHOTS || null; // a folder: also save a screenshot of the room

let chrome, net, maya, bo;
N.world(['maya', 'bo'], async (w) => {
  ({ chrome, net, maya, bo } = w);
  // maya's computer holds the owner key.
  await H.files.set(maya.page, 'x.owner.json', fs.readFileSync(path.join(net.home, '.mosswire', 'owner.json'), 'utf8'));
});

// The texts of the posts this member holds, oldest first (deleted ones left out).
const posts = (page) => page.evaluate(() => Object.values(Vault.data.ann)
  .filter((a) => a.s && a.text).sort((a, b) => a.at - b.at).map((a) => a.text));
const waitPost = (page, text, timeout = 30000) => page.waitForFunction(
  (t) => Object.values(Vault.data.ann).some((a) => a.text === t), text, { timeout });

test('posts reach every member and outlive a relay restart, and so do spoken codes', { timeout: 300000 }, async (t) => {
  const notes = path.join(net.home, 'notes.md');
  fs.writeFileSync(notes, '## **Big** news\r\n- the server moves tonight\r\n');
  const first = '## **Big** news\r\n- the server moves tonight';
  let code;
  let text;

  await t.test("the owner's tool posts; every member gets it with an unread mark", async () => {
    const r = await net.owner('announce', notes);
    assert.ok(r.ok, r.err);
    for (const s of [maya, bo]) {
      await waitPost(s.page, first);
      await s.page.waitForFunction(() => document.getElementById('annBadge').textContent === '1');
    }
  });

  await t.test('the owner posts from the Announcements composer; a member cannot', async () => {
    await maya.page.click('#navAnn');
    await maya.page.waitForSelector('#composer:not(.hidden)');
    await N.say(maya.page, 'Posted from the app');
    await waitPost(bo.page, 'Posted from the app');
    assert.equal(await maya.page.inputValue('#msg'), '');
    assert.equal(await maya.page.evaluate(() => Vault.data.unread.announcements || 0), 0);
    await bo.page.click('#navAnn');
    await bo.page.waitForSelector('#composer.hidden', { state: 'attached' });
    assert.equal(await bo.page.isVisible('#annLocked'), true);
  });

  await t.test('a long post arrives whole and every member draws it as plain text', async () => {
    const para = 'Long **announcement** text with a [link](https://example.org/x) and <b>no markup</b>. ';
    text = '# Moving day\n\n' + para.repeat(8) + '\n\n## What changes\n';
    for (let i = 1; text.length < 5800; i++) text += '- item ' + i + ': ' + para + '\n';
    await maya.page.fill('#msg', text);
    await maya.page.press('#msg', 'Enter');
    text = text.replace(/\s+$/, '');
    await waitPost(bo.page, text);
    await bo.page.waitForSelector('#log .ann:not(.rel) h3:text-is("Moving day")');
    const body = await bo.page.$$eval('#log .ann', (els) => els.map((e) => e.querySelector('.ann-b').innerHTML));
    assert.ok(body.every((html) => !/<b>|<a /.test(html)), 'no markup from a post');
    const items = await bo.page.$$eval('#log .ann li', (els) => els.map((e) => e.textContent));
    assert.ok(items.length > 20);
    assert.equal(items[0], 'the server moves tonight');
    assert.equal(items[1], 'item 1: Long announcement text with a link and <b>no markup</b>.');
    assert.equal(await bo.page.isVisible('#log .ann-del'), false);
    assert.equal(await maya.page.locator('#log .ann-del').count(), 3);
    if (SHOTS) {
      await bo.page.evaluate(() => { const log = document.getElementById('log'); log.scrollTop = log.scrollHeight - log.clientHeight - 900; });
      await bo.page.screenshot({ path: path.join(SHOTS, 'announcements-long.png') });
    }
  });

  await t.test("the owner's tool makes a spoken code; every member keeps its entry", async () => {
    const r = await net.owner('spoken');
    assert.ok(r.ok, r.err);
    code = r.out.split('\n')[0].trim();
    assert.match(code, /^\d{4} \d{4} \d{4}$/);
    for (const s of [maya, bo]) {
      await s.page.waitForFunction(() => Object.keys(Vault.data.spoken).length === 1, null, { timeout: 30000 });
    }
  });

  await t.test('after a restart the relay has the posts back, and the spoken code lets a new member join', async () => {
    await net.stop();
    await net.start();
    await N.online(maya.page, 60000);
    await N.online(bo.page, 60000);
    const cy = await H.openPage(chrome.browser, net.site.url + 'index.html');
    try {
      await H.joinWith(cy.page, code, 'cy', '1357');
      await N.online(cy.page, 60000);
      await waitPost(cy.page, 'Posted from the app');
      assert.deepEqual(await posts(cy.page), [first, 'Posted from the app', text]);
      assert.deepEqual(N.problems(cy), []);
    } finally {
      await cy.context.close();
    }
  });

  await t.test("a deletion with the owner's tool hides the post everywhere", async () => {
    const id = await bo.page.evaluate(() => Object.values(Vault.data.ann).find((a) => a.text === 'Posted from the app').id);
    const empty = path.join(net.home, 'empty.md');
    fs.writeFileSync(empty, '');
    const r = await net.owner('announce', empty, id);
    assert.ok(r.ok, r.err);
    for (const s of [maya, bo]) {
      await s.page.waitForFunction((i) => Vault.data.ann[i] && Vault.data.ann[i].text === '', id, { timeout: 30000 });
      assert.deepEqual(await posts(s.page), [first, text]);
    }
  });

  await t.test("the owner's Delete in the log asks first and removes the post for everyone", async () => {
    await maya.page.click('#navAnn');
    const block = maya.page.locator('#log .ann', { has: maya.page.locator('h3:text-is("Moving day")') });
    // Delete shows only while the pointer is on the post (or the keyboard is in it).
    assert.equal(await block.locator('.ann-del').isVisible(), false);
    await block.hover();
    await block.locator('.ann-del').click();
    assert.equal(await maya.page.textContent('#modalCard h2'), 'Delete this announcement?');
    assert.equal(await maya.page.textContent('#modalCard .hint'), 'It disappears for everyone.');
    await maya.page.click('#modalCard button.btn.danger:text-is("Delete")');
    for (const s of [maya, bo]) {
      await s.page.waitForFunction(() => !Object.values(Vault.data.ann).some((a) => /^# Moving day/.test(a.text)), null, { timeout: 30000 });
      assert.deepEqual(await posts(s.page), [first]);
    }
    await bo.page.waitForFunction(() => document.querySelectorAll('#log .ann').length === 1 &&
      ![...document.querySelectorAll('#log .ann h3')].some((e) => e.textContent === 'Moving day'));
  });

  assert.deepEqual(N.problems(maya), []);
  assert.deepEqual(N.problems(bo), []);
});
