// The connection to the relay: one socket after unlock, sign-in, reconnecting with a growing
// delay, waking a sleeping relay host, dropping a connection that has silently died, the
// status dot and banner, and the relay's refusals and restarts.

var WAKING = 'Connecting… the server can take up to a minute to wake up.';
var RESTART_TEXT = 'The server went offline, so every message was deleted. Messages only last while the server is running.';
var GONE_TITLE = 'You were removed from this network';
var GONE_TEXT = 'The owner removed you, so you can no longer send or receive messages here.';
var NET = {
  firstRetry: 1500,
  maxRetry: 10000,
  grow: 1.6,
  liveness: 10000,
  nameWait: 60000,
};

var net = {
  ws: null,
  retry: NET.firstRetry,
  retryTimer: null,
  stopped: false,
  queue: Promise.resolve(),
  inbox: [], // { ws, text, f } in arrival order, from inboxHead on
  inboxHead: 0,
  primed: 0, // entries before this index are parsed and started early
  pumping: false,
  liveTimer: null,
  nameTimer: null,
};

function wsSend(frame) {
  var ws = net.ws;
  if (!ws || ws.readyState !== 1) return false;
  try {
    ws.send(JSON.stringify(frame));
    return true;
  } catch (e) {
    return false;
  }
}

function connect() {
  if (net.ws || net.stopped || !S.unlocked || !D) return;
  clearTimeout(net.retryTimer);
  net.retryTimer = null;
  setStatus('connecting', WAKING);
  var ws;
  try {
    ws = new WebSocket(D.server);
  } catch (e) {
    setStatus('offline', "Couldn't reach the server.", true);
    return;
  }
  net.ws = ws;
  ws.onmessage = function (ev) { onFrameText(ws, ev.data); };
  ws.onclose = function (ev) {
    if (net.ws === ws) lost(ev.code, ev.reason);
  };
}

// Frames are handled strictly one after another, each through all its awaited steps; what
// a frame's early step starts (opening an envelope) runs beside the frames ahead of it.
// A flood can put thousands of frames behind the one being handled: they wait as the text
// that came, and only the next INBOX_AHEAD are parsed and started early, so what waits
// costs the garbage collector one string a frame rather than a frame's worth of objects.
// `net.queue` is the running pump, settled once every frame that came is handled.
var INBOX_AHEAD = 256;

function onFrameText(ws, data) {
  clearTimeout(net.liveTimer);
  net.liveTimer = null;
  net.inbox.push({ ws: ws, text: data, f: null });
  primeInbox();
  if (!net.pumping) net.queue = pumpInbox();
}

function parseFrame(text) {
  var f;
  try {
    f = JSON.parse(text);
  } catch (e) {
    return null;
  }
  return isPlainObject(f) && typeof f.t === 'string' ? f : null;
}

function primeInbox() {
  var end = Math.min(net.inbox.length, net.inboxHead + INBOX_AHEAD);
  for (; net.primed < end; net.primed++) {
    var item = net.inbox[net.primed];
    item.f = parseFrame(item.text);
    item.text = null;
    if (item.f && S.unlocked && D && Object.prototype.hasOwnProperty.call(EARLY, item.f.t)) {
      try { EARLY[item.f.t](item.f); } catch (e) { /* the frame's handler meets the same problem */ }
    }
  }
}

function takeFromInbox() {
  var item = net.inbox[net.inboxHead];
  net.inbox[net.inboxHead++] = null;
  if (net.inboxHead === net.inbox.length) {
    net.inbox = [];
    net.inboxHead = net.primed = 0;
  } else if (net.inboxHead >= 4096) {
    net.inbox = net.inbox.slice(net.inboxHead);
    net.primed -= net.inboxHead;
    net.inboxHead = 0;
  }
  primeInbox();
  return item;
}

async function pumpInbox() {
  net.pumping = true;
  try {
    while (net.inboxHead < net.inbox.length) {
      await breather();
      var item = takeFromInbox();
      var f = item.f;
      if (!f || !S.unlocked || !D) continue;
      var handler = Object.prototype.hasOwnProperty.call(FRAMES, f.t) ? FRAMES[f.t] : null;
      try {
        if (handler) await handler(f, item.ws);
      } catch (e) {
        console.error('mosswire: handling a ' + f.t + ' frame failed:', e);
      }
    }
  } finally {
    net.pumping = false;
  }
}

function reconnectButton() {
  return { text: 'Reconnect now', run: reconnectNow };
}

function lost(code, reason) {
  net.ws = null;
  setLive(false);
  setOnline([]);
  clearTimeout(net.liveTimer);
  net.liveTimer = null;
  holdPending();
  forgetReceiptsOnTheirWay();
  if (net.stopped || !S.unlocked) return;
  if (S.status !== 'setup') {
    if (heldCount() > 0) setStatus('connecting', WAKING, false, reconnectButton());
    else setStatus('offline', 'Disconnected (' + code + (reason ? ' ' + reason : '') + '). Reconnecting…', true, reconnectButton());
  }
  clearTimeout(net.retryTimer);
  net.retryTimer = setTimeout(connect, net.retry);
  net.retry = Math.min(NET.maxRetry, net.retry * NET.grow);
}

function reconnectNow() {
  if (!S.unlocked || net.stopped || net.ws) return;
  net.retry = NET.firstRetry;
  connect();
}

function stopNet() {
  net.stopped = true;
  clearTimeout(net.retryTimer);
  net.retryTimer = null;
  clearTimeout(net.nameTimer);
  net.nameTimer = null;
  var ws = net.ws;
  net.ws = null;
  setLive(false);
  if (ws) {
    ws.onclose = ws.onmessage = null;
    try { ws.close(); } catch (e) { /* already closing */ }
  }
}

// A relay host may sleep after a quiet spell and take up to a minute to start again.
function wake() {
  if (net.stopped || S.status === 'online') return;
  pingHealth();
  if (net.ws) setStatus('connecting', WAKING);
  else reconnectNow();
}

// After a send: a connection that then stays silent for 10 s while the send is unconfirmed
// has died without telling us; drop it so the message goes out on a new one.
function watch() {
  if (net.liveTimer) return;
  net.liveTimer = setTimeout(function () {
    net.liveTimer = null;
    var ws = net.ws;
    if (!ws || !awaitingCount()) return;
    ws.onclose = ws.onmessage = null;
    try { ws.close(); } catch (e) { /* already gone */ }
    lost(1006, 'no reply');
    wake();
  }, NET.liveness);
}

function sameBoot(a, b) {
  return JSON.stringify(a === undefined ? null : a) === JSON.stringify(b === undefined ? null : b);
}

async function onHello(f, ws) {
  if (f.net !== D.owner) {
    setStatus('setup', typeof f.net === 'string' && f.net
      ? "Your invite doesn't match this server. Ask the developer for a new one."
      : "The server isn't ready yet. Hang on, it keeps trying.", true);
    try { ws.close(); } catch (e) { /* already closing */ }
    return;
  }
  setBoot(f.boot === undefined || f.boot === null ? null : f.boot);
  if (S.boot !== null && !sameBoot(S.boot, D.serverBoot)) {
    if (D.serverBoot !== undefined && D.serverBoot !== null) relayRestarted();
    setServerBoot(S.boot);
    try {
      await storeNow();
    } catch (e) {
      console.error('mosswire: could not record the relay restart:', e);
      return;
    }
  }
  if (ws !== net.ws || typeof f.nonce !== 'string') return;
  var now = Date.now();
  var frame = {
    t: 'auth',
    v: C.VERSION,
    cert: D.cert,
    sig: await P.sign(D.keys.sigPriv, ['msw-auth', f.nonce]),
    dir: Object.keys(D.dir).map(function (id) { return D.dir[id]; }),
    removals: D.removals,
    ann: Object.keys(D.ann).map(function (id) { return D.ann[id]; }).filter(function (a) { return a && a.s; }),
    spoken: Object.keys(D.spoken).map(function (id) { return D.spoken[id]; }).filter(function (e) { return e && e.exp > now; }),
  };
  if (ws === net.ws) ws.send(JSON.stringify(frame));
}

async function onWelcome(f) {
  net.retry = NET.firstRetry;
  invitePlaced();
  if ($('modalCard').getAttribute('data-kind') === 'rename') closeModal();
  if (f.removals) await applyRemovals(f.removals);
  if (!D || net.stopped) return;
  var dir = Array.isArray(f.dir) ? f.dir : [];
  for (var i = 0; i < dir.length && i < 5000; i++) await learn(dir[i], true);
  await hook('welcome', f);
  setOnline((Array.isArray(f.online) ? f.online : []).filter(function (id) { return typeof id === 'string'; }));
  setLive(true);
  setStatus('online');
  resendOutbox().catch(function (e) { console.error('mosswire: resending failed:', e); });
  await flushWaiting();
  await hook('signedIn');
}

function onDenied(f) {
  stopNet();
  var msg = typeof f.msg === 'string' ? f.msg.slice(0, 500) : '';
  if (f.why === 'name' && !D.pendingInvite) {
    setStatus('offline', 'The server is still catching up after a restart. Retrying…', true);
    net.nameTimer = setTimeout(function () {
      net.nameTimer = null;
      net.stopped = false;
      connect();
    }, NET.nameWait);
  } else if (f.why === 'name') {
    setStatus('offline', 'That username is already taken.', true, { text: 'Pick another', run: rename });
    rename();
  } else if (f.why === 'member') {
    gone("This device can't connect", msg);
  } else if (f.why === 'setup') {
    setStatus('setup', msg, true);
  } else {
    setStatus('offline', msg || 'The server refused this sign-in.', true);
  }
}

function onRemoved() {
  stopNet();
  gone(GONE_TITLE, GONE_TEXT);
}

function onReplaced() {
  stopNet();
  setStatus('offline', 'mosswire connected from somewhere else with this identity, so this window stopped.', true);
}

async function onMember(f) {
  var info = await learn(f.cert, false);
  if (info) await hook('memberJoined', info);
}

function onPresence(f) {
  if (typeof f.id !== 'string') return;
  setPresence(f.id, f.on === true);
}

// Every message is gone from the relay; only what it still holds for sending is kept.
function relayRestarted() {
  var keep = heldMessages();
  forgetAwaiting();
  restartHistories({ sys: true, text: RESTART_TEXT, at: Date.now() }, function (m, id) {
    return !!m && !!m.mid && m.from === D.me && keep.get(m.mid) === id;
  });
}

// The username dialog after a "name" refusal while the invite can still be used again.
function rename() {
  var input = h('input', { type: 'text', maxlength: '24', spellcheck: 'false', autocomplete: 'off', placeholder: 'New username' });
  var line = h('p', { class: 'err', role: 'status' });
  var btn = h('button', { type: 'button', class: 'btn', text: 'Use this username' });
  async function use() {
    var name = input.value.trim();
    if (name.length < 2) { line.textContent = 'Usernames need at least 2 characters'; return; }
    if (!P.USERNAME_RE.test(name)) { line.textContent = 'Usernames can only use letters, numbers, _ and .'; return; }
    if (!D || !D.pendingInvite) return;
    btn.disabled = true;
    try {
      var cert = await P.acceptInvite(D.pendingInvite, D.keys, name);
      setOwnCert(cert);
      await learn(cert, true);
      await storeNow();
    } catch (e) {
      line.textContent = "Couldn't use that username: " + failText(e);
      btn.disabled = false;
      return;
    }
    net.stopped = false;
    closeModal();
    connect();
  }
  btn.addEventListener('click', use);
  input.addEventListener('keydown', function (e) {
    if (e.key === 'Enter') { e.preventDefault(); use(); }
  });
  modal('That username is taken',
    h('p', { class: 'hint', text: "Someone in this network already has it. Pick another one. You can't change it later." }),
    input, line, h('div', { class: 'row end' }, btn));
  $('modalCard').setAttribute('data-kind', 'rename');
}

section('net', {
  init: function () {
    window.addEventListener('online', reconnectNow);
    window.addEventListener('focus', reconnectNow);
  },
  ready: connect,
  frames: {
    hello: onHello,
    welcome: onWelcome,
    denied: onDenied,
    removed: onRemoved,
    replaced: onReplaced,
    member: onMember,
    presence: onPresence,
    removals: function (f) { return applyRemovals(f.removals); },
  },
});
