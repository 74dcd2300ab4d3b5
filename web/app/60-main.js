// The unlocked start and the main screen's frame. Every chat section takes part through the
// registry (start, draw and its frame handlers); this section only runs them in order.

// This member's own certificate, known without the relay, so the main screen can show who
// is signed in even before the directory is rebuilt.
async function knowSelf() {
  var info = await P.verifyCert(D.cert, D.owner);
  if (info && info.id === D.me) S.info[D.me] = info;
}

// A start that fails half-way leaves nothing half-open: the next PIN entry starts again.
async function unlockedStart() {
  try {
    await startUnlocked();
  } catch (e) {
    S.unlocked = false;
    D = null;
    await Vault.lock();
    throw e;
  }
}

async function startUnlocked() {
  D = Vault.data;
  var changed = normalise(D);
  S.unlocked = true;
  if (D.server !== C.SERVER) {
    D.server = C.SERVER;
    changed = true;
  }
  if (changed) Vault.save();

  S.box = P.createBox(D.me, D.keys.ecdhPriv);
  S.removed = new Set(D.removals && Array.isArray(D.removals.ids) ? D.removals.ids : []);
  await knowSelf();

  await startSections();

  await applyPanicKey();
  await nat('msw_notify_setup', null);
  var fg = await nat('msw_focused', null);
  if (typeof fg === 'boolean') S.fg = fg;

  if (D.settings.startup) await nat('msw_startup', false, true);

  var ownerKey = await nat('msw_owner_key', null);
  S.owner = typeof ownerKey === 'string' && !!D.owner && ownerKey === D.owner;

  show('sMain');
  draw();
  for (var i = 0; i < SECTIONS.length; i++) if (SECTIONS[i].ready) SECTIONS[i].ready();
}

function drawMe() {
  var box = $('meBox');
  box.textContent = '';
  box.appendChild(avatar(D.me, 'sm', true));
  box.appendChild(nameBit(nameOf(D.me), 'me-name'));
}

function drawNav() {
  $('navFriends').classList.toggle('on', S.view === 'friends');
  $('navGeneral').classList.toggle('on', S.view === 'general');
  $('navAnn').classList.toggle('on', S.view === 'announcements');
}

// The full redraw, only while unlocked.
function draw() {
  if (!S.unlocked || !D) return;
  if (S.view !== 'friends' && !D.rooms[S.view]) S.view = 'friends';
  drawMe();
  $('panicKbd').textContent = keyLabel(D.settings.panicCode);
  drawNav();
  var friends = S.view === 'friends';
  $('friendsPane').classList.toggle('hidden', !friends);
  $('chatPane').classList.toggle('hidden', friends);
  drawSections();
}

function openView(id) {
  if (id === 'friends') {
    S.view = 'friends';
    err('chatErr', '');
    draw();
    return;
  }
  openRoom(id);
}

section('main', {
  init: function () {
    $('navFriends').addEventListener('click', function () { openView('friends'); });
    $('navGeneral').addEventListener('click', function () { openView('general'); });
    $('navAnn').addEventListener('click', function () { openView('announcements'); });
    $('settingsBtn').addEventListener('click', function () { hook('settings'); });
  },
});

// Raised by the host just before the program ends (Quit, a close without a tray, the
// session ending, a signal). What the page holds is written now, and what the relay and
// the authors wait for is sent; the host waits for this to settle, a few seconds at most,
// before the window goes. Own messages still unconfirmed stay pending in the vault and go
// out after the next start.
window.MswQuit = function () {
  return S.unlocked && D ? storeAll() : undefined;
};
