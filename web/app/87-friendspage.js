// The friends page: its five tabs, their rows and counts, and the Add friend form.

var NOTE_LIFE = 5000;
var fpage = { note: '', ok: false, noteTimer: null, typed: '', drawnTab: null };

function setNote(text, ok) {
  fpage.note = text || '';
  fpage.ok = !!ok;
  clearTimeout(fpage.noteTimer);
  fpage.noteTimer = fpage.note ? setTimeout(function () { setNote(''); }, NOTE_LIFE) : null;
  var el = document.querySelector('#friendsBody .fnote');
  if (el) {
    el.textContent = fpage.note;
    el.classList.toggle('ok', fpage.ok);
  }
}

function byName(a, b) { return nameOf(a).localeCompare(nameOf(b)); }

// Members known here or with a stored name, in one friend state.
function inState(st) {
  return Object.keys(D.friends).filter(function (id) {
    return D.friends[id] === st && (own(S.info, id) || typeof D.names[id] === 'string');
  }).sort(byName);
}

function blockedList() {
  return Object.keys(D.blocked).filter(function (id) {
    return D.blocked[id] && (own(S.info, id) || typeof D.names[id] === 'string');
  }).sort(byName);
}

function runAction(op, id) {
  friendAction(op, id).then(function (e) { if (e) setNote(e); });
}

function actBtn(text, cls, run) {
  return h('button', {
    type: 'button', class: 'btn small ' + (cls || 'ghost'), text: text,
    onclick: function (e) { e.stopPropagation(); run(); },
  });
}

function messageBtn(id) {
  return actBtn('Message', 'ghost', function () { openRoom(ensureDm(id).id); });
}

function personRow(id, sub, actions) {
  return h('div', {
    class: 'frow', 'data-id': id,
    onclick: function () { profile(id); },
  }, avatar(id, null, true),
  h('div', { class: 'ftext' }, h('b', {}, nameBit(nameOf(id))), h('div', { class: 'fsub', text: sub })),
  h('div', { class: 'facts' }, actions));
}

function presence(id) { return isOnline(id) ? 'Online' : 'Offline'; }

function tabOnline(body) {
  var friends = inState('friend');
  var on = friends.filter(isOnline);
  body.appendChild(h('div', { class: 'fhead', text: 'Online — ' + on.length }));
  if (!on.length) {
    body.appendChild(h('p', {
      class: 'empty',
      text: friends.length ? 'None of your friends are online right now.'
        : "No friends yet. Add someone by their username, or see who's in the network under Add friend.",
    }));
  }
  on.forEach(function (id) { body.appendChild(personRow(id, 'Online', [messageBtn(id)])); });
}

function tabAll(body) {
  var friends = inState('friend');
  body.appendChild(h('div', { class: 'fhead', text: 'All friends — ' + friends.length }));
  if (!friends.length) {
    body.appendChild(h('p', { class: 'empty', text: "No friends yet. Add someone by their username, or see who's in the network under Add friend." }));
  }
  friends.forEach(function (id) { body.appendChild(personRow(id, presence(id), [messageBtn(id)])); });
}

function tabPending(body) {
  var inc = inState('incoming');
  var out = inState('outgoing');
  var waiting = Object.keys(D.wanted).sort(function (a, b) { return String(D.wanted[a]).localeCompare(String(D.wanted[b])); });
  body.appendChild(h('div', { class: 'fhead', text: 'Pending — ' + (inc.length + out.length + waiting.length) }));
  if (!inc.length && !out.length && !waiting.length) body.appendChild(h('p', { class: 'empty', text: 'No pending friend requests.' }));
  inc.forEach(function (id) {
    body.appendChild(personRow(id, 'Incoming friend request', [
      actBtn('Accept', 'ok', function () { runAction('accept', id); }),
      actBtn('Decline', 'ghost danger-text', function () { runAction('decline', id); }),
    ]));
  });
  out.forEach(function (id) {
    body.appendChild(personRow(id, 'Outgoing friend request', [actBtn('Cancel', 'ghost', function () { runAction('cancel', id); })]));
  });
  waiting.forEach(function (key) {
    var typed = String(D.wanted[key]);
    body.appendChild(h('div', { class: 'frow', 'data-wanted': key }, nameAvatar(typed),
      h('div', { class: 'ftext' }, h('b', {}, nameBit(typed)), h('div', { class: 'fsub', text: 'Friend request, sends when they come online' })),
      h('div', { class: 'facts' }, actBtn('Cancel', 'ghost', function () { dropWanted(key); }))));
  });
}

function tabBlocked(body) {
  var list = blockedList();
  body.appendChild(h('div', { class: 'fhead', text: 'Blocked — ' + list.length }));
  if (!list.length) body.appendChild(h('p', { class: 'empty', text: "You haven't blocked anyone." }));
  list.forEach(function (id) {
    body.appendChild(personRow(id, 'Blocked', [actBtn('Unblock', 'ghost', function () { unblock(id); })]));
  });
}

// "Send friend request" on the Add friend tab.
function addByName(input) {
  var typed = input.value.trim();
  if (!typed) return;
  var id = memberNamed(typed);
  if (id) {
    friendAction('request', id).then(function (e) {
      if (e) { setNote(e); return; }
      input.value = '';
      fpage.typed = '';
      setNote('Friend request sent to ' + nameOf(id), true);
    });
    return;
  }
  if (typed.length < 2) { setNote('Usernames need at least 2 characters'); return; }
  if (!P.USERNAME_RE.test(typed)) { setNote('Usernames can only use letters, numbers, _ and .'); return; }
  putWanted(typed.toLowerCase(), typed);
  input.value = '';
  fpage.typed = '';
  setNote(typed + " isn't online right now. Your friend request will be sent when they come online (see Pending).", true);
}

function everyoneTag(id) {
  if (D.blocked[id]) return h('span', { class: 'tagline', text: 'Blocked' });
  var st = D.friends[id];
  if (st === 'friend') return h('span', { class: 'tagline ok', text: 'Friends' });
  if (st === 'outgoing') return h('span', { class: 'tagline', text: 'Request sent' });
  if (st === 'incoming') return actBtn('Accept', 'ok', function () { runAction('accept', id); });
  return actBtn('Add friend', 'ok', function () { runAction('request', id); });
}

function tabAdd(body, hadFocus) {
  body.appendChild(h('div', { class: 'fhead', text: 'Add friend' }));
  body.appendChild(h('p', { class: 'hint', text: 'You can add anyone in this network by their username.' }));
  var input = h('input', { type: 'text', class: 'add-name', maxlength: '24', spellcheck: 'false', autocomplete: 'off', placeholder: 'Enter a username' });
  input.value = fpage.typed;
  input.addEventListener('input', function () { fpage.typed = input.value; });
  input.addEventListener('keydown', function (e) {
    if (e.key === 'Enter') { e.preventDefault(); addByName(input); }
  });
  body.appendChild(h('div', { class: 'addbox' }, input,
    h('button', { type: 'button', class: 'btn', text: 'Send friend request', onclick: function () { addByName(input); } })));
  body.appendChild(noteLine());
  var others = Object.keys(S.info).filter(function (id) { return id !== D.me; }).sort(byName);
  body.appendChild(h('div', { class: 'fhead', text: 'Everyone in this network — ' + others.length }));
  if (!others.length) {
    body.appendChild(h('div', { class: 'empty' }, h('b', { text: "It's just you so far." }), h('br'),
      'More people will show up here as the developer invites them.'));
  }
  others.forEach(function (id) { body.appendChild(personRow(id, presence(id), [everyoneTag(id)])); });
  if (hadFocus) input.focus();
}

function noteLine() {
  return h('p', { class: 'err fnote' + (fpage.ok ? ' ok' : ''), role: 'status', text: fpage.note });
}

function drawFriends() {
  if (!S.unlocked || !D || S.view !== 'friends') return;
  var tabs = document.querySelectorAll('#friendsPane .tab');
  for (var i = 0; i < tabs.length; i++) tabs[i].classList.toggle('on', tabs[i].getAttribute('data-tab') === S.ftab);
  badge($('pendingBadge'), incomingCount(), false);
  var body = $('friendsBody');
  var field = body.querySelector('.add-name');
  var hadFocus = S.ftab === 'add' && (fpage.drawnTab !== 'add' || (!!field && document.activeElement === field));
  var scroll = body.scrollTop;
  body.textContent = '';
  if (S.ftab === 'add') {
    tabAdd(body, hadFocus);
  } else {
    body.appendChild(noteLine());
    if (S.ftab === 'all') tabAll(body);
    else if (S.ftab === 'pending') tabPending(body);
    else if (S.ftab === 'blocked') tabBlocked(body);
    else tabOnline(body);
  }
  if (fpage.drawnTab === S.ftab) body.scrollTop = scroll;
  fpage.drawnTab = S.ftab;
}

section('friendsPage', {
  // Coming back to the page counts as a first draw: the Add friend field takes the focus.
  draw: function () { if (S.view !== 'friends') fpage.drawnTab = null; },
  init: function () {
    var tabs = document.querySelectorAll('#friendsPane .tab');
    for (var i = 0; i < tabs.length; i++) {
      tabs[i].addEventListener('click', function (e) {
        setNote('');
        setFriendsTab(e.currentTarget.getAttribute('data-tab'));
      });
    }
  },
  on: {
    'view friends members online status': function () {
      if (S.view !== 'friends') fpage.drawnTab = null;
      else drawFriends();
    },
  },
});
