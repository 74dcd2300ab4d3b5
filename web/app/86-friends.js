// Friends: the control payloads both sides exchange, what the buttons do, blocking, and
// requests to usernames this device has not seen yet.

var FRIEND_OPS = ['request', 'accept', 'decline', 'cancel', 'remove'];

// Members who got an 'accept' since their state here last changed. A request from a friend
// is answered with an accept once, not once per request: a member who sends ten thousand
// gets one, and spends nothing of what this member may send.
var accepted = new Set();

function becomes(id, st) {
  accepted.delete(id);
  setFriend(id, st);
}

// A control to a known member, sent like a direct message and kept in the outbox until
// confirmed; false when it could not go out. It takes the place of any control to that
// member still waiting there: only the newest says what this side wants, and the outbox
// holds at most one control for each member.
async function sendControl(id, payload) {
  if (!D || !own(S.info, id) || id === D.me) return false;
  var older = Object.keys(D.outbox).filter(function (q) {
    var e = D.outbox[q];
    return e.payload.k === 'friend' && e.to.length === 1 && e.to[0] === id;
  });
  var sent = false;
  try {
    sent = !!(await sendPayload({ id: dmId(id), kind: 'dm', with: id }, payload));
  } catch (e) {
    return false;
  }
  if (sent && D) older.forEach(function (q) { if (own(D.outbox, q)) dropOutbox(q); });
  return sent;
}

// The accept a request gets, once, and within the budget of automatic answers.
function answerAccept(id) {
  if (accepted.has(id)) return;
  accepted.add(id);
  answerSoon(function () {
    if (!D || D.friends[id] !== 'friend') return false;
    return sendControl(id, { k: 'friend', op: 'accept' });
  }).catch(function (e) { console.error('mosswire: answering a friend request failed:', e); });
}

// A control received from member `from`. Only a change of state is saved, shown and
// notified: a repeated request changes nothing.
async function onFriend(op, from) {
  if (FRIEND_OPS.indexOf(op) === -1 || !D || D.blocked[from]) return;
  var st = own(D.friends, from) ? D.friends[from] : null;
  var who = nameOf(from);
  if (op === 'request') {
    if (st === 'friend') {
      answerAccept(from);
      return;
    }
    if (st === 'outgoing') {
      becomes(from, 'friend');
      answerAccept(from);
      notifyFrom(from, 'friends', 'New friend', 'You and ' + who + ' are now friends');
      return;
    }
    if (st === 'incoming') return;
    becomes(from, 'incoming');
    notifyFrom(from, 'friends', 'Friend request', who + ' wants to be your friend');
    return;
  }
  if (op === 'accept') {
    if (st === 'outgoing') {
      becomes(from, 'friend');
      notifyFrom(from, 'friends', 'Friend request accepted', who + ' accepted your friend request');
    }
    return;
  }
  if (!st) return;
  becomes(from, null);
}

// What a button does; answers an error text, or '' when done.
async function friendAction(op, id) {
  if (S.status !== 'online') return 'Not connected right now';
  if (FRIEND_OPS.indexOf(op) === -1 || !D) return "Couldn't send that";
  var name = nameOf(id);
  var st = own(D.friends, id) ? D.friends[id] : null;
  if (op === 'request') {
    if (id === D.me) return "That's you!";
    if (D.blocked[id]) return 'Unblock ' + name + ' first';
    if (st === 'friend') return "You're already friends with " + name;
    if (st === 'outgoing') return 'Request already sent';
    if (st === 'incoming') op = 'accept';
  }
  if (!(await sendControl(id, { k: 'friend', op: op }))) return "Couldn't send that";
  becomes(id, op === 'request' ? 'outgoing' : op === 'accept' ? 'friend' : null);
  if (op === 'accept') accepted.add(id);
  return '';
}

function block(id) {
  if (!D || id === D.me) return;
  var st = own(D.friends, id) ? D.friends[id] : null;
  var op = st === 'incoming' ? 'decline' : st === 'outgoing' ? 'cancel' : st === 'friend' ? 'remove' : null;
  if (op) sendControl(id, { k: 'friend', op: op });
  becomes(id, null);
  setBlocked(id, true);
  if (S.reply && S.reply.from === id) setReply(null);
}

function unblock(id) {
  if (!D) return;
  setBlocked(id, false);
}

// Requests typed for usernames nobody known had: sent once that member is known here.
async function sendWanted() {
  if (!D || S.status !== 'online') return;
  var keys = Object.keys(D.wanted);
  for (var i = 0; i < keys.length; i++) {
    if (!D || !own(D.wanted, keys[i])) continue;
    var id = memberNamed(keys[i]);
    if (!id) continue;
    dropWanted(keys[i]);
    await friendAction('request', id);
  }
}

section('friends', {
  friend: onFriend,
  signedIn: sendWanted,
  memberJoined: sendWanted,
});
