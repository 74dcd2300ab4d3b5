'use strict';
// Every later start in Chromium: the unlock screen with its attempt limit, the wipe PIN,
// black-out by key, button and host events, the gone screens, and the themes kept in the
// vault header.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const H = require('./harness.js');

const PIN = '482916';
const WIPE = '9999';
const THEMES = ['kali', 'kali-light', 'matrix', 'amber', 'midnight'];
const SHOTS = process.env.MSW_SHOTS || null; // a folder: also save a screenshot of each screen in each theme

let chrome;
let relay;
let site;
let saved; // the native files of a device that has joined and set a wipe PIN

test.before(async () => {
  const owner = await H.makeOwner();
  relay = await H.relayStandIn(owner.keys.sigPub);
  site = await H.staticServer(H.pageFiles({ server: relay.url }));
  chrome = await H.launch();
  const { page, context } = await H.openPage(chrome.browser, site.url + 'index.html');
  await H.joinWith(page, await H.longInvite(owner), 'maya', PIN);
  await page.evaluate((w) => Vault.setWipePin(w), WIPE);
  saved = await page.evaluate(() => {
    const out = {};
    for (let i = 0; i < localStorage.length; i++) {
      const k = localStorage.key(i);
      if (k.startsWith('msw:') && !k.startsWith('msw:x.')) out[k.slice(4)] = localStorage.getItem(k);
    }
    return out;
  });
  await context.close();
});
test.after(async () => {
  if (chrome) await chrome.close();
  if (site) await site.close();
  if (relay) await relay.close();
});

// A page on a device holding `files` (the saved ones by default), booted fresh.
async function device(edit = (f) => f, opts = {}) {
  const s = await H.openPage(chrome.browser, site.url + 'index.html', opts);
  const files = edit(Object.assign({}, saved));
  await s.page.evaluate((f) => {
    localStorage.clear();
    for (const [k, v] of Object.entries(f)) localStorage.setItem('msw:' + k, v);
  }, files);
  await s.page.reload();
  return s;
}

async function unlocked(opts) {
  const s = await device(undefined, opts);
  await H.waitScreen(s.page, 'sUnlock');
  await H.unlockWith(s.page, PIN);
  await H.waitScreen(s.page, 'sMain', 30000);
  return s;
}

const errText = (page, id) => page.textContent('#' + id);
const isBlack = (page) => page.evaluate(() => !document.getElementById('black').classList.contains('hidden'));
const isAsk = (page) => page.evaluate(() => document.getElementById('black').classList.contains('ask'));
const appHidden = (page) => page.evaluate(() => document.getElementById('app').classList.contains('hidden'));
const callsOf = (page, name) => page.evaluate((n) => window.__mswCalls.filter((c) => c.name === n).map((c) => c.args), name);

// Typing on the black screen, once its PIN field has the focus (it takes it on the next turn).
async function typeBlack(page, text) {
  await page.waitForFunction(() => document.activeElement && document.activeElement.id === 'blackPin');
  await page.keyboard.type(text);
}

async function waitText(page, id, re) {
  await page.waitForFunction(([i, src]) => new RegExp(src).test(document.getElementById(i).textContent), [id, re.source], { timeout: 20000 });
  return errText(page, id);
}

test('unlock screen: wrong PINs, the attempt wait, then the right PIN', async () => {
  const { page, problems, context } = await device();
  try {
    await H.waitScreen(page, 'sUnlock');
    await page.click('#unlockGo');
    assert.deepEqual(await callsOf(page, 'msw_pin_start'), [], 'an empty field does nothing');
    await page.type('#unlockPin', '12a4');
    assert.equal(await page.inputValue('#unlockPin'), '124');
    await page.fill('#unlockPin', '');

    let fifth = 0;
    for (let i = 1; i <= 5; i++) {
      await page.evaluate(() => { document.getElementById('unlockErr').textContent = ''; });
      fifth = Date.now();
      await H.unlockWith(page, '0000' + i);
      assert.equal(await waitText(page, 'unlockErr', /Wrong PIN/), 'Wrong PIN');
      assert.equal(await page.inputValue('#unlockPin'), '', 'the field is cleared');
      assert.equal(await page.evaluate(() => document.activeElement.id), 'unlockPin');
    }
    const [count, until] = (await H.files.get(page, 'attempts.txt')).split(' ').map(Number);
    assert.equal(count, 5);
    assert.ok(until >= fifth + 30000 && until <= Date.now() + 30000, 'a 30 s wait from the fifth wrong PIN');

    // The page's clock stands still while the wait is read, so the seconds shown are the same
    // however long a busy machine takes over these steps: 29.5 s left shows as 30, 1.1 s as 2
    // (rounded up, where rounding to the nearest or down would say 1).
    const frozen = until - 29500;
    await page.evaluate((at) => { window.__realNow = Date.now; Date.now = () => at; }, frozen);
    await H.unlockWith(page, PIN);
    const waiting = await waitText(page, 'unlockErr', /Too many/);
    assert.equal(waiting, 'Too many wrong PINs. Try again in 30 seconds.');
    assert.equal(await page.evaluate(() => Vault.data), null, 'the vault is not tried during a wait');
    assert.equal((await callsOf(page, 'msw_pin_result')).length, 5);

    await page.evaluate(() => { document.getElementById('unlockErr').textContent = ''; });
    await H.files.set(page, 'attempts.txt', `5 ${frozen + 1100}`);
    await H.unlockWith(page, PIN);
    const rounded = await waitText(page, 'unlockErr', /Too many/);
    await page.evaluate(() => { Date.now = window.__realNow; });
    assert.equal(rounded, 'Too many wrong PINs. Try again in 2 seconds.', 'rounded up');

    await H.files.set(page, 'attempts.txt', `5 ${Date.now() - 1}`);
    await H.unlockWith(page, PIN);
    await H.waitScreen(page, 'sMain', 30000);
    assert.equal(await H.files.get(page, 'attempts.txt'), '0 0');
    assert.equal(await errText(page, 'unlockErr'), '');
    assert.deepEqual(problems, []);
  } finally {
    await context.close();
  }
});

test('the wipe PIN at unlock erases everything and opens the welcome screen', async () => {
  const { page, problems, context } = await device((f) => Object.assign(f, { 'attempts.txt': '3 0' }));
  try {
    await H.waitScreen(page, 'sUnlock');
    await H.unlockWith(page, WIPE);
    await H.waitScreen(page, 'sWelcome', 30000);
    for (const f of ['vault.json', 'device.key', 'attempts.txt']) assert.equal(await H.files.get(page, f), null, f);
    assert.equal(await page.getAttribute('html', 'data-theme'), 'kali');
    assert.deepEqual(problems, []);
  } finally {
    await context.close();
  }
});

test('black-out', async (t) => {
  const { page, problems, context } = await unlocked();
  try {
    await t.test('the key blacks out; a second press within 300 ms does nothing more', async () => {
      await page.evaluate(() => window.MswFocus(true));
      // Both presses in one turn of the page, so a slow machine can't stretch them apart.
      await page.evaluate(() => {
        const press = () => document.activeElement.dispatchEvent(new KeyboardEvent('keydown', { code: 'Escape', key: 'Escape', bubbles: true }));
        press();
        press();
      });
      assert.equal(await isBlack(page), true);
      assert.equal(await appHidden(page), true);
      assert.equal(await isAsk(page), false);
      assert.equal(await page.isVisible('#blackAsk'), false);
      await page.waitForFunction(() => localStorage.getItem('msw:x.title') === 'mosswire');
      await page.waitForFunction(() => document.activeElement.id === 'blackPin');
    });

    await t.test('pressed again it asks for the PIN; Escape empties it and never brings the app back', async () => {
      await page.waitForTimeout(320);
      await page.keyboard.press('Escape');
      assert.equal(await isAsk(page), true);
      assert.equal(await page.isVisible('#blackAsk'), true);
      await typeBlack(page, '12x3');
      assert.equal(await page.textContent('#blackDots'), '•••');
      await page.waitForTimeout(320);
      await page.keyboard.press('Escape');
      assert.equal(await page.textContent('#blackDots'), '');
      assert.equal(await isBlack(page), true);
      assert.equal(await isAsk(page), true);
    });

    await t.test('a mouse press keeps the focus in the PIN field', async () => {
      await page.mouse.click(300, 300);
      assert.equal(await page.evaluate(() => document.activeElement.id), 'blackPin');
    });

    await t.test('a wrong PIN only shakes the dots', async () => {
      await typeBlack(page, '1111');
      await page.keyboard.press('Enter');
      const shown = await page.waitForFunction(() => {
        const dots = document.getElementById('blackDots');
        return dots.classList.contains('shake') && document.getElementById('black').innerText.replace(/\s+/g, ' ').trim();
      }, null, { timeout: 20000 });
      assert.equal(await shown.jsonValue(), 'Enter your PIN •••', 'no text, only the three dots');
      await page.waitForFunction(() => !document.getElementById('blackDots').classList.contains('shake'));
      assert.equal(await page.textContent('#blackDots'), '');
      assert.equal(await isBlack(page), true);
    });

    await t.test('during an attempt wait the right PIN only shakes too', async () => {
      await H.files.set(page, 'attempts.txt', `5 ${Date.now() + 60000}`);
      await typeBlack(page, PIN);
      await page.keyboard.press('Enter');
      await page.waitForFunction(() => document.getElementById('blackDots').classList.contains('shake'), null, { timeout: 20000 });
      assert.equal(await isBlack(page), true);
      await H.files.set(page, 'attempts.txt', '0 0');
      await page.waitForFunction(() => !document.getElementById('blackDots').classList.contains('shake'));
    });

    await t.test('the right PIN brings the app back', async () => {
      await typeBlack(page, PIN);
      await page.keyboard.press('Enter');
      await page.waitForFunction(() => document.getElementById('black').classList.contains('hidden'), null, { timeout: 20000 });
      assert.equal(await appHidden(page), false);
      assert.equal(await isAsk(page), false);
    });

    await t.test('modifiers and key repeat do nothing', async () => {
      await page.waitForTimeout(320);
      for (const k of ['Control+Escape', 'Alt+Escape', 'Meta+Escape']) {
        await page.keyboard.press(k);
        assert.equal(await isBlack(page), false, k);
      }
      await page.evaluate(() => window.dispatchEvent(new KeyboardEvent('keydown', { code: 'Escape', key: 'Escape', repeat: true, bubbles: true })));
      assert.equal(await isBlack(page), false);
    });

    await t.test('MswPanic toggles like the key; the button blacks out', async () => {
      await page.evaluate(() => { window.MswPanic(); window.MswPanic(); });
      assert.equal(await isBlack(page), true);
      assert.equal(await isAsk(page), false, 'within 300 ms of the last toggle');
      await page.waitForTimeout(320);
      await page.evaluate(() => window.MswPanic());
      assert.equal(await isAsk(page), true);
      await typeBlack(page, PIN);
      await page.keyboard.press('Enter');
      await page.waitForFunction(() => document.getElementById('black').classList.contains('hidden'), null, { timeout: 20000 });
      await page.click('#panicBtn');
      assert.equal(await isBlack(page), true);
      assert.equal(await isAsk(page), false);
      await typeBlack(page, PIN);
      await page.keyboard.press('Enter');
      await page.waitForFunction(() => document.getElementById('black').classList.contains('hidden'), null, { timeout: 20000 });
    });

    await t.test('MswAway blacks out in ask mode; MswFocus raises the page focus event', async () => {
      await page.evaluate(() => window.MswAway());
      assert.equal(await isBlack(page), true);
      assert.equal(await isAsk(page), true);
      const seen = await page.evaluate(() => new Promise((resolve) => {
        window.addEventListener('focus', () => resolve('focus'), { once: true });
        window.MswFocus(true);
        setTimeout(() => resolve('none'), 200);
      }));
      assert.equal(seen, 'focus');
      await typeBlack(page, PIN);
      await page.keyboard.press('Enter');
      await page.waitForFunction(() => document.getElementById('black').classList.contains('hidden'), null, { timeout: 20000 });
    });

    await t.test('an open dialog closes on black-out', async () => {
      await page.waitForTimeout(320);
      await page.evaluate(() => document.getElementById('modal').classList.remove('hidden'));
      await page.keyboard.press('Escape');
      assert.equal(await page.isVisible('#modal'), false);
      await page.waitForTimeout(320);
      await page.keyboard.press('Escape');
      await typeBlack(page, WIPE);
      await page.keyboard.press('Enter');
    });

    await t.test('the wipe PIN on the black screen erases everything', async () => {
      await H.waitScreen(page, 'sWelcome', 30000);
      assert.equal(await isBlack(page), false);
      for (const f of ['vault.json', 'device.key', 'attempts.txt', 'x.panic', 'x.startup']) assert.equal(await H.files.get(page, f), null, f);
    });
    assert.deepEqual(problems, []);
  } finally {
    await context.close();
  }
});

test('an older vault opens with the defaults of this version, and they are saved', async () => {
  // Turn the saved vault into one written by an earlier version.
  const s1 = await unlocked();
  let old;
  try {
    await s1.page.evaluate(async () => {
      const d = Vault.data;
      for (const k of ['outbox', 'wanted', 'ann', 'pings', 'spoken']) delete d[k];
      delete d.rooms.announcements;
      delete d.settings.startup;
      delete d.settings.notify;
      d.settings.previews = false;
      d.settings.panicCode = 'Tab';
      d.server = 'wss://old-relay.example';
      d.friends['0'.repeat(32)] = 'friend';
      await Vault.saveNow();
    });
    old = await s1.page.evaluate(() => {
      const out = {};
      for (const k of ['vault.json', 'device.key']) out[k] = localStorage.getItem('msw:' + k);
      return out;
    });
  } finally {
    await s1.context.close();
  }
  const { page, problems, context } = await device((f) => Object.assign(f, old));
  try {
    await H.waitScreen(page, 'sUnlock');
    await H.unlockWith(page, PIN);
    await H.waitScreen(page, 'sMain', 30000);
    assert.equal(await page.isVisible('#friendsPane'), true, 'a friend: opens on Friends');
    assert.equal(await page.isVisible('#chatPane'), false);
    assert.equal(await page.textContent('#panicKbd'), 'Esc');
    const d = await page.evaluate(() => Vault.data);
    for (const k of ['outbox', 'wanted', 'ann', 'pings', 'spoken']) assert.deepEqual(d[k], {}, k);
    assert.deepEqual(d.rooms.announcements, { id: 'announcements', kind: 'ann', name: 'Announcements' });
    assert.equal(d.settings.panicCode, 'Escape');
    assert.equal(d.settings.notify, true);
    assert.equal(d.settings.previews, true, 'a missing notify turns both on');
    assert.equal(d.settings.startup, true);
    assert.equal(d.server, relay.url);
    assert.deepEqual(await callsOf(page, 'msw_set_panic'), [['Escape', 'false']]);
    // The fixes reach the file with the next (debounced) save.
    await page.waitForFunction((before) => localStorage.getItem('msw:vault.json') !== before, old['vault.json'], { timeout: 5000 });
    await page.reload();
    await H.waitScreen(page, 'sUnlock');
    const again = await page.evaluate(async (pin) => { await Vault.unlock(pin); return Vault.data; }, PIN);
    assert.equal(again.settings.panicCode, 'Escape');
    assert.equal(again.server, relay.url);
    assert.deepEqual(problems, []);
  } finally {
    await context.close();
  }
});

test('a vault whose identity is damaged says so and stays locked', async () => {
  const s1 = await unlocked();
  try {
    await s1.page.evaluate(async () => { Vault.data.me = 'not-an-id'; await Vault.saveNow(); });
    await s1.page.reload();
    await H.waitScreen(s1.page, 'sUnlock');
    await H.unlockWith(s1.page, PIN);
    assert.equal(await waitText(s1.page, 'unlockErr', /Couldn't unlock/), "Couldn't unlock: createBox needs the own member id");
    assert.equal(await H.screen(s1.page), 'sUnlock');
    assert.equal(await s1.page.evaluate(() => Vault.data), null);
    await s1.page.keyboard.press('Escape');
    assert.equal(await isBlack(s1.page), false, 'still locked: no black-out');
    assert.deepEqual(s1.problems, []);
  } finally {
    await s1.context.close();
  }
});

test('opening at login is set again at every unlock, unless switched off', async () => {
  const s1 = await unlocked();
  try {
    assert.deepEqual(await callsOf(s1.page, 'msw_startup'), [['true']]);
    await s1.page.evaluate(async () => { Vault.data.settings.startup = false; await Vault.saveNow(); });
    await s1.page.reload();
    await H.waitScreen(s1.page, 'sUnlock');
    await H.unlockWith(s1.page, PIN);
    await H.waitScreen(s1.page, 'sMain', 30000);
    assert.deepEqual(await callsOf(s1.page, 'msw_startup'), []);
    assert.deepEqual(s1.problems, []);
  } finally {
    await s1.context.close();
  }
});

test('while locked, the key and the host events do nothing', async () => {
  const { page, problems, context } = await device();
  try {
    await H.waitScreen(page, 'sUnlock');
    await page.keyboard.press('Escape');
    await page.evaluate(() => { window.MswPanic(); window.MswAway(); window.MswFocus(false); });
    assert.equal(await isBlack(page), false);
    assert.equal(await H.screen(page), 'sUnlock');
    assert.deepEqual(problems, []);
  } finally {
    await context.close();
  }
});

test('gone screens', async (t) => {
  await t.test('a device secret made anew: the data can never open; erase starts over', async () => {
    const { page, problems, context } = await device((f) => { delete f['device.key']; return f; });
    try {
      await H.waitScreen(page, 'sGone');
      assert.equal(await page.textContent('#goneTitle'), "This device's data can't be opened");
      assert.equal(await page.textContent('#goneMsg'),
        "mosswire's key for this computer is missing (for example after moving the data to another computer or user account), so the messages stored here can never be decrypted. Erase them to start again.");
      await page.click('#goneErase');
      assert.equal(await page.textContent('#modalCard h2'), 'Erase this device?');
      assert.equal(await page.textContent('#modalCard p'),
        'This deletes everything mosswire has stored on this computer: your identity, messages and settings. It cannot be undone.');
      await page.click('#modalCard .link');
      assert.equal(await page.isVisible('#modal'), false, 'Cancel keeps everything');
      assert.notEqual(await H.files.get(page, 'vault.json'), null);
      await page.click('#goneErase');
      await page.mouse.click(5, 5);
      assert.equal(await page.isVisible('#modal'), false, 'a press on the backdrop closes the dialog');
      await page.click('#goneErase');
      await page.click('#modalCard h2');
      assert.equal(await page.isVisible('#modal'), true, 'a press inside the card does not');
      await page.click('#modalCard .btn.danger');
      await H.waitScreen(page, 'sWelcome', 30000);
      assert.equal(await H.files.get(page, 'vault.json'), null);
      assert.deepEqual(problems, []);
    } finally {
      await context.close();
    }
  });

  await t.test('a device secret the system refuses: no erase button', async () => {
    const { page, problems, context } = await device((f) => Object.assign(f, { 'device.key': 'a blob from elsewhere' }));
    try {
      await H.waitScreen(page, 'sGone');
      assert.equal(await page.textContent('#goneTitle'), "mosswire couldn't read its key");
      assert.equal(await page.textContent('#goneMsg'),
        'The system keychain refused to hand over the key that protects your data. Open mosswire again and allow access when asked.');
      assert.equal(await page.isVisible('#goneErase'), false);
      assert.deepEqual(problems, []);
    } finally {
      await context.close();
    }
  });

  await t.test('a vault file that is not a vault counts as none', async () => {
    const { page, problems, context } = await device((f) => Object.assign(f, { 'vault.json': '{"v":1,' }));
    try {
      await H.waitScreen(page, 'sWelcome');
      assert.deepEqual(problems, []);
    } finally {
      await context.close();
    }
  });
});

test('themes from the vault header', async () => {
  const withTheme = (id) => (f) => {
    const h = JSON.parse(f['vault.json']);
    h.theme = id;
    return Object.assign(f, { 'vault.json': JSON.stringify(h) });
  };
  const bodyBg = { kali: 'rgb(0, 0, 0)', 'kali-light': 'rgb(255, 255, 255)', matrix: 'rgb(0, 0, 0)', amber: 'rgb(12, 8, 0)', midnight: 'rgb(15, 30, 61)' };
  const textColor = { kali: 'rgb(237, 237, 237)', 'kali-light': 'rgb(26, 26, 26)', matrix: 'rgb(0, 255, 65)', amber: 'rgb(255, 176, 0)', midnight: 'rgb(255, 255, 255)' };
  for (const id of [...THEMES, 'no-such-theme']) {
    const expect = THEMES.includes(id) ? id : 'kali';
    const { page, problems, context } = await device(withTheme(id), { reducedMotion: 'reduce' });
    try {
      await H.waitScreen(page, 'sUnlock');
      assert.equal(await page.getAttribute('html', 'data-theme'), expect, id);
      const look = await page.evaluate(() => ({
        bg: getComputedStyle(document.body).backgroundColor,
        fg: getComputedStyle(document.body).color,
        scan: getComputedStyle(document.body, '::after').opacity,
      }));
      assert.equal(look.bg, bodyBg[expect], id);
      assert.equal(look.fg, textColor[expect], id);
      assert.equal(look.scan, expect === 'matrix' || expect === 'amber' ? '1' : '0', 'scan lines in ' + id);
      if (SHOTS && id === expect) await shootAll(page, id);
      if (id === 'midnight' || id === 'kali') {
        await H.unlockWith(page, PIN);
        await H.waitScreen(page, 'sMain', 30000);
        const prompt = await page.evaluate(() => getComputedStyle(document.querySelector('.prompt-mark')).display);
        assert.equal(prompt, id === 'midnight' ? 'none' : 'flex', 'prompt line in ' + id);
      }
      assert.deepEqual(problems, []);
    } finally {
      await context.close();
    }
  }
});

// Screenshots of every screen in one theme, for a person to look at.
async function shootAll(page, theme) {
  fs.mkdirSync(SHOTS, { recursive: true });
  const shot = (name) => page.screenshot({ path: path.join(SHOTS, `${theme}-${name}.png`) });
  await page.fill('#unlockPin', '12');
  await shot('unlock');
  await page.fill('#unlockPin', '');
  await H.unlockWith(page, '0001');
  await waitText(page, 'unlockErr', /Wrong PIN/);
  await shot('unlock-wrong');
  await H.unlockWith(page, PIN);
  await H.waitScreen(page, 'sMain', 30000);
  await shot('main-general');
  await page.click('#navFriends');
  await shot('main-friends');
  await page.evaluate(() => document.getElementById('goneErase').click());
  await shot('dialog');
  await page.keyboard.press('Escape');
  await page.waitForTimeout(320);
  await page.keyboard.press('Escape');
  await typeBlack(page, PIN.slice(0, 3));
  await shot('black-ask');
  await typeBlack(page, PIN.slice(3));
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => document.getElementById('black').classList.contains('hidden'), null, { timeout: 20000 });
  await page.evaluate(() => {
    const hide = (id, on) => document.getElementById(id).classList.toggle('hidden', on);
    ['sMain', 'sUnlock', 'sSetPin', 'sUpdate', 'sGone'].forEach((s) => hide(s, true));
    hide('sWelcome', false);
    hide('joinMore', false);
    hide('joinRow', false);
    document.getElementById('joinCode').value = 'MSW2.7hQpL0dE3y';
    document.getElementById('joinName').value = 'maya';
    document.getElementById('joinErr').textContent = "That invite code isn't valid. Make sure you copied all of it.";
  });
  await shot('welcome');
  await page.evaluate(() => {
    document.getElementById('sWelcome').classList.add('hidden');
    document.getElementById('sSetPin').classList.remove('hidden');
    document.getElementById('setPinErr').textContent = 'Setting up…';
    document.getElementById('setPinErr').classList.add('ok');
  });
  await shot('setpin');
  await page.evaluate(() => {
    document.getElementById('sSetPin').classList.add('hidden');
    document.getElementById('goneTitle').textContent = "This device's data can't be opened";
    document.getElementById('goneMsg').textContent = "mosswire's key for this computer is missing, so the messages stored here can never be decrypted. Erase them to start again.";
    document.getElementById('sGone').classList.remove('hidden');
  });
  await shot('gone');
  await page.reload();
  await H.waitScreen(page, 'sUnlock');
}
