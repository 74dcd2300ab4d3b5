'use strict';
// First run in Chromium: every message of the join screen, spoken codes through a relay
// stand-in, the PIN screen, and the vault that results.
const test = require('node:test');
const assert = require('node:assert/strict');
const H = require('./harness.js');

const { P } = H;
let chrome;
let relay;
let owner;
let site;

test.before(async () => {
  owner = await H.makeOwner();
  relay = await H.relayStandIn(owner.keys.sigPub);
  site = await H.staticServer(H.pageFiles({ server: relay.url }));
  chrome = await H.launch();
});
test.after(async () => {
  if (chrome) await chrome.close();
  if (site) await site.close();
  if (relay) await relay.close();
});

async function joinMessage(page, text) {
  // Each run for the box's current text ends by setting the line, so a mark the page never
  // writes tells whether it has, however long the checks take on a busy machine.
  const MARK = '\u0000not checked yet';
  await page.evaluate((m) => { document.getElementById('joinErr').textContent = m; }, MARK);
  // Filling in the text the box already holds raises no input event; a typed key would.
  const same = (await page.inputValue('#joinCode')) === text;
  await page.fill('#joinCode', text);
  if (same) await page.dispatchEvent('#joinCode', 'input');
  await page.waitForFunction((m) => {
    const shown = document.getElementById('joinErr').textContent;
    return shown !== m && !/Checking that code/.test(shown);
  }, MARK, { timeout: 30000 });
  return page.evaluate(() => ({
    msg: document.getElementById('joinErr').textContent,
    ok: document.getElementById('joinErr').classList.contains('ok'),
    more: !document.getElementById('joinMore').classList.contains('hidden'),
    row: !document.getElementById('joinRow').classList.contains('hidden'),
    paste: !document.getElementById('pasteRow').classList.contains('hidden'),
  }));
}

test('first run with a long invite code ends on the main screen with a sealed vault', async () => {
  const { page, problems, context } = await H.openPage(chrome.browser, site.url + 'index.html');
  try {
    await H.waitScreen(page, 'sWelcome');
    assert.equal(await page.getAttribute('html', 'data-theme'), 'kali');
    const code = await H.longInvite(owner);
    await H.joinWith(page, code, 'maya.k', '482916');
    assert.equal(await page.textContent('#meBox .me-name'), 'maya.k');
    assert.equal(await page.textContent('#panicKbd'), 'Esc');
    assert.equal(await page.isVisible('#chatPane'), true, 'alone in the network: opens on General');
    assert.equal(await page.textContent('#roomTitle'), '# General');

    const header = JSON.parse(await H.files.get(page, 'vault.json'));
    assert.deepEqual(Object.keys(header), ['v', 'iter', 'salt', 'wsalt', 'whash', 'iv', 'ct']);
    assert.equal(header.iter, 600000);
    assert.equal(await H.files.get(page, 'attempts.txt'), '0 0', 'setting the PIN clears the attempt record');

    const d = await page.evaluate(() => Vault.data);
    assert.equal(d.owner, owner.keys.sigPub);
    assert.equal(d.me, await P.idOf(d.keys.sigPub));
    assert.equal(d.cert.m.name, 'maya.k');
    assert.ok(await P.verifyCert(d.cert, owner.keys.sigPub), 'the new certificate checks back to the owner');
    assert.deepEqual(Object.keys(d.dir), [d.me]);
    const used = JSON.parse(Buffer.from(code.slice(5), 'base64url').toString());
    assert.deepEqual(d.pendingInvite, { g: used.g, k: used.k });
    assert.equal(d.server, relay.url);
    assert.deepEqual(d.rooms.general, { id: 'general', kind: 'general', name: 'General' });
    assert.deepEqual(d.rooms.announcements, { id: 'announcements', kind: 'ann', name: 'Announcements' });
    assert.deepEqual(d.settings, {
      panicCode: 'Escape', panicGlobal: false, notify: true, previews: true, wipeSet: false,
      seenVersion: '1.1.8', startup: true,
    });
    const calls = await page.evaluate(() => window.__mswCalls.map((c) => c.name + ' ' + c.args.join(',')));
    for (const c of ['msw_pin_result true', 'msw_set_panic Escape,false', 'msw_notify_setup ', 'msw_focused ', 'msw_startup true', 'msw_owner_key ']) {
      assert.ok(calls.includes(c), 'called ' + c);
    }
    assert.deepEqual(problems, []);
  } finally {
    await context.close();
  }
});

test('join screen messages, in their order of precedence', async () => {
  const { page, problems, context } = await H.openPage(chrome.browser, site.url + 'index.html');
  try {
    await H.waitScreen(page, 'sWelcome');
    const good = await H.longInvite(owner);
    const expired = await H.longInvite(owner, -1);
    const tampered = (() => {
      const inv = JSON.parse(Buffer.from(good.slice(5), 'base64url').toString());
      inv.g.exp += 1;
      return H.longCode(inv);
    })();
    // An invite signed by a member, not the owner: every signature good, still refused.
    const member = await (async () => {
      const keys = await P.generateKeys();
      const cert = await P.acceptInvite(await P.makeInvite(owner.cert, owner.keys, 1), keys, 'inviter');
      return H.longCode(await P.makeInvite(cert, keys, 1));
    })();
    const noK = 'MSW1.' + Buffer.from(JSON.stringify({ g: { a: 1 } })).toString('base64url');
    const NOT = "That's not an invite code. Type the 12 digits you were told, or paste a code that starts with MSW2.";
    const INVALID = "That invite code isn't valid. Make sure you copied all of it.";
    const cases = [
      ['', '', false],
      ['   ', '', false],
      ['1234', '', false],
      ['1234-5678-901', '', false],
      ['1234 5678 9012 3', 'Spoken codes have 12 digits.', false],
      [owner.keys.sigPub, "That's the owner key, which goes in the server's settings on Render. It isn't an invite code: make one with node tools/owner.js invite (that works for you too), then paste it here.", false],
      ['hello there', NOT, false],
      ['<img src=x onerror="document.title=1">', NOT, false],
      ['MSW1.', INVALID, false],
      ['MSW1.!!!!', INVALID, false],
      [noK, INVALID, false],
      ['MSW2.abc', INVALID, false],
      [tampered, INVALID, false],
      [member, INVALID, false],
      [expired, 'That invite code has expired. Ask for a new one.', false],
      [good, '', true],
      [good.slice(0, 60) + '\n  ' + good.slice(60), '', true],
    ];
    for (const [text, msg, more] of cases) {
      const got = await joinMessage(page, text);
      assert.equal(got.msg, msg, JSON.stringify(text.slice(0, 40)));
      assert.equal(got.ok, false);
      assert.equal(got.more, more, 'username shown for ' + JSON.stringify(text.slice(0, 40)));
      assert.equal(got.row, more);
      assert.equal(got.paste, !(more || text === expired), 'paste row hidden once checked');
    }
    assert.equal(await page.$('#joinErr img'), null, 'markup in a code stays text');
    assert.notEqual(await page.title(), '1');

    // The expired code was checked (paste row gone) but offers no username.
    const exp = await joinMessage(page, expired);
    assert.equal(exp.paste, false);
    assert.equal(exp.more, false);

    // Usernames.
    await joinMessage(page, good);
    assert.equal(await page.evaluate(() => document.activeElement.id), 'joinName');
    for (const [name, msg] of [['a', 'Usernames need at least 2 characters'], [' b ', 'Usernames need at least 2 characters'],
      ['maya k', 'Usernames can only use letters, numbers, _ and .'], ['<b>x</b>', 'Usernames can only use letters, numbers, _ and .'],
      ['ab#', 'Usernames can only use letters, numbers, _ and .']]) {
      await page.fill('#joinName', name);
      assert.equal(await page.inputValue('#joinName'), name);
      await page.press('#joinName', 'Enter');
      assert.equal(await page.textContent('#joinErr'), msg, name);
      assert.equal(await H.screen(page), 'sWelcome');
    }
    await page.type('#joinName', 'x');
    assert.equal(await page.textContent('#joinErr'), '', 'typing clears the line');

    // Paste: an empty clipboard, then a code on it.
    await page.fill('#joinCode', '');
    await page.click('#pasteBtn');
    await page.waitForFunction(() => document.getElementById('joinErr').textContent !== '');
    assert.equal(await page.textContent('#joinErr'), 'The clipboard is empty. Copy your invite code first.');
    await H.files.set(page, 'x.clipboard', '  \n' + good + '\n ');
    await page.click('#pasteBtn');
    await page.waitForSelector('#joinMore:not(.hidden)');
    assert.equal(await page.inputValue('#joinCode'), good);
    assert.deepEqual(problems, []);
  } finally {
    await context.close();
  }
});

test('PIN screen: digits only, both checks, Back', async () => {
  const { page, problems, context } = await H.openPage(chrome.browser, site.url + 'index.html');
  try {
    await H.waitScreen(page, 'sWelcome');
    await page.fill('#joinCode', await H.longInvite(owner));
    await page.waitForSelector('#joinMore:not(.hidden)');
    await page.fill('#joinName', 'sam_2');
    await page.press('#joinName', 'Enter');
    await H.waitScreen(page, 'sSetPin');
    await page.type('#newPin', '12ab3');
    assert.equal(await page.inputValue('#newPin'), '123');
    await page.click('#setPinGo');
    assert.equal(await page.textContent('#setPinErr'), 'Your PIN needs 4 to 12 digits');
    await page.fill('#newPin', '1234');
    await page.fill('#newPin2', '1243');
    await page.press('#newPin2', 'Enter');
    assert.equal(await page.textContent('#setPinErr'), "Those PINs don't match");
    await page.click('#setPinBack');
    await H.waitScreen(page, 'sWelcome');
    await page.click('#joinNext');
    await H.waitScreen(page, 'sSetPin');
    assert.equal(await page.inputValue('#newPin'), '', 'fields cleared on return');
    assert.equal(await page.textContent('#setPinErr'), '');
    assert.equal(await H.files.get(page, 'vault.json'), null, 'nothing stored before a PIN is set');

    await H.files.set(page, 'x.failWrite', '1');
    await page.fill('#newPin', '24680');
    await page.fill('#newPin2', '24680');
    await page.click('#setPinGo');
    await page.waitForFunction(() => /Couldn't finish/.test(document.getElementById('setPinErr').textContent), null, { timeout: 20000 });
    assert.equal(await page.textContent('#setPinErr'), "Couldn't finish setting up: Couldn't save");
    assert.equal(await page.isEnabled('#setPinGo'), true);
    await H.files.del(page, 'x.failWrite');
    await page.click('#setPinGo');
    await H.waitScreen(page, 'sMain', 30000);
    assert.deepEqual(problems, []);
  } finally {
    await context.close();
  }
});

test('spoken codes through the relay', async (t) => {
  const inner = await H.longInvite(owner);
  const made = await P.makeSpoken(owner.keys.sigPriv, owner.keys.sigPub, inner, 168);
  const stale = await P.makeSpoken(owner.keys.sigPriv, owner.keys.sigPub, inner, -1);
  const expiredInner = await P.makeSpoken(owner.keys.sigPriv, owner.keys.sigPub, await H.longInvite(owner, -1), 168);
  const spaced = made.code.replace(/(\d{4})(?=\d)/g, '$1 ');
  const wrongDigit = made.code.slice(0, 11) + String((Number(made.code[11]) + 1) % 10);
  const { page, problems, context } = await H.openPage(chrome.browser, site.url + 'index.html', { clock: true });
  try {
    await H.waitScreen(page, 'sWelcome');
    const check = async (text, mode, entries, online) => {
      relay.mode = mode;
      relay.entries = entries;
      relay.online = online;
      return joinMessage(page, text);
    };

    await t.test('typed digit by digit: quiet until the twelfth, then "Checking that code…"', async () => {
      relay.mode = 'silent';
      await page.fill('#joinCode', '');
      for (const d of made.code.slice(0, 11)) {
        await page.type('#joinCode', d);
        assert.equal(await page.textContent('#joinErr'), '');
      }
      await page.type('#joinCode', made.code[11]);
      await page.waitForFunction(() => document.getElementById('joinErr').textContent === 'Checking that code…');
      assert.equal(await page.evaluate(() => document.getElementById('joinErr').classList.contains('ok')), true);
      await page.clock.fastForward(3100);
      await page.waitForFunction(() => /Waking up the server/.test(document.getElementById('joinErr').textContent));
      assert.equal(await page.textContent('#joinErr'), 'Waking up the server… this can take up to a minute.');
      await page.clock.fastForward(15000);
      await page.waitForFunction(() => /can't check spoken codes/.test(document.getElementById('joinErr').textContent));
      assert.equal(await page.textContent('#joinErr'),
        "The server can't check spoken codes yet. Ask for an invite code to paste instead.");
      assert.ok(relay.health > 0, 'the relay host was woken');
    });

    await t.test('a found code gives the username field', async () => {
      const got = await check(spaced, 'ok', [made.entry], 1);
      assert.deepEqual([got.msg, got.more], ['', true]);
      const dashed = await check(made.code.replace(/(\d{4})(?=\d)/g, '$1-'), 'ok', [stale.entry, { junk: 1 }, made.entry], 0);
      assert.deepEqual([dashed.msg, dashed.more], ['', true]);
    });

    await t.test('the lookup messages', async () => {
      const DIDNT = "That code didn't work. Check the 12 digits with whoever gave it to you: codes last 7 days and work once.";
      assert.equal((await check(wrongDigit, 'ok', [made.entry], 1)).msg, DIDNT);
      assert.equal((await check(made.code, 'ok', [stale.entry], 1)).msg, DIDNT);
      assert.equal((await check(made.code, 'ok', [], 0)).msg,
        "Nobody in the network is online right now, so that code can't be checked yet. Try again in a little while, or ask for a written invite code.");
      assert.equal((await check(made.code, 'ok', [stale.entry], false)).msg,
        "Nobody in the network is online right now, so that code can't be checked yet. Try again in a little while, or ask for a written invite code.");
      assert.equal((await check(made.code, 'nonet', [made.entry], 1)).msg, "The server isn't set up for this network yet.");
      assert.equal((await check(made.code, 'close', [made.entry], 1)).msg, "Couldn't reach the server. Try again in a moment.");
      const exp = await check(expiredInner.code, 'ok', [expiredInner.entry], 1);
      assert.deepEqual([exp.msg, exp.more], ['That invite code has expired. Ask for a new one.', false]);
    });

    await t.test('a newer text wins over a lookup still running', async () => {
      relay.mode = 'silent';
      await page.fill('#joinCode', made.code);
      await page.waitForFunction(() => document.getElementById('joinErr').textContent === 'Checking that code…');
      await page.fill('#joinCode', 'nope');
      await page.clock.fastForward(20000);
      // The old lookup gives up within that step; the check of the new text ends on its own time.
      await page.waitForFunction(() => document.getElementById('joinErr').textContent !== 'Checking that code…', null, { timeout: 30000 });
      assert.equal(await page.textContent('#joinErr'),
        "That's not an invite code. Type the 12 digits you were told, or paste a code that starts with MSW2.");
    });
    assert.deepEqual(problems, []);
  } finally {
    await context.close();
  }
});

test('short invite codes with the owner certificate built in', async () => {
  const dir = H.pageFiles({ server: relay.url, ownerCert: owner.cert });
  const own = await H.staticServer(dir);
  const { page, problems, context } = await H.openPage(chrome.browser, own.url + 'index.html');
  try {
    const code = await P.makeShortInvite(owner.keys.sigPriv, 24);
    assert.equal(code.length, 117);
    await H.waitScreen(page, 'sWelcome');
    const broken = code.slice(0, 40) + (code[40] === 'A' ? 'B' : 'A') + code.slice(41);
    const bad = await joinMessage(page, broken);
    assert.equal(bad.msg, "That invite code isn't valid. Make sure you copied all of it.");
    const old = await joinMessage(page, await P.makeShortInvite(owner.keys.sigPriv, -1));
    assert.equal(old.msg, 'That invite code has expired. Ask for a new one.');
    await H.joinWith(page, code.slice(0, 50) + ' \n' + code.slice(50), 'Quinn', '1357');
    const d = await page.evaluate(() => Vault.data);
    assert.ok(await P.verifyCert(d.cert, owner.keys.sigPub));
    assert.equal(d.owner, owner.keys.sigPub);
    assert.deepEqual(problems, []);
  } finally {
    await context.close();
    await own.close();
  }
});
