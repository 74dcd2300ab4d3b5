// The member directory: certificates accepted back to the owner, first come first served for
// usernames and invites, and the owner's removal lists.

function own(map, key) { return Object.prototype.hasOwnProperty.call(map, key); }

async function learn(cert, quiet) {
  if (!isPlainObject(cert)) return null;
  var info = await P.verifyCert(cert, D.owner);
  if (!D || !info || !info.by || P.isRemoved(info, S.removed)) return null;
  var lower = String(info.name).toLowerCase();
  for (var id in S.info) {
    if (id === info.id) continue;
    var other = S.info[id];
    if ((info.ik && other.ik === info.ik) || String(other.name).toLowerCase() === lower) return null;
  }
  var fresh = knowMember(info, cert);
  if (fresh && !quiet && S.live && info.id !== D.me) sysMsg('general', info.name + ' joined the network');
  return info;
}

async function applyRemovals(list) {
  var r = await P.checkRemovals(list, D.owner);
  if (!r || !D) return;
  if (D.removals && typeof D.removals.v === 'number' && !(r.v > D.removals.v)) return;
  setRemovals(r);
  var ids = Object.keys(S.info);
  for (var i = 0; i < ids.length; i++) {
    var id = ids[i];
    if (!P.isRemoved(S.info[id], S.removed)) continue;
    if (id === D.me) {
      stopNet();
      gone(GONE_TITLE, GONE_TEXT);
      return;
    }
    forgetMember(id);
  }
}

section('members', {
  // Everyone this device accepted before, checked again (a removal may have come since).
  start: async function () {
    var ids = Object.keys(D.dir);
    for (var i = 0; i < ids.length; i++) {
      try { await learn(D.dir[ids[i]], true); } catch (e) { /* a bad entry stays out */ }
    }
  },
});
