// Announcements and spoken-code custody. The owner's posts are signed, not encrypted, so
// every member can read them and nobody else can fake one. Like removal lists they live on
// every client, not with the messages, and go back to the relay at every sign-in; spoken
// invite codes do the same, so both outlive a relay that slept or restarted.

var ANN = {
  keep: 100,        // signed posts held; release-notes entries do not count
  spokenKeep: 200,  // spoken entries held, those expiring last
  take: 200,        // of each list in a welcome
  preview: 160,
};
var ANN_NOTE_TEXT = 'New announcement';
var NOT_ONLINE_POST = 'Not connected right now. Try again in a moment.';
var NO_OWNER_KEY_POST = "This computer doesn't have this network's owner key, so it can't post here.";

// The first line of a post with its Markdown marks taken off, for a notification.
function annFirstLine(text) {
  var lines = String(text).split('\n');
  for (var i = 0; i < lines.length; i++) {
    var line = lines[i].trim()
      .replace(/^#+\s*/, '')
      .replace(/^[-*+]\s+/, '')
      .replace(/\*\*|__|`/g, '')
      .trim();
    if (line) return line;
  }
  return '';
}

function isSignedPost(a) { return isPlainObject(a) && typeof a.s === 'string'; }

// Only the newest signed posts are kept; release notes stay whatever their age.
function trimAnn() {
  var posts = Object.keys(D.ann).filter(function (id) { return isSignedPost(D.ann[id]); });
  if (posts.length <= ANN.keep) return;
  posts.sort(function (a, b) { return D.ann[b].at - D.ann[a].at; });
  posts.slice(ANN.keep).forEach(dropAnn);
}

function trimSpoken() {
  var ids = Object.keys(D.spoken);
  if (ids.length <= ANN.spokenKeep) return;
  ids.sort(function (a, b) { return D.spoken[b].exp - D.spoken[a].exp; });
  ids.slice(ANN.spokenKeep).forEach(dropSpoken);
}

// The entries a reader sees, oldest first: deleted posts (empty text) are only kept.
function annShown() {
  return Object.keys(D.ann).map(function (id) { return D.ann[id]; })
    .filter(function (a) { return isPlainObject(a) && typeof a.text === 'string' && a.text !== ''; })
    .sort(function (a, b) { return (a.at || 0) - (b.at || 0); });
}

// A post from the relay: live from an `ann` frame, or from the list in `welcome`.
async function takeAnn(post, live) {
  if (!D) return false;
  var a = await P.checkAnn(post, D.owner);
  if (!a || !D) return false;
  var held = own(D.ann, a.id) ? D.ann[a.id] : null;
  if (held && !(a.at > held.at)) return false;
  putAnn(a);
  trimAnn();
  // A post older than the hundred held is gone again at once and announces nothing.
  if (D.ann[a.id] === a && a.text && !held) annArrived(a, live);
  return true;
}

// A new entry: counted while the room is not being read, announced on the desktop when live.
function annArrived(entry, live) {
  if (!D) return;
  if (!(S.view === 'announcements' && focused() && !S.black)) countAnn();
  if (live) {
    var body = D.settings.previews ? cut(annFirstLine(entry.text), ANN.preview) : ANN_NOTE_TEXT;
    notify('Announcement from ' + ownerName(), body || ANN_NOTE_TEXT);
  }
}

// The owner posts (no id) or deletes a post (empty text under its id). True on success.
async function postAnn(text, id) {
  if (S.status !== 'online') {
    err('chatErr', NOT_ONLINE_POST);
    return false;
  }
  var post = null;
  try {
    var key = await nat('msw_owner_secret', null);
    if (typeof key === 'string' && key && D) {
      var pid = id || P.randomHex(8);
      // A later version must carry a later time, or members would keep the old one: a
      // clock that is behind the one that signed the first version must not lose the edit.
      var held = own(D.ann, pid) ? D.ann[pid] : null;
      var at = Date.now();
      if (held && typeof held.at === 'number' && !(at > held.at)) at = held.at + 1;
      post = await P.checkAnn(await P.signAnn(key, pid, at, String(text)), D.owner);
    }
  } catch (e) {
    post = null;
  }
  if (!D) return false;
  if (!post) {
    err('chatErr', NO_OWNER_KEY_POST);
    return false;
  }
  putAnn(post);
  trimAnn();
  // If the socket went meanwhile, the post still reaches the relay with the next sign-in.
  wsSend({ t: 'announce', ann: post });
  err('chatErr', '');
  return true;
}

// From the Announcements composer (the owner's only): the text becomes a new post.
async function postAnnText(text) {
  return postAnn(cut(text, MAX_ANN));
}

// The owner's "Delete" on a post: it disappears for everyone.
function deleteAnn(id) {
  ask('Delete this announcement?', 'It disappears for everyone.', 'Delete', function () {
    postAnn('', id);
  }, true);
}

// A spoken-code entry from the relay; only the owner's, unexpired ones are kept.
async function takeSpoken(entry) {
  if (!D || !isPlainObject(entry) || typeof entry.id !== 'string' || own(D.spoken, entry.id)) return false;
  var e = await P.checkSpoken(entry, D.owner);
  if (!e || !D || !(e.exp > Date.now()) || own(D.spoken, e.id)) return false;
  putSpoken(e);
  trimSpoken();
  return true;
}

async function takeWelcomeLists(f) {
  var anns = Array.isArray(f.ann) ? f.ann.slice(0, ANN.take) : [];
  for (var i = 0; i < anns.length && D; i++) await takeAnn(anns[i], false);
  var spoken = Array.isArray(f.spoken) ? f.spoken.slice(0, ANN.take) : [];
  for (var j = 0; j < spoken.length && D; j++) await takeSpoken(spoken[j]);
}

// The Announcements room's log: who posts here and why it can be trusted, then every entry
// with text, oldest first, its Markdown shown as plain headings, lists and paragraphs.
function annLog(log) {
  var owner = drawnName(ownerName());
  var frag = document.createDocumentFragment();
  frag.appendChild(h('div', { class: 'sys start' }, h('span', {
    class: 'text',
    text: 'News from ' + owner + ', and the patch notes for every update. Only ' + owner +
      ' can post here. Posts are signed so nobody else can fake one, and everyone in the network can read them.',
  })));
  annShown().forEach(function (a) {
    var rel = typeof a.rel === 'string';
    frag.appendChild(h('div', { class: rel ? 'ann rel' : 'ann', 'data-id': a.id },
      h('div', { class: 'ann-h' },
        h('b', { text: rel ? 'mosswire ' + a.rel : owner }),
        h('span', { class: 'tagline', text: rel ? 'Patch notes' : 'Announcement' }),
        h('span', { class: 'time', text: fmtTime(a.at) }),
        S.owner && isSignedPost(a)
          ? h('button', { type: 'button', class: 'link danger ann-del', text: 'Delete', onclick: function () { deleteAnn(a.id); } })
          : null),
      h('div', { class: 'ann-b notes' }, notesView(a.text))));
  });
  log.appendChild(frag);
  log.scrollTop = log.scrollHeight;
}

section('announcements', {
  annLog: annLog,
  welcome: takeWelcomeLists,
  frames: {
    ann: function (f) { return takeAnn(f.ann, true); },
    spoken: function (f) { return takeSpoken(f.entry); },
  },
});
