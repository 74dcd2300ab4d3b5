// The one PIN check every prompt uses, and the unlock screen of every later start.

// tryPin(pin, onWrong) → "ok" or null. The native counter decides whether a PIN may be
// tried at all; while it imposes a wait the vault is not touched, so guessing gets no
// faster by reloading or restarting. The wipe PIN never reaches the counter: it erases.
async function tryPin(pin, onWrong) {
  var wait = Number(await window.msw_pin_start());
  if (wait > 0) {
    onWrong('Too many wrong PINs. Try again in ' + Math.ceil(wait / 1000) + ' seconds.');
    return null;
  }
  var result = S.unlocked ? await Vault.check(pin) : await Vault.unlock(pin);
  if (result === 'wipe') {
    await wipe();
    return null;
  }
  await window.msw_pin_result(result === 'ok');
  if (result !== 'ok') {
    onWrong('Wrong PIN');
    return null;
  }
  return 'ok';
}

async function unlock() {
  var input = $('unlockPin');
  var btn = $('unlockGo');
  var pin = input.value;
  if (!pin || btn.disabled) return;
  btn.disabled = true;
  err('unlockErr', '');
  input.value = '';
  try {
    var r = await tryPin(pin, function (text) { err('unlockErr', text); });
    if (r === 'ok') await unlockedStart();
  } catch (e) {
    err('unlockErr', "Couldn't unlock: " + failText(e));
  }
  btn.disabled = false;
  if (!S.unlocked) input.focus();
}

section('unlock', {
  init: function () {
    digitsOnly($('unlockPin'));
    $('unlockGo').addEventListener('click', unlock);
    $('unlockPin').addEventListener('keydown', function (e) {
      if (e.key === 'Enter') { e.preventDefault(); unlock(); }
    });
  },
});
