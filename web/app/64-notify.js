// Desktop notifications. Any member can make this page raise them (a message in a group, a
// friend request, a group that adds this member), so one member must not be able to bury
// the desktop: what one member causes in one place shows at once the first time, and then
// at most once every NOTE_QUIET ms, as one notification that tells how many came meanwhile.

var NOTE_QUIET = 5000;
// Member id + ' ' + place → what arrived since its last notification: { held, title, body }.
var quietNotes = new Map();

function notify(title, body) {
  if (!D || !D.settings.notify) return;
  if (S.black && !S.away) return;
  if (focused()) return;
  nat('msw_notify', null, title, body).then(function () { return nat('msw_attention', null); });
}

// A notification caused by member `from` in `where` (a room id, or a name for things that
// belong to no room: 'friends', 'groups').
function notifyFrom(from, where, title, body) {
  var key = from + ' ' + where;
  var quiet = quietNotes.get(key);
  if (quiet) {
    quiet.held++;
    quiet.title = title;
    quiet.body = body;
    return;
  }
  notify(title, body);
  keepQuiet(key);
}

function keepQuiet(key) {
  quietNotes.set(key, { held: 0, title: '', body: '' });
  setTimeout(function () { endQuiet(key); }, NOTE_QUIET);
}

// The quiet spell is over: what was held back shows as one notification, the newest, with
// the count of the others, and a new spell starts; with nothing held the next one shows at once.
function endQuiet(key) {
  var quiet = quietNotes.get(key);
  quietNotes.delete(key);
  if (!quiet || !quiet.held || !D) return;
  notify(quiet.title, quiet.held > 1 ? quiet.body + ' (and ' + (quiet.held - 1) + ' more)' : quiet.body);
  keepQuiet(key);
}
