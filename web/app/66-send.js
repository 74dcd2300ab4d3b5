// Sending: own chat messages (pending until the relay takes them, held while offline), every
// payload sealed once for all its recipients, and the outbox that resends what a recipient
// has not yet confirmed.

var SEND = {
  heldPace: 300,
  heldPaceAbove: 10,
  resendPace: 400,
  resendEvery: 600000,
  minLife: 60000,
};

// Answers this page sends by itself whenever others send to it (receipts, the accept a
// friend's request gets) must not use up what the relay lets this member send (a burst,
// then a steady rate; 200 and 10 a second by default): however much others send, what
// the member writes still goes out. So answers have a smaller budget of their own here,
// refilled at a fifth of the relay's rate; an answer that finds it spent waits (receipts
// in the vault, for their next batch).
var ANSWERS = { burst: 20, rate: 2 };
var answerBudget = { tokens: ANSWERS.burst, at: null };

function refillAnswers() {
  var now = Date.now();
  if (answerBudget.at !== null) {
    answerBudget.tokens = Math.min(ANSWERS.burst, answerBudget.tokens + Math.max(0, now - answerBudget.at) / 1000 * ANSWERS.rate);
  }
  answerBudget.at = now;
}

// True, and one answer counted, when an answer may go out now.
function takeAnswer() {
  refillAnswers();
  if (answerBudget.tokens < 1) return false;
  answerBudget.tokens -= 1;
  return true;
}

// Milliseconds until the next answer may go out.
function answerWait() {
  refillAnswers();
  return answerBudget.tokens >= 1 ? 0 : Math.ceil((1 - answerBudget.tokens) / ANSWERS.rate * 1000);
}

// Runs `send` once an answer may go out; never holds up the caller.
function answerSoon(send) {
  if (takeAnswer()) return Promise.resolve().then(send);
  return sleep(answerWait()).then(function () { return answerSoon(send); });
}

var awaiting = new Map(); // message id → room id, from `send` until `sent` or `error`
var held = new Map(); // message id → room id, going out after the next sign-in
var resending = false;

function heldCount() { return held.size; }
function awaitingCount() { return awaiting.size; }
function heldMessages() { return new Map(held); }
function forgetAwaiting() { awaiting.clear(); }

function sleep(ms) { return new Promise(function (r) { setTimeout(r, ms); }); }

function setSt(rid, mid, st) {
  var m = findMsg(rid, mid);
  if (m) setMessageState(rid, m, st);
}

// Who gets a room's payloads, with the key each payload key is wrapped for.
function recipients(room) {
  var ids = [];
  if (room.kind === 'general') ids = Object.keys(S.info);
  else if (room.kind === 'dm') ids = [room.with];
  else if (room.kind === 'group' && Array.isArray(room.members)) ids = room.members;
  var seen = {};
  var out = [];
  ids.forEach(function (id) {
    if (id === D.me || seen[id] || !own(S.info, id)) return;
    seen[id] = true;
    out.push({ id: id, ecdh: S.info[id].ecdh });
  });
  return out;
}

function roomMeta(room) {
  return { id: room.id, name: room.name, members: room.members.slice(), rv: room.rv };
}

async function sendPayload(room, payload, ref) {
  var to = recipients(room);
  if (!to.length) return false;
  var ttl = payload.k === 'msg' && room.kind === 'dm' ? DM_TTL : undefined;
  var now = Date.now();
  if (payload.k !== 'rcpt') payload = Object.assign({}, payload, { q: P.randomHex(8), at: now });
  var sealed = await S.box.seal(payload, to);
  // A receipt's ref is the receive section's to follow (receiptTaken), not a message's.
  if (ref !== undefined && payload.k !== 'rcpt') awaiting.set(ref, room.id);
  var frame = { t: 'send' };
  if (ref !== undefined) frame.ref = ref;
  if (ttl !== undefined) frame.ttl = ttl;
  frame.iv = sealed.iv;
  frame.ct = sealed.ct;
  frame.keys = sealed.keys;
  if (!wsSend(frame)) return false;
  // Receipts are never resent: their `q` is the list of ids they confirm.
  if (payload.k !== 'rcpt') {
    putOutbox(payload.q, {
      payload: payload,
      to: to.map(function (r) { return r.id; }),
      n: to.length,
      at: now,
      ttl: ttl || OUTBOX_TTL,
      sent: now,
      wait: RESEND_AFTER,
      boot: S.boot === undefined ? null : S.boot,
    });
  }
  return true;
}

function hold(mid, rid) {
  held.set(mid, rid);
  var m = findMsg(rid, mid);
  if (m && m.st !== 'pending') setSt(rid, mid, 'pending');
  wake();
}

function holdPending() {
  awaiting.forEach(function (rid, mid) { held.set(mid, rid); });
  awaiting.clear();
}

async function deliver(rid, m) {
  if (S.status !== 'online') {
    hold(m.mid, rid);
    return;
  }
  var room = D.rooms[rid];
  if (!room) return;
  if (leftOut(room)) {
    setSt(rid, m.mid, 'failed');
    return;
  }
  var payload = { k: 'msg', room: rid, mid: m.mid, text: m.text };
  if (m.gif) payload.gif = m.gif;
  if (m.re) payload.re = m.re;
  if (room.kind === 'group') payload.meta = roomMeta(room);
  var ok;
  try {
    ok = await sendPayload(room, payload, m.mid);
  } catch (e) {
    awaiting.delete(m.mid);
    setSt(rid, m.mid, 'failed');
    err('chatErr', "That message couldn't be encrypted");
    return;
  }
  if (ok) {
    watch();
    return;
  }
  awaiting.delete(m.mid);
  if (recipients(room).length) hold(m.mid, rid);
  else setSt(rid, m.mid, 'failed');
}

// Adds an own message to a room and sends it; false when refused (the composer keeps it).
function post(rid, body) {
  var room = D.rooms[rid];
  if (!room) return false;
  if (net.stopped) {
    err('chatErr', 'Not connected right now');
    return false;
  }
  if (room.kind === 'dm' && !isFriend(room.with)) {
    err('chatErr', 'You can only message friends');
    return false;
  }
  if (leftOut(room)) {
    err('chatErr', "You're no longer in this group");
    return false;
  }
  err('chatErr', '');
  var m = { mid: P.randomHex(12), from: D.me, text: body.text, at: Date.now(), st: 'pending' };
  if (body.gif) m.gif = body.gif;
  if (S.reply && S.reply.rid === rid) m.re = { mid: S.reply.mid, from: S.reply.from, text: cut(S.reply.text, REPLY_TEXT) };
  if (S.reply) setReply(null);
  var alone = !recipients(room).length;
  if (alone) delete m.st;
  addMsg(rid, m);
  // What a person wrote is written to disk at once, not with the next batch of changes:
  // an end that takes the page's own process with it (a logout ending every process of
  // the session at once) leaves no time to store it then.
  storeAfterFrame();
  if (!alone) deliver(rid, m).catch(function (e) { console.error('mosswire: sending failed:', e); });
  return true;
}

function retry(rid, mid) {
  var m = findMsg(rid, mid);
  if (!m || m.st !== 'failed') return;
  setMessageState(rid, m, 'pending');
  deliver(rid, m).catch(function (e) { console.error('mosswire: sending failed:', e); });
}

// After sign-in: everything written while offline, oldest first.
async function flushWaiting() {
  var list = Array.from(held);
  held.clear();
  var pace = list.length > SEND.heldPaceAbove;
  for (var i = 0; i < list.length; i++) {
    if (!D) return;
    var m = findMsg(list[i][1], list[i][0]);
    if (!m || m.st !== 'pending') continue;
    await deliver(list[i][1], m);
    if (pace) await sleep(SEND.heldPace);
  }
}

function confirmed(f, st) {
  var ref = f.ref;
  if (typeof ref === 'string' && receiptTaken(ref, !st)) return;
  if (typeof ref !== 'string' || !awaiting.has(ref)) {
    if (st === 'failed' && typeof f.msg === 'string') console.warn('mosswire: the server said: ' + f.msg.slice(0, 300));
    return;
  }
  var rid = awaiting.get(ref);
  awaiting.delete(ref);
  if (st === 'failed') err('chatErr', typeof f.msg === 'string' ? f.msg.slice(0, 300) : '');
  setSt(rid, ref, st);
}

function markSent(f) { confirmed(f, null); }
function markFailed(f) { confirmed(f, 'failed'); }

// Resends what a recipient has not confirmed: first after RESEND_AFTER, then after twice as
// long each time under one relay boot; at once after the relay restarted.
async function resendOutbox() {
  if (resending || !D) return;
  resending = true;
  try {
    var ids = Object.keys(D.outbox);
    for (var i = 0; i < ids.length; i++) {
      if (!D) return;
      var e = D.outbox[ids[i]];
      if (!e) continue;
      var now = Date.now();
      var left = e.at + e.ttl - now;
      var to = e.to.filter(function (id) { return typeof id === 'string' && own(S.info, id) && id !== D.me; });
      if (!to.length || !(left >= SEND.minLife)) {
        dropOutbox(ids[i]);
        continue;
      }
      if (to.length !== e.to.length) setOutboxTo(ids[i], to);
      var same = sameBoot(e.boot, S.boot);
      if (same && now - e.sent < e.wait) continue;
      var sealed = await S.box.seal(e.payload, e.to.map(function (id) { return { id: id, ecdh: S.info[id].ecdh }; }));
      if (!wsSend({ t: 'send', ttl: left, iv: sealed.iv, ct: sealed.ct, keys: sealed.keys })) break;
      markResent(ids[i], S.boot === undefined ? null : S.boot, same ? e.wait * 2 : e.wait, Date.now());
      await sleep(SEND.resendPace);
    }
  } finally {
    resending = false;
  }
}

// Own messages that were pending when the vault was last written go out after sign-in.
function queuePending() {
  Object.keys(D.msgs).forEach(function (rid) {
    D.msgs[rid].forEach(function (m) {
      if (m.from === D.me && m.st === 'pending' && m.mid) held.set(m.mid, rid);
    });
  });
}

var resendTimer = null;

section('send', {
  start: function () {
    indexOutbox();
    queuePending();
    if (!resendTimer) {
      resendTimer = setInterval(function () {
        if (S.live && D) resendOutbox().catch(function (e) { console.error('mosswire: resending failed:', e); });
      }, SEND.resendEvery);
    }
  },
  frames: { sent: markSent, error: markFailed },
});
