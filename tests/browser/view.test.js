'use strict';
// The chat view as people use it, on the real relay: becoming friends through the friends
// page and talking directly, blocking, a request to a username nobody has yet, mentions
// picked from the list, replies and their quotes, ASCII GIFs, the counter and the older-
// messages link, and hostile or unusual texts drawn as text without breaking the layout.
const test = require('node:test');
const assert = require('node:assert/strict');
const N = require('./chatnet.js');

let chrome, net, ann, bo, cy;
N.world(['ann', 'bo', 'cy'], (w) => ({ chrome, net, ann, bo, cy } = w));

const state = (s, id) => s.page.evaluate((x) => Vault.data.friends[x] || null, id);
const waitState = (s, id, st) => s.page.waitForFunction(([x, v]) => (Vault.data.friends[x] || null) === v, [id, st], { timeout: 20000 });

async function tab(s, name) {
  await s.page.click('#navFriends');
  await s.page.click(`#friendsPane .tab[data-tab="${name}"]`);
  await s.page.waitForSelector(`#friendsPane .tab.on[data-tab="${name}"]`);
}

async function addFriend(s, typed) {
  await tab(s, 'add');
  await s.page.fill('#friendsBody .add-name', typed);
  await s.page.press('#friendsBody .add-name', 'Enter');
  await s.page.waitForFunction(() => document.querySelector('#friendsBody .fnote').textContent !== '');
  return s.page.textContent('#friendsBody .fnote');
}

test('friends through the friends page', { timeout: 180000 }, async (t) => {
  await t.test('a request by username, accepted from the Pending tab', async () => {
    assert.equal(await addFriend(ann, 'BO'), 'Friend request sent to bo');
    await bo.page.waitForFunction(() => document.getElementById('friendsBadge').textContent === '1', null, { timeout: 20000 });
    await tab(bo, 'pending');
    await bo.page.waitForSelector(`#friendsBody .frow[data-id="${ann.id}"]`);
    assert.match(await bo.page.textContent('#friendsBody .fhead'), /^Pending — 1$/);
    assert.equal(await bo.page.textContent(`#friendsBody .frow[data-id="${ann.id}"] .fsub`), 'Incoming friend request');
    await bo.page.click(`#friendsBody .frow[data-id="${ann.id}"] button:has-text("Accept")`);
    await waitState(ann, bo.id, 'friend');
    assert.equal(await state(bo, ann.id), 'friend');
    await bo.page.waitForFunction(() => document.getElementById('friendsBadge').classList.contains('hidden'));
    const titles = (await N.calls(bo.page, 'msw_title')).map((a) => a[0]);
    assert.ok(titles.includes('mosswire (1)'), 'the request counts in the window title');
    assert.equal(titles[titles.length - 1], 'mosswire');
    assert.equal(await addFriend(ann, 'bo'), "You're already friends with bo");
    assert.equal(await addFriend(ann, 'ann'), "That's you!");
  });

  await t.test('Message opens the direct-message room and both can write', async () => {
    await tab(ann, 'online');
    await ann.page.click(`#friendsBody .frow[data-id="${bo.id}"] button:has-text("Message")`);
    await ann.page.waitForFunction(() => document.getElementById('roomTitle').textContent === 'bo');
    assert.match(await ann.page.textContent('#roomSub'), /^Online · messages disappear after 24 hours$/);
    assert.equal(await ann.page.getAttribute('#msg', 'placeholder'), 'Message @bo');
    assert.match(await ann.page.textContent('#promptTop'), /┌──\(ann㉿mosswire\)-\[~\/dm\/bo\]/);
    await N.say(ann.page, 'hi bo');
    await bo.page.click(`#inbox .item[data-room^="dm:"]`);
    await N.waitLine(bo.page, 'hi bo');
    await N.say(bo.page, 'hi ann');
    await N.waitLine(ann.page, 'hi ann');
  });

  await t.test('blocking from the profile ends the friendship on both sides', async () => {
    await bo.page.click('#roomAction button:has-text("Profile")');
    await bo.page.waitForSelector('#modalCard[data-kind="profile"]');
    assert.equal(await bo.page.textContent('#modalCard .hint'), 'Online · Friends');
    await bo.page.click('#modalCard button:has-text("Block")');
    await bo.page.click('#modalCard .btn.danger:has-text("Block")');
    await waitState(ann, bo.id, null);
    assert.equal(await bo.page.evaluate((id) => Vault.data.blocked[id], ann.id), true);
    await ann.page.waitForFunction(() => document.getElementById('msg').disabled);
    assert.equal(await ann.page.getAttribute('#msg', 'placeholder'), 'You can only message friends. Add bo as a friend to keep chatting.');
    assert.equal(await ann.page.isDisabled('#sendBtn'), true);
    await tab(bo, 'blocked');
    assert.equal(await bo.page.textContent('#friendsBody .fhead'), 'Blocked — 1');
    assert.equal(await addFriend(bo, 'ann'), 'Unblock ann first');
    // Lines from a blocked member are not drawn.
    await N.openGeneral(ann.page);
    await N.openGeneral(cy.page);
    await N.openGeneral(bo.page);
    await N.say(ann.page, 'can you hear me');
    await N.waitLine(cy.page, 'can you hear me');
    await ann.page.waitForFunction(() => !document.querySelector('#log .m.pending'));
    assert.equal(await bo.page.$$eval('#log .text', (e) => e.filter((x) => x.textContent === 'can you hear me').length), 0);
    await tab(bo, 'blocked');
    await bo.page.click(`#friendsBody .frow[data-id="${ann.id}"] button:has-text("Unblock")`);
    await bo.page.waitForSelector('#friendsBody .empty');
    assert.equal(await state(bo, ann.id), null, 'the friendship does not come back');
  });

  await t.test('a request to a username nobody has yet goes out once when they join', async () => {
    assert.equal(await addFriend(cy, 'Dee'), "Dee isn't online right now. Your friend request will be sent when they come online (see Pending).");
    await tab(cy, 'pending');
    assert.equal(await cy.page.textContent('#friendsBody .frow[data-wanted="dee"] .fsub'), 'Friend request, sends when they come online');
    assert.equal(await addFriend(cy, 'no way'), 'Usernames can only use letters, numbers, _ and .');
    const dee = await N.member(chrome.browser, net, 'dee');
    await waitState(cy, dee.id, 'outgoing');
    await dee.page.waitForFunction(() => document.getElementById('friendsBadge').textContent === '1', null, { timeout: 20000 });
    assert.deepEqual(await cy.page.evaluate(() => Vault.data.wanted), {});
    assert.equal(await dee.page.evaluate((id) => Vault.data.friends[id], cy.id), 'incoming');
    await dee.context.close();
  });
  for (const s of [ann, bo, cy]) assert.deepEqual(N.problems(s), []);
});

test('General: mentions, replies, GIFs, the counter and older messages', { timeout: 180000 }, async (t) => {
  for (const s of [ann, bo, cy]) {
    // Escape is the black-out key at first; here it must reach the composer.
    await s.page.evaluate(() => { Vault.data.settings.panicCode = 'F9'; });
    await N.openGeneral(s.page);
  }

  await t.test('the mention list filters, moves with the arrows and puts the name in', async () => {
    await ann.page.click('#msg');
    await ann.page.keyboard.type('hello @');
    await ann.page.waitForSelector('#pingList:not(.hidden)');
    const names = await ann.page.$$eval('#pingList .ping-opt .pname', (e) => e.map((x) => x.textContent));
    assert.deepEqual(names.slice(0, 2).sort(), ['bo', 'cy'], 'online members first');
    assert.deepEqual(names.slice(2), ['dee']);
    await ann.page.keyboard.type('c');
    await ann.page.waitForFunction(() => document.querySelectorAll('#pingList .ping-opt').length === 1);
    await ann.page.keyboard.press('Backspace');
    await ann.page.waitForFunction(() => document.querySelectorAll('#pingList .ping-opt').length === 3);
    const second = names[1];
    await ann.page.keyboard.press('ArrowDown');
    await ann.page.keyboard.press('Tab');
    assert.equal(await ann.page.inputValue('#msg'), 'hello @' + second + ' ');
    assert.equal(await ann.page.isHidden('#pingList'), true);
    await ann.page.keyboard.type('@b');
    await ann.page.keyboard.press('Escape');
    assert.equal(await ann.page.isHidden('#pingList'), true);
    await ann.page.keyboard.press('Shift+Enter');
    await ann.page.keyboard.type('second line');
    await ann.page.keyboard.press('Enter');
    const text = 'hello @' + second + ' @b\nsecond line';
    const other = second === 'cy' ? cy : bo;
    await N.waitLine(other.page, text);
    assert.equal(await other.page.$eval('#log .m.pinged .ping.me', (e) => e.textContent), '@' + second);
  });

  await t.test('a reply quotes its message and the quote jumps to it', async () => {
    await N.say(cy.page, 'the original');
    await N.waitLine(bo.page, 'the original');
    const line = bo.page.locator('#log .m', { hasText: 'the original' });
    await line.hover();
    await line.locator('.line-act').click();
    await bo.page.waitForSelector('#replyBar:not(.hidden)');
    assert.equal(await bo.page.textContent('#replyText'), 'Replying to cy the original');
    await bo.page.press('#msg', 'Escape');
    await bo.page.waitForSelector('#replyBar.hidden', { state: 'attached' });
    await line.hover();
    await line.locator('.line-act').click();
    await N.say(bo.page, 'the answer');
    await N.waitLine(cy.page, 'the answer');
    const quote = cy.page.locator('#log .m', { hasText: 'the answer' }).locator('.re');
    assert.equal(await quote.textContent(), 'cy the original');
    await quote.click();
    await cy.page.waitForSelector('#log .m.flash');
    assert.match(await cy.page.textContent('#log .m.flash .text'), /^the original$/);
  });

  await t.test('a GIF picked in the picker plays in step on both sides', async () => {
    await ann.page.click('#gifBtn');
    await ann.page.waitForSelector('#modalCard[data-kind="gifs"]');
    assert.equal(await ann.page.textContent('#modalCard .hint'), 'Pick one to send to General.');
    assert.equal(await ann.page.$$eval('#modalCard .gif-card', (e) => e.length), 10);
    const first = await ann.page.textContent('#modalCard .gif-card[data-id="heart"] pre');
    await ann.page.waitForFunction((f) => document.querySelector('#modalCard .gif-card[data-id="heart"] pre').textContent !== f, first);
    await ann.page.click('#modalCard .gif-card[data-id="wave"]');
    await ann.page.waitForSelector('#modal.hidden', { state: 'attached' });
    await cy.page.waitForSelector('#log pre.gif[data-gif="wave"]', { timeout: 20000 });
    assert.equal(await cy.page.textContent('#log .m:last-child .gif-label'), 'ASCII GIF: Wave');
    const shown = await cy.page.textContent('#log pre.gif[data-gif="wave"]');
    await cy.page.waitForFunction((f) => document.querySelector('#log pre.gif[data-gif="wave"]').textContent !== f, shown);
    // With reduced motion the first frame stays.
    await cy.page.emulateMedia({ reducedMotion: 'reduce' });
    const frame0 = await cy.page.evaluate(() => MswGifs.byId.wave.frames[0]);
    await cy.page.waitForFunction((f) => document.querySelector('#log pre.gif[data-gif="wave"]').textContent === f, frame0);
    const still = await cy.page.evaluate(() => new Promise((resolve) => {
      const el = document.querySelector('#log pre.gif[data-gif="wave"]');
      const seen = new Set();
      const t = setInterval(() => seen.add(el.textContent), 50);
      setTimeout(() => { clearInterval(t); resolve(seen.size); }, 1000);
    }));
    assert.equal(still, 1, 'no frame changes over more than two frame times');
    await cy.page.emulateMedia({ reducedMotion: 'no-preference' });
    const stored = await ann.page.evaluate(() => Vault.data.msgs.general.filter((m) => m.gif).map((m) => [m.gif, m.text]));
    assert.deepEqual(stored, [['wave', '[ASCII GIF: Wave]']]);
  });

  await t.test('the counter shows from 200 left and turns low at 30', async () => {
    await ann.page.fill('#msg', 'x'.repeat(1799));
    assert.equal(await ann.page.textContent('#msgLeft'), '');
    await ann.page.fill('#msg', 'x'.repeat(1800));
    assert.equal(await ann.page.textContent('#msgLeft'), '200');
    await ann.page.fill('#msg', 'x'.repeat(1970));
    assert.equal(await ann.page.textContent('#msgLeft'), '30');
    assert.equal(await ann.page.$eval('#msgLeft', (e) => e.classList.contains('low')), true);
    await ann.page.fill('#msg', '');
  });

  await t.test('401 stored messages: 400 drawn and a link to the one before', async () => {
    await cy.page.evaluate(() => {
      const list = [];
      for (let i = 0; i < 401; i++) list.push({ mid: 'old' + i, from: Vault.data.me, text: 'old ' + i, at: Date.now() - (401 - i) * 1000 });
      Vault.data.msgs.general = list;
    });
    await cy.page.click('#navFriends');
    await N.openGeneral(cy.page);
    assert.equal(await cy.page.textContent('#log .older'), 'Show 1 older messages');
    assert.equal(await cy.page.$$eval('#log .m', (e) => e.length), 400);
    await cy.page.click('#log .older');
    await cy.page.waitForFunction(() => document.querySelectorAll('#log .m').length === 401);
    assert.equal(await cy.page.$$eval('#log .older', (e) => e.length), 0);
  });

  await t.test('a full room fills the log in the click that opens it, without drawing all of it', async () => {
    // The stored lines are one sender's, a second apart: the shortest lines there are.
    const first = await cy.page.evaluate(() => {
      document.getElementById('navFriends').click();
      document.getElementById('navGeneral').click();
      const log = document.getElementById('log');
      return { lines: log.querySelectorAll('.m').length, scroll: log.scrollHeight, height: log.clientHeight };
    });
    assert.ok(first.lines < 400, first.lines + ' lines drawn at once');
    assert.ok(first.scroll > first.height, 'the first lines fill the log: ' + JSON.stringify(first));
    await cy.page.waitForFunction(() => document.querySelectorAll('#log .m').length === 400);
  });

  await t.test('a quote of a message beyond the 400 drawn shows them all and jumps', async () => {
    await cy.page.evaluate(() => {
      Vault.data.msgs.general.push({ mid: 'late', from: Vault.data.me, text: 'about the first one', at: Date.now(), re: { mid: 'old0', from: Vault.data.me, text: 'old 0' } });
    });
    await cy.page.click('#navFriends');
    await N.openGeneral(cy.page);
    assert.equal(await cy.page.textContent('#log .older'), 'Show 2 older messages');
    await cy.page.click('#log .m[data-mid="late"] .re');
    await cy.page.waitForSelector('#log .m.flash[data-mid="old0"]');
    assert.equal(await cy.page.$$eval('#log .m', (e) => e.length), 402);
  });

  await t.test('Announcements: others see who may post instead of a composer', async () => {
    await bo.page.click('#navAnn');
    await bo.page.waitForSelector('#annLocked:not(.hidden)');
    assert.equal(await bo.page.textContent('#annLocked'), 'Only boss can post in Announcements.');
    assert.equal(await bo.page.isHidden('#composer'), true);
    assert.equal(await bo.page.textContent('#roomLock'), 'Signed by boss');
  });
  for (const s of [ann, bo, cy]) assert.deepEqual(N.problems(s), []);
});

test('hostile and unusual texts are drawn as text and keep the layout', { timeout: 120000 }, async () => {
  await N.openGeneral(ann.page);
  await N.openGeneral(cy.page);
  const texts = [
    '<script>document.title="owned"</script><img src=x onerror="document.title=\'owned\'">',
    'مرحبا بالعالم — and back to English',
    'w'.repeat(600),
    '👩‍👩‍👧 emoji, 🎉 and ℌ𝔢𝔩𝔩𝔬',
    'x'.repeat(4000),
  ];
  for (const text of texts) await N.say(ann.page, text);
  await N.waitLine(cy.page, 'x'.repeat(2000));
  const drawn = (await N.lines(cy.page)).filter((l) => !l.sys).slice(-5).map((l) => l.text);
  assert.deepEqual(drawn, texts.slice(0, 4).concat(['x'.repeat(2000)]));
  assert.equal(await cy.page.$$eval('#log script, #log img', (e) => e.length), 0);
  assert.equal(await cy.page.title(), 'mosswire');
  const fit = await cy.page.$eval('#log', (e) => [e.scrollWidth, e.clientWidth]);
  assert.ok(fit[0] <= fit[1] + 1, 'no sideways scrolling: ' + fit);
  const page = await cy.page.evaluate(() => [document.documentElement.scrollWidth, window.innerWidth]);
  assert.ok(page[0] <= page[1], 'the page itself never scrolls');

  // A group name with markup, a right-to-left override and an isolate that never closes.
  await ann.page.evaluate((ids) => { ids.forEach((id) => { Vault.data.friends[id] = 'friend'; }); }, [cy.id]);
  await cy.page.evaluate((id) => { Vault.data.friends[id] = 'friend'; }, ann.id);
  await ann.page.click('#newGroup');
  await ann.page.check(`#modalCard input[value="${cy.id}"]`);
  await ann.page.fill('#modalCard input[type="text"]', '<b>Café</b> \u202eCrew!\u2067 \u05e9\u05dc\u05d5\u05dd');
  await ann.page.click('#modalCard button:has-text("Create group")');
  await cy.page.waitForSelector('#inbox .item[data-room^="g:"]', { timeout: 20000 });
  await cy.page.click('#inbox .item[data-room^="g:"]');
  await cy.page.waitForFunction(() => document.getElementById('roomTitle').textContent !== '');
  const title = await cy.page.textContent('#roomTitle');
  assert.equal(title, 'bCafé/b Crew! שלום');
  assert.match(await cy.page.textContent('#promptTop'), /\[~\/bcaf-b-crew\]/);
  assert.equal(await cy.page.$$eval('#roomTitle bdi', (e) => e.length), 1);
  for (const s of [ann, cy]) assert.deepEqual(N.problems(s), []);
});

test('the view keeps what the reader had: drafts, the bottom, true order, the composer height, the card width', { timeout: 180000 }, async (t) => {
  await N.befriend(ann, cy);
  for (const s of [ann, bo, cy]) await N.openGeneral(s.page);

  await t.test('a draft stays with its room and never follows the reader into another', async () => {
    await ann.page.fill('#msg', 'for everyone, not for cy');
    const dm = async () => {
      await tab(ann, 'all');
      await ann.page.click(`#friendsBody .frow[data-id="${cy.id}"] button:has-text("Message")`);
      await ann.page.waitForFunction(() => document.getElementById('roomTitle').textContent === 'cy');
    };
    await dm();
    assert.equal(await ann.page.inputValue('#msg'), '', 'the direct message starts empty');
    await ann.page.fill('#msg', 'just for cy');
    await N.openGeneral(ann.page);
    assert.equal(await ann.page.inputValue('#msg'), 'for everyone, not for cy');
    await dm();
    assert.equal(await ann.page.inputValue('#msg'), 'just for cy');
    await ann.page.fill('#msg', '');
    await N.openGeneral(ann.page);
    await ann.page.fill('#msg', '');
  });

  await t.test('a reader at the bottom stays there; one further up is told of new messages below', async () => {
    const gap = () => cy.page.$eval('#log', (e) => e.scrollHeight - e.scrollTop - e.clientHeight);
    await cy.page.setViewportSize({ width: 1100, height: 420 });
    // Lines that are not blank: runs of blank ones are drawn as one.
    const tall = 'a tall one\n' + '.\n'.repeat(12) + 'with many lines\n' + '.\n'.repeat(8) + 'at the end';
    await N.say(bo.page, tall);
    await N.waitLine(cy.page, tall);
    await cy.page.waitForFunction(() => { const e = document.getElementById('log'); return e.scrollHeight - e.scrollTop - e.clientHeight <= 2; });
    await cy.page.setViewportSize({ width: 1100, height: 360 });
    await cy.page.waitForFunction(() => { const e = document.getElementById('log'); return e.scrollHeight - e.scrollTop - e.clientHeight <= 2; });
    assert.ok((await gap()) <= 2, 'the newest line is in view after the window shrank');
    await cy.page.$eval('#log', (e) => { e.scrollTop = 0; });
    await cy.page.waitForFunction(() => document.getElementById('log').scrollTop === 0);
    await N.say(bo.page, 'while cy reads older ones');
    await N.waitLine(cy.page, 'while cy reads older ones');
    await cy.page.waitForSelector('#newBelow:not(.hidden)');
    assert.equal(await cy.page.$eval('#log', (e) => e.scrollTop), 0, 'the reader was left where they were');
    await cy.page.click('#newBelow');
    await cy.page.waitForFunction(() => { const e = document.getElementById('log'); return e.scrollHeight - e.scrollTop - e.clientHeight <= 2; });
    assert.equal(await cy.page.isHidden('#newBelow'), true);
    await cy.page.setViewportSize({ width: 1100, height: 720 });
  });

  await t.test('a right-to-left override inside a message cannot reorder it', async () => {
    await N.say(bo.page, 'see invoice_\u202efdp.exe');
    await N.waitLine(cy.page, 'see invoice_fdp.exe');
    const box = await cy.page.$eval('#log .m:last-child .text', (e) => [e.textContent, getComputedStyle(e).unicodeBidi]);
    assert.deepEqual(box, ['see invoice_fdp.exe', 'isolate']);
  });

  await t.test('after the Send button the composer is one row again', async () => {
    await N.openGeneral(ann.page);
    const one = await ann.page.$eval('#msg', (e) => e.offsetHeight);
    await ann.page.fill('#msg', 'one\ntwo\nthree\nfour\nfive');
    assert.ok((await ann.page.$eval('#msg', (e) => e.offsetHeight)) > one, 'several lines make it taller');
    await ann.page.click('#sendBtn');
    await ann.page.waitForFunction((h) => document.getElementById('msg').offsetHeight === h, one);
  });

  await t.test('the settings dialog keeps the 540 px card', async () => {
    await cy.page.click('#settingsBtn');
    await cy.page.waitForSelector('#modalCard[data-kind="settings"]');
    assert.ok((await cy.page.$eval('#modalCard', (e) => e.getBoundingClientRect().width)) <= 540);
    await cy.page.click('#modalCard .row.end button:text-is("Close")');
  });
  for (const s of [ann, bo, cy]) assert.deepEqual(N.problems(s), []);
});
