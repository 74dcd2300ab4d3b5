// The settings dialog: the look, the black-out key, the wipe PIN, notifications, opening at
// login, the PIN, this device's identity and safety number, the owner's way in, and erasing.

var SETTINGS_TEXT = {
  keyHint: 'Press it and mosswire instantly goes completely black. To come back, type your PIN on the black screen and press Enter, or press the key again to see a PIN prompt.',
  bgHint: "mosswire takes the key over in every app, so pick one you don't use, like F9.",
  tab: "Tab moves between buttons, so it can't be the black-out key. Press another key.",
  keyNoBg: "That key can't be used while mosswire is in the background. It still works inside mosswire.",
  boxNoBg: "That key can't be used while mosswire is in the background. Pick another, like F9.",
  typesChar: ". Heads up: this key types a character, so you can't type it in messages.",
  notify: 'Desktop notifications for direct messages, group chats, mentions, announcements and friend requests while mosswire is in the background',
  testBody: "Notifications are working. You'll get these while mosswire is in the background.",
  startupHint: 'It opens to the PIN screen. Closing the window keeps it running for notifications.',
  ownerHint: 'This computer holds the owner key, so you can make invite codes, post in Announcements, and see the terminal commands for members and the server.',
  eraseText: 'This deletes your identity, every message and all settings from this computer. It cannot be undone.',
};
var TEST_HINT = {
  windows: 'Nothing showed up? Open Settings → System → Notifications, turn on notifications for mosswire, and check Do not disturb is off.',
  mac: 'Nothing showed up? Open System Settings → Notifications → mosswire and turn on Allow notifications, and check Focus is off.',
  linux: "Nothing showed up? Open your desktop's notification settings, turn on notifications for mosswire, and check Do not disturb is off.",
};
var STARTUP_FAILED = {
  windows: "Windows wouldn't let mosswire set that up.",
  mac: 'mosswire can only open at login from your Applications folder. Drag it there from the disk image, then open it from there.',
  linux: "Your desktop wouldn't let mosswire set that up.",
};
var IGNORED_KEYS = ['Shift', 'Control', 'Alt', 'Meta', 'CapsLock'];

function pinField(placeholder) {
  var input = h('input', { type: 'password', inputmode: 'numeric', maxlength: '12', autocomplete: 'off', placeholder: placeholder });
  digitsOnly(input);
  return input;
}

function msgLine() { return h('p', { class: 'err', role: 'status' }); }

function say(line, text, ok) {
  line.textContent = text || '';
  line.classList.toggle('ok', !!ok);
}

function link(text, onclick, cls) {
  return h('button', { type: 'button', class: cls ? 'link ' + cls : 'link', text: text, onclick: onclick });
}

function checkRow(label, on, onchange) {
  var box = h('input', { type: 'checkbox' });
  box.checked = !!on;
  box.addEventListener('change', function () { onchange(box.checked); });
  return { box: box, el: h('label', { class: 'check' }, box, h('span', { text: label })) };
}

function settingsSection(title) {
  return h('section', { class: 'set-sec' }, h('h3', { text: title }), Array.prototype.slice.call(arguments, 1));
}

// A setting changed in the dialog is written at once; a failed write is reported by the
// next background save as well.
function changeSetting(key, value) {
  setSetting(key, value);
  storeNow().catch(function (e) { console.error('mosswire: saving settings failed:', e && e.message); });
}

// The current-PIN check the PIN and wipe-PIN changes share. The wipe PIN wipes.
async function currentPinOk(pin, line) {
  if (!validPin(pin)) {
    say(line, 'Your current PIN is wrong');
    return false;
  }
  var r = await tryPin(pin, function (text) { say(line, text === 'Wrong PIN' ? 'Your current PIN is wrong' : text); });
  return r === 'ok';
}

// ---- appearance ----

function themeCard(t, on, pick) {
  var box = h('div', { class: 'tp-box' + (t.mono ? ' mono' : '') },
    h('div', { class: 'tp-a', text: t.prompt ? '┌──(you㉿msw)-[~]' : '# General' }),
    h('div', { class: 'tp-l' }, h('span', { class: 'tp-b', text: t.mono ? '<maya> ' : 'maya ' }), 'see you there'),
    h('div', { class: 'tp-a', text: t.prompt ? '└─$' : '' }));
  box.style.setProperty('--p-bg', t.bg);
  box.style.setProperty('--p-fg', t.fg);
  box.style.setProperty('--p-a', t.a);
  box.style.setProperty('--p-b', t.b);
  box.style.setProperty('--p-line', t.a + '55');
  var card = h('button', { type: 'button', class: on ? 'theme-card on' : 'theme-card', 'data-theme-id': t.id, 'aria-pressed': on ? 'true' : 'false' },
    box, h('div', { class: 'tp-name', text: t.name }), h('div', { class: 'tp-desc', text: t.desc }));
  card.addEventListener('click', function () { pick(t.id); });
  return card;
}

function themePicker() {
  var wrap = h('div', { class: 'themes' });
  var current = themeId(document.documentElement.getAttribute('data-theme'));
  var cards = THEMES.map(function (t) {
    return themeCard(t, t.id === current, function (id) {
      applyTheme(id);
      cards.forEach(function (c) {
        var on = c.getAttribute('data-theme-id') === id;
        c.classList.toggle('on', on);
        c.setAttribute('aria-pressed', on ? 'true' : 'false');
      });
      try {
        Promise.resolve(Vault.setTheme(id)).catch(function () {});
      } catch (e) { /* the theme still applies for this run */ }
    });
  });
  appendKids(wrap, cards);
  return wrap;
}

// ---- black-out key ----

function panicSection() {
  var label = h('kbd', { class: 'set-key', text: keyLabel(D.settings.panicCode) });
  var line = msgLine();
  var change = link('Change key', capture);
  var bg = checkRow('Also works when mosswire is in the background', D.settings.panicGlobal, async function (on) {
    changeSetting('panicGlobal', on);
    var ok = await applyPanicKey();
    if (on && !ok) say(line, SETTINGS_TEXT.boxNoBg);
    else say(line, 'Saved', true);
  });

  function capture() {
    if (S.capturing) return;
    S.capturing = true;
    change.textContent = 'Press a key…';
    say(line, '');
    window.addEventListener('keydown', onKey, true);
  }

  async function onKey(e) {
    // A listener left from a closed dialog goes without taking the key.
    if (!S.capturing || !D) {
      window.removeEventListener('keydown', onKey, true);
      return;
    }
    if (!e.code || IGNORED_KEYS.indexOf(e.key) !== -1) return;
    e.preventDefault();
    e.stopImmediatePropagation();
    if (e.code === 'Tab') {
      say(line, SETTINGS_TEXT.tab);
      return;
    }
    window.removeEventListener('keydown', onKey, true);
    S.capturing = false;
    var code = e.code;
    var types = typeof e.key === 'string' && e.key.length === 1;
    changeSetting('panicCode', code);
    label.textContent = keyLabel(code);
    change.textContent = 'Change key';
    var ok = await applyPanicKey();
    var global = !!D && D.settings.panicGlobal;
    // Without the background option nothing needs setting up: saving is the success.
    var text = global && !ok ? SETTINGS_TEXT.keyNoBg : 'Saved';
    // "Saved. Heads up…", but no doubled full stop after a sentence that has its own.
    if (types) text += /\.$/.test(text) ? SETTINGS_TEXT.typesChar.slice(1) : SETTINGS_TEXT.typesChar;
    say(line, text, !global || ok);
  }

  return settingsSection('Black-out key',
    h('p', { class: 'hint', text: SETTINGS_TEXT.keyHint }),
    h('div', { class: 'set-row' }, h('span', { text: 'Key: ' }), label, change),
    bg.el,
    h('p', { class: 'hint small', text: SETTINGS_TEXT.bgHint }),
    line,
    link('Black out now', function () {
      closeModal();
      blackout();
    }));
}

// ---- wipe PIN ----

function wipeSection() {
  var status = h('b', { class: 'wipe-status', text: D.settings.wipeSet ? 'On' : 'Off' });
  var cur = pinField('Current PIN');
  var w1 = pinField('Wipe PIN');
  var w2 = pinField('Wipe PIN again');
  var line = msgLine();
  var busy = false;

  async function setWipe(on) {
    if (busy) return;
    if (on && !validPin(w1.value)) return say(line, 'The wipe PIN needs 4 to 12 digits');
    if (on && w1.value !== w2.value) return say(line, "The wipe PINs don't match");
    busy = true;
    try {
      if (!(await currentPinOk(cur.value, line))) return;
      try {
        await Vault.setWipePin(on ? w1.value : null);
      } catch (e) {
        say(line, failText(e));
        return;
      }
      status.textContent = D && D.settings.wipeSet ? 'On' : 'Off';
      say(line, on ? 'Wipe PIN set' : 'Wipe PIN removed', true);
      cur.value = w1.value = w2.value = '';
    } finally {
      busy = false;
    }
  }

  return settingsSection('Wipe PIN',
    h('p', { class: 'hint' }, 'A second PIN that ', h('b', { text: 'erases everything' }),
      " mosswire has stored on this computer: your identity, every message and all settings. Entering it on the lock screen or the black screen wipes mosswire instantly and it opens as a fresh install. This can't be undone. Status: ",
      status),
    cur, w1, w2, line,
    h('div', { class: 'set-row' }, link('Set wipe PIN', function () { setWipe(true); }), link('Turn off', function () { setWipe(false); })));
}

// ---- notifications, startup ----

function notifySection() {
  var hint = h('p', { class: 'hint small hidden', text: byOs(TEST_HINT) });
  var notifyRow = checkRow(SETTINGS_TEXT.notify, D.settings.notify, function (on) {
    changeSetting('notify', on);
  });
  var previewRow = checkRow('Show message text in notifications', D.settings.previews, function (on) {
    changeSetting('previews', on);
  });
  return settingsSection('Notifications', notifyRow.el, previewRow.el,
    link('Send a test notification', function () {
      nat('msw_notify', null, 'mosswire', SETTINGS_TEXT.testBody);
      hint.classList.remove('hidden');
    }),
    hint);
}

function startupSection() {
  var line = msgLine();
  var row = checkRow('Open mosswire when you log in to your computer', D.settings.startup !== false, async function (on) {
    changeSetting('startup', on);
    var ok = (await nat('msw_startup', false, on)) === true;
    if (ok) say(line, 'Saved', true);
    else say(line, byOs(STARTUP_FAILED));
  });
  return settingsSection('Startup', row.el, h('p', { class: 'hint small', text: SETTINGS_TEXT.startupHint }), line);
}

// ---- PIN ----

function pinSection() {
  var cur = pinField('Current PIN');
  var n1 = pinField('New PIN');
  var n2 = pinField('New PIN again');
  var line = msgLine();
  var busy = false;

  async function change() {
    if (busy) return;
    if (!validPin(n1.value)) return say(line, 'Your PIN needs 4 to 12 digits');
    if (n1.value !== n2.value) return say(line, "The new PINs don't match");
    busy = true;
    try {
      if (!(await currentPinOk(cur.value, line))) return;
      try {
        await Vault.setPin(n1.value);
      } catch (e) {
        say(line, failText(e));
        return;
      }
      say(line, 'PIN changed', true);
      cur.value = n1.value = n2.value = '';
    } finally {
      busy = false;
    }
  }

  return settingsSection('PIN', cur, n1, n2, line, h('div', { class: 'set-row' }, link('Change PIN', change)));
}

// ---- this device, owner, erase ----

function deviceSection(safety) {
  return settingsSection('This device',
    h('p', null, 'Username: ', h('b', { text: drawnName(nameOf(D.me)) }), " (usernames can't be changed)"),
    h('p', null, 'Server: ', h('b', { text: String(D.server).replace(/^wss:\/\//, '') })),
    h('p', null, 'Version: ', h('b', { text: C.VERSION }), ' (updates install themselves when mosswire opens)'),
    h('div', { class: 'lbl', text: 'Your safety number' }),
    h('div', { class: 'safety mono', text: safety }));
}

function ownerSection() {
  return settingsSection('Owner',
    h('p', { class: 'hint', text: SETTINGS_TEXT.ownerHint }),
    link('Invite codes and owner commands', function () { ownerCommands(); }));
}

function eraseSection() {
  return settingsSection('Erase',
    link('Erase everything on this device', function () {
      ask('Erase everything now?', SETTINGS_TEXT.eraseText, 'Erase', wipe, true);
    }, 'danger'));
}

async function settings() {
  if (!S.unlocked || !D) return;
  var d = D;
  var mine = S.info[D.me] || (D.cert && D.cert.m);
  var safety = '';
  try { safety = mine ? await P.safetyNumber(mine) : ''; } catch (e) { safety = ''; }
  var ownerKey = await nat('msw_owner_key', null);
  if (D !== d || !S.unlocked || S.black) return;
  var isOwner = typeof ownerKey === 'string' && !!ownerKey && ownerKey === D.owner;
  S.owner = isOwner;
  modal('Settings',
    settingsSection('Appearance', themePicker()),
    panicSection(),
    wipeSection(),
    notifySection(),
    startupSection(),
    pinSection(),
    deviceSection(safety),
    isOwner ? ownerSection() : null,
    eraseSection(),
    closeBtn());
  var card = $('modalCard');
  card.setAttribute('data-kind', 'settings');
  // The dialog opens at its top, not at the first PIN field further down.
  setTimeout(function () {
    if (card.getAttribute('data-kind') !== 'settings') return;
    var first = card.querySelector('.theme-card.on') || card.querySelector('.theme-card');
    if (first) first.focus();
    card.scrollTop = 0;
  }, 40);
}

section('settings', {
  settings: settings,
});
