// First run: the invite or spoken code, the username, then the PIN that seals everything.

var JOIN = {
  invalid: "That invite code isn't valid. Make sure you copied all of it.",
  expired: 'That invite code has expired. Ask for a new one.',
  digits: 'Spoken codes have 12 digits.',
  ownerKey: "That's the owner key, which goes in the server's settings on Render. It isn't an invite code: make one with node tools/owner.js invite (that works for you too), then paste it here.",
};

var checked = null; // { invite, owner, expired } once the box holds a valid code
var pending = null; // { invite, owner, name } between the username and the PIN screen

function drawJoinRows(showMore) {
  var wasHidden = $('joinMore').classList.contains('hidden');
  $('pasteRow').classList.toggle('hidden', !!checked);
  $('joinMore').classList.toggle('hidden', !showMore);
  $('joinRow').classList.toggle('hidden', !showMore);
  if (showMore && wasHidden) $('joinName').focus();
}

// Runs on every input event. Earlier runs may still be waiting (a spoken lookup takes
// seconds); each run checks after every wait that the box still holds its text, so only
// the newest text decides.
async function onJoinInput() {
  var box = $('joinCode');
  var text = box.value;
  var s = text.replace(/\s+/g, '');
  var digits = text.replace(/[\s.\-]+/g, '');
  var inv = null;
  var lookupErr = null;
  var spoken = P.isSpoken(text);

  if (spoken) {
    checked = null;
    drawJoinRows(false);
    err('joinErr', 'Checking that code…', true);
    var found = await lookupSpoken(digits, function () {
      if (box.value === text) err('joinErr', 'Waking up the server… this can take up to a minute.', true);
    });
    if (box.value !== text) return;
    if (found.code) inv = await parseInvite(found.code);
    else lookupErr = found.err;
  } else {
    inv = await parseInvite(text);
  }
  var owner = inv ? await checkInvite(inv) : null;
  if (box.value !== text) return;

  var expired = !!(inv && inv.g && inv.g.exp < Date.now());
  checked = owner ? { invite: inv, owner: owner, expired: expired } : null;

  var msg = '';
  if (lookupErr) msg = lookupErr;
  else if (!s || /^\d{1,11}$/.test(digits)) msg = '';
  else if (spoken) msg = !checked ? JOIN.invalid : expired ? JOIN.expired : '';
  else if (/^\d+$/.test(digits)) msg = JOIN.digits;
  else if (s.charAt(0) === 'B' && P.isB64(s, 88, 88)) msg = JOIN.ownerKey;
  else if (s.indexOf(INVITE_PREFIX) !== 0 && s.indexOf(P.INVITE2) !== 0) {
    msg = "That's not an invite code. Type the 12 digits you were told, or paste a code that starts with " + P.INVITE2;
  } else if (!checked) msg = JOIN.invalid;
  else if (expired) msg = JOIN.expired;
  err('joinErr', msg);
  drawJoinRows(!!checked && !expired);
}

async function pasteCode() {
  var t = await nat('msw_paste', null);
  t = typeof t === 'string' ? t.trim() : '';
  if (!t) {
    err('joinErr', 'The clipboard is empty. Copy your invite code first.');
    return;
  }
  var box = $('joinCode');
  box.value = t;
  box.dispatchEvent(new Event('input'));
}

function joinNext() {
  if (!checked || checked.expired) return;
  var name = $('joinName').value.trim();
  if (name.length < 2) { err('joinErr', 'Usernames need at least 2 characters'); return; }
  if (!P.USERNAME_RE.test(name)) { err('joinErr', 'Usernames can only use letters, numbers, _ and .'); return; }
  pending = { invite: checked.invite, owner: checked.owner, name: name };
  $('newPin').value = '';
  $('newPin2').value = '';
  err('setPinErr', '');
  show('sSetPin');
}

async function setPin() {
  var btn = $('setPinGo');
  if (btn.disabled) return;
  var pin = $('newPin').value;
  if (!validPin(pin)) { err('setPinErr', 'Your PIN needs 4 to 12 digits'); return; }
  if (pin !== $('newPin2').value) { err('setPinErr', "Those PINs don't match"); return; }
  if (!pending) { show('sWelcome'); return; }
  btn.disabled = true;
  err('setPinErr', 'Setting up…', true);
  try {
    var keys = await P.generateKeys();
    var me = await P.idOf(keys.sigPub);
    var cert = await P.acceptInvite(pending.invite, keys, pending.name);
    await Vault.create(pin, initialData(pending.owner, me, keys, cert, pending.invite));
    await nat('msw_pin_result', null, true);
    pending = null;
    $('newPin').value = '';
    $('newPin2').value = '';
    await unlockedStart();
  } catch (e) {
    err('setPinErr', "Couldn't finish setting up: " + failText(e));
  }
  btn.disabled = false;
}

section('join', {
  init: function () {
    $('joinCode').addEventListener('input', function () {
      onJoinInput().catch(function (e) { console.error('mosswire: join check failed:', e); });
    });
    $('pasteBtn').addEventListener('click', pasteCode);
    $('joinNext').addEventListener('click', joinNext);
    $('joinName').addEventListener('input', function () { err('joinErr', ''); });
    $('joinName').addEventListener('keydown', function (e) {
      if (e.key === 'Enter') { e.preventDefault(); joinNext(); }
    });
    digitsOnly($('newPin'));
    digitsOnly($('newPin2'));
    $('setPinBack').addEventListener('click', function () { show('sWelcome'); });
    $('setPinGo').addEventListener('click', setPin);
    $('newPin2').addEventListener('keydown', function (e) {
      if (e.key === 'Enter') { e.preventDefault(); setPin(); }
    });
  },
});
