// Black-out and wipe. One key makes the window go black at once; only the PIN brings it
// back. The wipe PIN, typed at any PIN prompt, erases everything and starts over.

var TOGGLE_GUARD = 300;
var lastToggle = -Infinity;
var blackBusy = false;

var KEY_NAMES = {
  Backquote: '`', Minus: '-', Equal: '=', BracketLeft: '[', BracketRight: ']', Backslash: '\\',
  Semicolon: ';', Quote: "'", Comma: ',', Period: '.', Slash: '/', Space: 'Space',
  ArrowLeft: '←', ArrowRight: '→', ArrowUp: '↑', ArrowDown: '↓', Escape: 'Esc',
};

function keyLabel(code) {
  if (!code) return 'none';
  if (Object.prototype.hasOwnProperty.call(KEY_NAMES, code)) return KEY_NAMES[code];
  if (code.indexOf('Key') === 0 && code.length > 3) return code.slice(3);
  if (code.indexOf('Digit') === 0 && code.length > 5) return code.slice(5);
  return code;
}

// Whether the key also works while mosswire is in the background.
async function applyPanicKey() {
  var code = (D && D.settings && D.settings.panicCode) || '';
  var global = !!(D && D.settings && D.settings.panicGlobal) && !!code;
  return (await nat('msw_set_panic', false, code, global)) === true;
}

function drawDots() {
  $('blackDots').textContent = '•'.repeat($('blackPin').value.length);
}

function askMode() {
  $('blackPin').value = '';
  drawDots();
  $('black').classList.add('ask');
  $('blackPin').focus();
}

function blackout() {
  if (!S.unlocked || S.black) return;
  S.black = true;
  closeModal();
  $('app').classList.add('hidden');
  $('black').classList.remove('hidden', 'ask');
  $('blackPin').value = '';
  drawDots();
  drawTitle();
  setTimeout(function () { if (S.black) $('blackPin').focus(); }, 0);
}

function toggleBlack() {
  if (!S.unlocked) return;
  // One key press may arrive twice: through the page and through the global hot key.
  var now = performance.now();
  if (now - lastToggle < TOGGLE_GUARD) return;
  lastToggle = now;
  if (!S.black) blackout();
  else askMode();
}

function unblack() {
  S.black = false;
  S.away = false;
  $('black').classList.add('hidden');
  $('black').classList.remove('ask');
  $('blackPin').value = '';
  drawDots();
  $('app').classList.remove('hidden');
  if (focused()) markSeen();
  draw();
  if (S.view !== 'friends') setTimeout(function () { $('msg').focus(); }, 0);
}

function shakeDots() {
  var dots = $('blackDots');
  dots.textContent = '•••';
  dots.classList.remove('shake');
  void dots.offsetWidth; // restart the animation on a second wrong PIN
  dots.classList.add('shake');
  setTimeout(function () {
    dots.classList.remove('shake');
    drawDots();
  }, 600);
}

async function blackEnter() {
  var input = $('blackPin');
  var pin = input.value;
  input.value = '';
  drawDots();
  if (!pin || blackBusy) return;
  blackBusy = true;
  var ok = null;
  try {
    ok = await tryPin(pin, shakeDots);
  } catch (e) {
    shakeDots();
  }
  blackBusy = false;
  if (ok === 'ok' && S.black) unblack();
}

async function wipe() {
  $('app').classList.add('hidden');
  closeModal();
  try { stopNet(); } catch (e) { /* the reload ends it anyway */ }
  S.unlocked = false;
  D = null;
  // A save already running must end before the files go, or it would write the vault back.
  await Vault.lock();
  await nat('msw_wipe', null);
  location.reload();
}

section('blackout', {
  init: function () {
    // The page's own black-out key sees every key before anything else in the page.
    window.addEventListener('keydown', function (e) {
      if (!S.unlocked || S.capturing || !D) return;
      var code = D.settings.panicCode;
      if (!code || e.code !== code) return;
      if (e.ctrlKey || e.metaKey || e.altKey || e.repeat) return;
      e.preventDefault();
      e.stopImmediatePropagation();
      toggleBlack();
    }, true);

    $('black').addEventListener('mousedown', function (e) {
      e.preventDefault();
      $('blackPin').focus();
    });
    $('blackPin').addEventListener('blur', function () {
      if (S.black) setTimeout(function () { if (S.black) $('blackPin').focus(); }, 0);
    });
    $('blackPin').addEventListener('input', function () {
      var input = $('blackPin');
      var clean = input.value.replace(/\D+/g, '');
      if (clean !== input.value) input.value = clean;
      drawDots();
    });
    $('blackPin').addEventListener('keydown', function (e) {
      if (e.key === 'Escape') {
        e.preventDefault();
        $('blackPin').value = '';
        drawDots();
      } else if (e.key === 'Enter') {
        e.preventDefault();
        blackEnter();
      }
    });
    $('panicBtn').addEventListener('click', blackout);
  },
});

// Raised by the native host.
window.MswPanic = function () { toggleBlack(); };
window.MswAway = function () {
  blackout();
  if (S.black) {
    S.away = true;
    $('black').classList.add('ask');
  }
};
window.MswFocus = function (on) {
  S.fg = on === true;
  if (S.fg) window.dispatchEvent(new FocusEvent('focus'));
};
