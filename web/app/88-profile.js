// The profile dialog of a member and the safety-number dialog that lets two people check
// that nobody swapped their keys.

function profile(id) {
  if (!D || (!own(S.info, id) && typeof D.names[id] !== 'string' && id !== D.me)) return;
  var known = own(S.info, id);
  var name = nameOf(id);
  var mine = id === D.me;
  var st = own(D.friends, id) ? D.friends[id] : null;
  var line = h('p', { class: 'err', role: 'status' });
  var act = function (op) {
    return function () {
      friendAction(op, id).then(function (e) {
        if (e) line.textContent = e;
        else closeModal();
      });
    };
  };
  var first = null;
  if (known && !mine) {
    var btns;
    if (D.blocked[id]) btns = [h('button', { type: 'button', class: 'btn', text: 'Unblock', onclick: function () { unblock(id); closeModal(); } })];
    else if (st === 'friend') btns = [h('button', { type: 'button', class: 'btn', text: 'Message', onclick: function () { openRoom(ensureDm(id).id); } })];
    else if (st === 'incoming') {
      btns = [h('button', { type: 'button', class: 'btn', text: 'Accept friend request', onclick: act('accept') }),
        h('button', { type: 'button', class: 'btn ghost', text: 'Decline', onclick: act('decline') })];
    } else if (st === 'outgoing') btns = [h('button', { type: 'button', class: 'btn ghost', text: 'Cancel friend request', onclick: act('cancel') })];
    else btns = [h('button', { type: 'button', class: 'btn', text: 'Add friend', onclick: act('request') })];
    first = h('div', { class: 'row' }, btns);
  }
  var second = null;
  if (known) {
    second = h('div', { class: 'row' },
      h('button', { type: 'button', class: 'btn ghost', text: 'Verify safety number', onclick: function () { safety(id); } }),
      !mine && st === 'friend' ? h('button', {
        type: 'button', class: 'btn ghost', text: 'Remove friend',
        onclick: function () {
          ask('Remove ' + drawnName(name) + ' as a friend?',
            "You won't be able to message each other until one of you sends a new friend request.",
            'Remove friend', function () {
              friendAction('remove', id).then(function (e) { if (e) { setNote(e); err('chatErr', e); } });
            }, true);
        },
      }) : null,
      !mine && !D.blocked[id] ? h('button', {
        type: 'button', class: 'btn danger', text: 'Block',
        onclick: function () {
          ask('Block ' + drawnName(name) + '?', "You won't see their messages anywhere, and they can't send you friend requests.",
            'Block', function () { block(id); }, true);
        },
      }) : null);
  }
  var hint = !known ? 'No longer in this network' : (isOnline(id) ? 'Online' : 'Offline') + (st === 'friend' ? ' · Friends' : '');
  modal(null,
    h('div', { class: 'profile-head' }, avatar(id, 'lg', true),
      h('div', {}, h('h2', {}, nameBit(name), mine ? ' (you)' : null), h('p', { class: 'hint', text: hint }))),
    first, second, line, closeBtn());
  $('modalCard').setAttribute('data-kind', 'profile');
}

async function safety(id) {
  var info = S.info[id];
  if (!D || !info) return;
  var mineInfo = S.info[D.me] || (D.cert && D.cert.m);
  var theirs = await P.safetyNumber(info);
  var yours = mineInfo ? await P.safetyNumber(mineInfo) : '';
  var name = drawnName(info.name);
  modal('Safety number for ' + name,
    h('p', { class: 'hint', text: 'Ask ' + name + ' to open Settings in mosswire and read you their safety number, in person or on a call. If it matches the one below, nobody (not even the server) is reading your messages to them.' }),
    h('div', { class: 'safety mono', text: theirs }),
    h('label', { class: 'lbl', text: 'Yours' }),
    h('div', { class: 'safety mono', text: yours }),
    closeBtn());
  $('modalCard').setAttribute('data-kind', 'safety');
}
