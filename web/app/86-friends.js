// Friends: the control payloads both sides exchange, what the buttons do, blocking, and
// requests to usernames this device has not seen yet.

var FRIEND_OPS = ['request', 'accept', 'decline', 'cancel', 'remove'];

// A control to a known member, sent like a direct message and kept in the outbox until
// confirmed; false when it could not go out.
async function sendControl(id, payload) {
  if (!D || !own(S.info, id) || id === D.me) return false;
  try {
    return !!(await sendPayload({ id: dmId(id), kind: 'dm', with: id }, payload));
  } catch (e) {
    return false;
  }
}

// A control received from member `from`.
async function onFriend(op, from) {
  if (FRIEND_OPS.indexOf(op) === -1 || !D || D.blocked[from]) return;
  var st = own(D.friends, from) ? D.friends[from] : null;
  var who = nameOf(from);
  if (op === 'request') {
    if (st === 'friend') {
      await sendControl(from, { k: 'friend', op: 'accept' });
      return;
    }
    if (st === 'outgoing') {
      setFriend(from, 'friend');
      await sendControl(from, { k: 'friend', op: 'accept' });
      notify('New friend', 'You and ' + who + ' are now friends');
      return;
    }
    setFriend(from, 'incoming');
    notify('Friend request', who + ' wants to be your friend');
    return;
  }
  if (op === 'accept') {
    if (st === 'outgoing') {
      setFriend(from, 'friend');
      notify('Friend request accepted', who + ' accepted your friend request');
    }
    return;
  }
  if (!st) return;
  setFriend(from, null);
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
  setFriend(id, op === 'request' ? 'outgoing' : op === 'accept' ? 'friend' : null);
  return '';
}

function block(id) {
  if (!D || id === D.me) return;
  var st = own(D.friends, id) ? D.friends[id] : null;
  var op = st === 'incoming' ? 'decline' : st === 'outgoing' ? 'cancel' : st === 'friend' ? 'remove' : null;
  if (op) sendControl(id, { k: 'friend', op: op });
  setFriend(id, null);
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
