'use strict';
// Direct messages and group chats between three members on the real relay: only friends
// talk directly, a group made by one member reaches the others, and renaming and leaving
// reach everyone.
const test = require('node:test');
const assert = require('node:assert/strict');
const N = require('./chatnet.js');

let ann, bo, cy;
N.world(['ann', 'bo', 'cy'], async (w) => {
  ({ ann, bo, cy } = w);
  await N.befriend(ann, bo);
  await N.befriend(ann, cy);
});

const dmOf = (a, b) => 'dm:' + [a.id, b.id].sort().join(':');
const inboxItem = (s, id) => `#inbox .item[data-room="${id}"]`;

async function messageFriend(s, other) {
  await s.page.click('#navFriends');
  await s.page.click('#friendsPane .tab[data-tab="all"]');
  await s.page.click(`#friendsBody .frow[data-id="${other.id}"] button:has-text("Message")`);
  await s.page.waitForFunction((n) => document.getElementById('roomTitle').textContent === n, other.name);
}

test('direct messages between friends only', { timeout: 120000 }, async (t) => {
  await t.test('a friend\'s message arrives in the direct-message room', async () => {
    await messageFriend(ann, bo);
    await N.say(ann.page, 'just us');
    await bo.page.waitForSelector(inboxItem(bo, dmOf(ann, bo)));
    await bo.page.click(inboxItem(bo, dmOf(ann, bo)));
    await N.waitLine(bo.page, 'just us');
    await ann.page.waitForFunction(() => !document.querySelector('#log .m.pending'));
    const stored = await ann.page.evaluate((id) => Object.values(Vault.data.outbox).map((e) => e.ttl), dmOf(ann, bo));
    assert.ok(stored.every((ttl) => ttl === 24 * 3600000));
  });

  await t.test('writing to someone who is no longer a friend is refused and the text stays', async () => {
    await messageFriend(cy, ann);
    await cy.page.evaluate((id) => { delete Vault.data.friends[id]; }, ann.id);
    await cy.page.fill('#msg', 'are we still friends?');
    await cy.page.press('#msg', 'Enter');
    await cy.page.waitForFunction(() => document.getElementById('chatErr').textContent === 'You can only message friends');
    assert.equal(await cy.page.inputValue('#msg'), 'are we still friends?');
    assert.equal(await cy.page.$$eval('#log .m', (e) => e.length), 0);
    await cy.page.evaluate((id) => { Vault.data.friends[id] = 'friend'; }, ann.id);
  });

  await t.test('a message from someone who is not a friend here is dropped', async () => {
    await bo.page.evaluate((id) => { Vault.data.friends[id] = 'friend'; }, cy.id); // one-sided
    await messageFriend(bo, cy);
    await N.say(bo.page, 'hi stranger');
    await bo.page.waitForFunction(() => !document.querySelector('#log .m.pending'));
    await N.openGeneral(bo.page);
    await N.say(bo.page, 'marker');
    await N.openGeneral(cy.page);
    await N.waitLine(cy.page, 'marker');
    const rooms = await cy.page.evaluate(() => Object.keys(Vault.data.msgs));
    assert.ok(!rooms.includes(dmOf(bo, cy)), 'nothing stored for the stranger\'s direct message');
  });
  for (const s of [ann, bo, cy]) assert.deepEqual(N.problems(s), []);
});

test('a group chat', { timeout: 150000 }, async (t) => {
  let gid;
  await t.test('made by one member, it reaches the others with its first line', async () => {
    await ann.page.click('#newGroup');
    await ann.page.click('#modalCard button:has-text("Create group")');
    assert.equal(await ann.page.textContent('#modalCard .err'), 'Pick at least one friend');
    await ann.page.check(`#modalCard input[value="${bo.id}"]`);
    await ann.page.check(`#modalCard input[value="${cy.id}"]`);
    await ann.page.fill('#modalCard input[placeholder="Optional"]', 'Plans');
    await ann.page.click('#modalCard button:has-text("Create group")');
    await ann.page.waitForFunction(() => document.getElementById('roomTitle').textContent === 'Plans');
    gid = await ann.page.evaluate(() => Object.keys(Vault.data.rooms).find((id) => id.startsWith('g:')));
    for (const s of [bo, cy]) {
      await s.page.waitForSelector(inboxItem(s, gid));
      await s.page.click(inboxItem(s, gid));
      await N.waitLine(s.page, 'ann added you to Plans');
    }
  });

  await t.test('a message in it reaches everyone in it', async () => {
    await N.say(bo.page, 'where to?');
    await N.waitLine(ann.page, 'where to?');
    await N.waitLine(cy.page, 'where to?');
  });

  await t.test('renaming reaches the others; leaving deletes it for the one who left', async () => {
    await ann.page.click('#roomAction button');
    await ann.page.fill('#modalCard input[maxlength="40"]', 'Trip');
    await ann.page.click('#modalCard button:has-text("Rename")');
    await N.waitLine(ann.page, 'You renamed the group to Trip');
    await N.waitLine(bo.page, 'ann renamed the group to Trip');
    await cy.page.waitForFunction(() => document.getElementById('roomTitle').textContent === 'Trip');
    await cy.page.click('#roomAction button');
    await cy.page.click('#modalCard button:has-text("Leave group")');
    await cy.page.click('#modalCard button.danger:has-text("Leave")');
    await cy.page.waitForFunction(() => !document.getElementById('friendsPane').classList.contains('hidden'));
    assert.equal(await cy.page.evaluate((id) => [Vault.data.rooms[id], Vault.data.msgs[id]].every((x) => x === undefined), gid), true);
    await N.waitLine(ann.page, "cy changed who's in the group");
    const members = await bo.page.evaluate((id) => Vault.data.rooms[id].members.length, gid);
    assert.equal(members, 2);
  });
  for (const s of [ann, bo, cy]) assert.deepEqual(N.problems(s), []);
});
