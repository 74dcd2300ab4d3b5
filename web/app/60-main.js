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
  if (normalise(D)) Vault.save();
  S.unlocked = true;
  if (D.server !== C.SERVER) setServer(C.SERVER);

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

function drawPanes() {
  var friends = S.view === 'friends';
  $('friendsPane').classList.toggle('hidden', !friends);
  $('chatPane').classList.toggle('hidden', friends);
}

// The status dot, the banner above the chat and the log's waiting mark, from S.status and
// S.banner.
function drawStatus() {
  var status = S.status;
  var b = S.banner;
  $('log').classList.toggle('waiting', status !== 'online');
  var dot = $('netDot');
  dot.className = status === 'online' ? 'dot on' : status === 'connecting' ? 'dot wait' : 'dot';
  dot.title = status === 'online' ? 'Connected' : b.text || 'Offline';
  var banner = $('banner');
  banner.textContent = '';
  banner.classList.toggle('hidden', !b.text);
  banner.classList.toggle('bad', b.bad);
  if (b.text) {
    banner.appendChild(h('span', { text: b.text }));
    if (b.action) banner.appendChild(h('button', { type: 'button', class: 'link', text: b.action.text, onclick: b.action.run }));
  }
}

// A change of the connection, told to a screen reader once.
var toldStatus = { status: null };

function tellStatus() {
  if (S.status === toldStatus.status) return;
  toldStatus.status = S.status;
  if (S.status === 'online') tell('Connected');
  else if (S.status === 'connecting') tell('Reconnecting');
  else tell(S.banner.text || 'Disconnected');
}

// The full redraw, only while unlocked.
function draw() {
  if (!S.unlocked || !D) return;
  if (S.view !== 'friends' && !D.rooms[S.view]) S.view = 'friends';
  drawMe();
  $('panicKbd').textContent = keyLabel(D.settings.panicCode);
  drawNav();
  drawPanes();
  drawStatus();
  drawSections();
}

function openView(id) {
  if (id === 'friends') {
    setView('friends');
    err('chatErr', '');
    runTopics();
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
  on: {
    'members status': function () { if (S.unlocked && D) drawMe(); },
    status: function () {
      if (!S.unlocked || !D) return;
      drawStatus();
      tellStatus();
    },
    settings: function () { if (S.unlocked && D) $('panicKbd').textContent = keyLabel(D.settings.panicCode); },
    view: function () {
      if (!S.unlocked || !D) return;
      if (S.view !== 'friends' && !D.rooms[S.view]) S.view = 'friends';
      drawNav();
      drawPanes();
    },
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
