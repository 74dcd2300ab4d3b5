// Receiving: every envelope is opened, sorted by kind and stored; the relay is told once the
// vault holding its effect is written (acknowledgements, batched), and the author once its
// payload is stored (receipts, batched per sender), so the author's outbox stops resending.

var RECV = {
  ackWait: 300,
  ackMost: 1000,
  ackRetry: 3000,
  receiptWait: 1500,
  receiptMost: 5000,
  receiptMax: 500,
  preview: 160,
};
var PING_RE = /(?<![\w@])@([A-Za-z0-9_.]{2,24})/g;

var acks = { list: [], batch: batcher(RECV.ackWait, RECV.ackMost, sendAcks) };
// The receipts still to send live in the vault (D.receipts, sender id → payload ids): an
// envelope is acknowledged once the vault holding its effect is written, so from then on
// only the vault can remember that its author still waits for a receipt. `sending` chains
// the batches, so that storing before the end can wait for one on its way.
// `onTheirWay`: receipts handed to the relay and not yet taken by it (frame ref →
// { from, ids }); they stay in the vault until the relay's `sent` says it has them, as a
// connection that closes right after the send may never deliver it.
var receipts = { batch: batcher(RECV.receiptWait, RECV.receiptMost, sendReceipts), sending: Promise.resolve(), onTheirWay: new Map() };

// The relay answered a receipt's send: taken (`ok`), or refused, to be tried again. False
// for a ref that is no receipt's.
function receiptTaken(ref, ok) {
  var r = receipts.onTheirWay.get(ref);
  if (!r) return false;
  receipts.onTheirWay.delete(ref);
  if (ok && D) dropReceipts(r.from, r.ids);
  else if (D) receipts.batch.later(answerWait());
  return true;
}

// The connection went before the relay answered: those receipts go out again with the
// next batch, after the next sign-in.
function forgetReceiptsOnTheirWay() { receipts.onTheirWay.clear(); }

// Receipts of this sender already on their way, not to be sent again meanwhile.
function onTheirWay(from) {
  var ids = new Set();
  receipts.onTheirWay.forEach(function (r) {
    if (r.from === from) r.ids.forEach(function (q) { ids.add(q); });
  });
  return ids;
}

// Cuts a text to n UTF-16 units without leaving half of a surrogate pair at the end.
function cut(text, n) {
  var s = String(text);
  if (s.length <= n) return s;
  s = s.slice(0, n);
  var last = s.charCodeAt(s.length - 1);
  return last >= 0xd800 && last <= 0xdbff ? s.slice(0, -1) : s;
}

function knownGif(id) {
  var G = window.MswGifs;
  if (typeof id !== 'string' || !G) return false;
  if (G.byId) return Object.prototype.hasOwnProperty.call(G.byId, id);
  return Array.isArray(G.list) && G.list.some(function (g) { return g.id === id; });
}

// The known member whose username is `name`, ignoring case, or null.
function memberNamed(name) {
  var lower = name.toLowerCase();
  for (var id in S.info) if (String(S.info[id].name).toLowerCase() === lower) return id;
  return null;
}

// Each mention in the text: { at, length, name, id } with trailing full stops left out of
// the name when only the shorter name is a member's.
function mentions(text) {
  var out = [];
  var m;
  PING_RE.lastIndex = 0;
  while ((m = PING_RE.exec(text)) !== null) {
    var name = m[1];
    var id = memberNamed(name);
    if (!id) {
      var short = name.replace(/\.+$/, '');
      if (short.length >= 2 && short !== name) {
        id = memberNamed(short);
        if (id) name = short;
      }
    }
    if (id) out.push({ at: m.index, length: name.length + 1, name: name, id: id });
  }
  return out;
}

function pingsMe(text) {
  return mentions(String(text)).some(function (p) { return p.id === D.me; });
}

function sysMsg(rid, text) {
  return addMsg(rid, { sys: true, text: text, at: Date.now() });
}

// Stores a message in a room with its unread count, mention mark and notification. A
// message is a repeat only when the same sender used the same id: anyone may pick any id,
// and one member's message must never hide another's.
function addMsg(rid, m) {
  if (!storeMessage(rid, m)) return false;
  var room = D.rooms[rid];
  if (!m.sys && m.from !== D.me) {
    var pinged = !m.gif && pingsMe(m.text);
    if (S.view !== rid || !focused() || S.black) countUnread(rid, pinged);
    var quotesMe = !!(m.re && m.re.from === D.me);
    if (room && (room.kind !== 'general' || pinged || quotesMe)) {
      var who = nameOf(m.from);
      var title;
      if (room.kind === 'dm') title = who;
      else if (pinged) title = who + ' mentioned you in ' + (room.kind === 'general' ? 'General' : room.name);
      else if (room.kind === 'general') title = who + ' replied to you in General';
      else title = who + ' in ' + room.name;
      var body = D.settings.previews ? cut(m.text, RECV.preview) : room.kind === 'dm' ? 'Sent you a message' : 'New message';
      notifyFrom(m.from, rid, title, body);
    }
  }
  return true;
}

function queueAck(eid) {
  acks.list.push(eid);
  acks.batch.add();
}

// The relay forgets an envelope once acknowledged, so the vault must hold its effect first.
async function sendAcks() {
  var list = acks.list;
  acks.list = [];
  if (!list.length || !D) return;
  try {
    await storeNow();
  } catch (e) {
    console.error('mosswire: saving before acknowledging failed:', e);
    acks.list = list.concat(acks.list);
    acks.batch.later(RECV.ackRetry);
    return;
  }
  wsSend({ t: 'ack', eids: list });
}

function queueReceipt(from, q) {
  addReceipt(from, q);
  receipts.batch.add();
}

function sendReceipts() {
  receipts.sending = receipts.sending.then(async function () {
    if (!D || !Object.keys(D.receipts).length) return;
    try {
      await storeNow();
    } catch (e) {
      console.error('mosswire: saving before receipts failed:', e);
      return;
    }
    await sendStoredReceipts();
  }).catch(function (e) { console.error('mosswire: sending receipts failed:', e); });
  return receipts.sending;
}

// Every receipt waiting in the vault that an open connection takes; the rest wait for the
// next batch or sign-in. A receipt sent twice (the program ended before the vault noted
// it sent) is harmless: the author no longer has that entry.
async function sendStoredReceipts() {
  var senders = Object.keys(D.receipts);
  for (var s = 0; s < senders.length && D; s++) {
    var from = senders[s];
    if (!own(S.info, from)) {
      dropReceipts(from, null);
      continue;
    }
    var going = onTheirWay(from);
    var list = D.receipts[from].filter(function (q) { return !going.has(q); });
    // More than one payload when one sender sent more than fits in one: none is lost.
    for (var i = 0; i < list.length && D; i += RECV.receiptMax) {
      if (!takeAnswer()) {
        // The rest wait in the vault for the batch that runs once answers may go again.
        receipts.batch.later(answerWait());
        return;
      }
      var ids = list.slice(i, i + RECV.receiptMax);
      var ref = 'r' + P.randomHex(8);
      var sent = false;
      try {
        sent = await sendPayload({ kind: 'dm', with: from }, { k: 'rcpt', q: ids }, ref);
      } catch (e) {
        // Not sealed: the author resends and gets a receipt then.
        dropReceipts(from, ids);
        continue;
      }
      if (!sent || !D) break;
      receipts.onTheirWay.set(ref, { from: from, ids: ids });
    }
  }
}

// Before the program ends: everything on disk now, then the acknowledgements and the
// receipts that waited for their batch. If the write fails, nothing is acknowledged and
// the relay delivers those envelopes again at the next start.
async function storeAll() {
  var list = acks.list;
  acks.list = [];
  await storeNow();
  if (list.length) wsSend({ t: 'ack', eids: list });
  receipts.sending = receipts.sending.then(sendStoredReceipts).catch(function (e) {
    console.error('mosswire: sending receipts failed:', e);
  });
  await receipts.sending;
}

function onReceipt(from, p) {
  if (!Array.isArray(p.q)) return;
  p.q.forEach(function (q) {
    if (typeof q !== 'string' || !own(D.outbox, q)) return;
    var e = D.outbox[q];
    var left = e.to.filter(function (id) { return id !== from; });
    if (left.length !== e.to.length) setOutboxTo(q, left);
  });
}

// The room a chat payload from `from` belongs in, or null when it must be dropped.
function roomFor(p, from, at) {
  if (p.room === 'general') return 'general';
  if (typeof p.room !== 'string') return null;
  if (p.room === dmId(from)) {
    if (!isFriend(from) || at < Date.now() - DM_TTL) return null;
    ensureDm(from);
    return p.room;
  }
  if (p.meta !== undefined) applyRoom(p.meta, from);
  var r = own(D.rooms, p.room) ? D.rooms[p.room] : null;
  if (!r || r.kind !== 'group' || leftOut(r) || r.members.indexOf(from) === -1) return null;
  return p.room;
}

function storedMsg(p, from, at) {
  var m = { mid: p.mid, from: from, text: cut(p.text, MAX_TEXT), at: at };
  if (knownGif(p.gif)) m.gif = p.gif;
  var re = p.re;
  if (isPlainObject(re) && typeof re.mid === 'string' && re.mid.length <= 40 && typeof re.from === 'string' &&
      P.ID_RE.test(re.from) && typeof re.text === 'string') {
    m.re = { mid: re.mid, from: re.from, text: cut(re.text, REPLY_TEXT) };
  }
  return m;
}

// Opening an envelope depends on nothing the frames ahead of it change but the sender's
// key: it starts as the envelope arrives, and receive() takes the result in turn. A burst
// of envelopes is then opened side by side rather than one after the other. Kept beside
// the frame, never in it: a field of the frame is the relay's to set.
var openings = { byFrame: new WeakMap(), running: 0, most: 256 };

function openEarly(f) {
  var from = f.from;
  if (typeof from !== 'string' || !own(S.info, from) || !S.box || openings.running >= openings.most) return;
  var ecdh = S.info[from].ecdh;
  var payload = S.box.open(f, ecdh);
  openings.running++;
  payload.then(function () { openings.running--; });
  openings.byFrame.set(f, { ecdh: ecdh, payload: payload });
}

async function receive(f) {
  if (typeof f.eid === 'string' && f.eid.length <= 128) queueAck(f.eid);
  var from = f.from;
  if (typeof from !== 'string' || !own(S.info, from) || from === D.me || D.blocked[from]) return;
  var ecdh = S.info[from].ecdh;
  var early = openings.byFrame.get(f);
  var p = await (early && early.ecdh === ecdh ? early.payload : S.box.open(f, ecdh));
  if (!isPlainObject(p) || !D) return;
  if (p.k === 'rcpt') {
    onReceipt(from, p);
    return;
  }
  if (typeof p.q === 'string' && p.q.length <= 32) queueReceipt(from, p.q);
  var envAt = typeof f.at === 'number' && isFinite(f.at) ? f.at : Date.now();
  var at = typeof p.at === 'number' && p.at <= envAt && p.at > envAt - OUTBOX_TTL ? p.at : envAt;
  if (p.k === 'friend') {
    await hook('friend', p.op, from, at, p);
    return;
  }
  if (p.k === 'room') {
    applyRoom(p.room, from);
    return;
  }
  if (p.k !== 'msg' || typeof p.text !== 'string' || !p.text.trim()) return;
  if (typeof p.mid !== 'string' || !p.mid || p.mid.length > 40) return;
  var rid = roomFor(p, from, at);
  if (rid) addMsg(rid, storedMsg(p, from, at));
}

section('receive', {
  frames: { env: receive },
  early: { env: openEarly },
  signedIn: function () {
    if (Object.keys(D.receipts).length) receipts.batch.add();
  },
});
