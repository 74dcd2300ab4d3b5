// The update check before the unlock screen, the patch notes shown while the host downloads,
// checks and installs a newer version, "What's new" once after an update, and the small
// piece of Markdown that release notes use, shown as plain text. A copy that can't install
// a release by itself (a package, a place it can't change, a build without the owner's
// key) is only told where to get it, once per version: the host keeps that memory.

var UPD = {
  wait: 6000,          // the release host gets this long to answer
  maxBody: 4000000,    // characters of a release answer read at all
  maxNotes: 60000,     // characters of notes kept
  maxLines: 200,
  // The host answers at once when it won't download; only a download is worth the screen,
  // so the screen waits this long for such an answer first.
  notice: 250,
};
var NO_NOTES = 'Bug fixes and improvements.';
var TAG_RE = /^v\d+\.\d+\.\d+$/;
// [words](target), where the target may hold one pair of brackets of its own.
var LINK_RE = /\[([^\]]*)\]\((?:[^()]|\([^()]*\))*\)/g;

function releaseOf(j) {
  if (!isPlainObject(j) || typeof j.tag_name !== 'string' || !TAG_RE.test(j.tag_name)) return null;
  var at = typeof j.published_at === 'string' ? Date.parse(j.published_at) : NaN;
  return {
    tag: j.tag_name,
    version: j.tag_name.slice(1),
    notes: typeof j.body === 'string' ? j.body.slice(0, UPD.maxNotes) : '',
    at: isFinite(at) ? at : null,
  };
}

// release('latest') or release('tags/v1.1.8') → { tag, version, notes, at } or null.
async function release(which) {
  var base = C.UPDATES;
  if (typeof base !== 'string' || !base) return null;
  var ctl = typeof AbortController === 'function' ? new AbortController() : null;
  var timer = null;
  var late = new Promise(function (resolve) {
    timer = setTimeout(function () {
      if (ctl) ctl.abort();
      resolve(null);
    }, UPD.wait);
  });
  try {
    var ask = (async function () {
      var res = await fetch(base + '/' + which, {
        headers: { Accept: 'application/vnd.github+json' },
        cache: 'no-store',
        signal: ctl ? ctl.signal : undefined,
      });
      if (!res || !res.ok) return null;
      var text = await res.text();
      if (text.length > UPD.maxBody) return null;
      return releaseOf(JSON.parse(text));
    })();
    ask.catch(function () {}); // a late failure after the time-out is nobody's business
    return await Promise.race([ask, late]);
  } catch (e) {
    return null;
  } finally {
    clearTimeout(timer);
  }
}

function versionParts(v) {
  var parts = String(v).replace(/^v/, '').split('.');
  var out = [];
  for (var i = 0; i < 3; i++) {
    var n = parseInt(parts[i], 10);
    out.push(isNaN(n) ? 0 : n);
  }
  return out;
}

// Whether version text a is newer than b.
function newer(a, b) {
  var x = versionParts(a);
  var y = versionParts(b);
  for (var i = 0; i < 3; i++) if (x[i] !== y[i]) return x[i] > y[i];
  return false;
}

// Markdown notes → elements: headings, bullet lists and paragraphs, every text as text.
function notesView(md) {
  var lines = String(typeof md === 'string' ? md : '').replace(/\r/g, '').split('\n').slice(0, UPD.maxLines);
  var out = [];
  var list = null;
  lines.forEach(function (raw) {
    var line = raw.replace(/\*\*|__|`/g, '').replace(LINK_RE, '$1').trim();
    var bullet = /^[-*+]\s+(.*)$/.exec(line);
    if (bullet) {
      if (!list) {
        list = h('ul');
        out.push(list);
      }
      list.appendChild(h('li', { text: bullet[1] }));
      return;
    }
    list = null;
    if (!line) return;
    var heading = /^#{1,6}\s+(.*)$/.exec(line);
    out.push(heading ? h('h3', { text: heading[1] }) : h('p', { text: line }));
  });
  if (!out.length) out.push(h('p', { text: NO_NOTES }));
  return out;
}

var MANUAL_TEXT = {
  windows: "mosswire can't replace itself in the folder it's in. The new version is in the window that just opened: move it to where this one is, then open it.",
  mac: "mosswire can't replace itself where it is. The new version just opened in Finder: drag mosswire into Applications, then open it from there.",
  linux: "mosswire can't replace itself where it is. The new version is in the folder that just opened: move it to where this one is, then open it.",
};

// What the host says of a copy that can't install a release by itself; the address is
// where the release's page is.
var NOTICE_TEXT = {
  package: 'This copy of mosswire was installed as a package, so it is updated the same way: get the new package from ',
  protected: "mosswire can't replace itself where it is, so nothing was downloaded. Get the new version from ",
  unsigned: "This copy of mosswire wasn't built to install updates by itself. Get the new version from ",
};
var NOTICE_AFTER = ". mosswire won't stop here again for this version.";

function isNotice(r) {
  return isPlainObject(r) && typeof r.notice === 'string' && own(NOTICE_TEXT, r.notice);
}

function fillUpdateScreen(title, rel) {
  $('updTitle').textContent = title;
  var notes = $('updNotes');
  notes.textContent = '';
  appendKids(notes, [h('h3', { text: "What's new" }), notesView(rel.notes)]);
}

// A web address opens in the desktop's browser when clicked; anything else is only shown.
function releaseLink(url) {
  var text = cut(url, 300);
  return /^https?:\/\/[^\s]+$/.test(url) ? h('a', { href: url, text: text }) : text;
}

function waitForSkip() {
  return new Promise(function (resolve) {
    var btn = $('updSkip');
    btn.addEventListener('click', function () { resolve(); }, { once: true });
    btn.focus();
  });
}

// The version exists and where to get it, once: a version told of before stops nothing.
async function updateNotice(rel, r) {
  if (r.told === true) return false;
  fillUpdateScreen('mosswire ' + rel.version + ' is available', rel);
  var status = $('updStatus');
  status.textContent = '';
  appendKids(status, [NOTICE_TEXT[r.notice], typeof r.url === 'string' ? releaseLink(r.url) : 'its release page', NOTICE_AFTER]);
  $('updRow').classList.remove('hidden');
  show('sUpdate');
  await waitForSkip();
  return false;
}

// True when the program is quitting to install an update; the boot then stops.
async function autoUpdate() {
  if (typeof window.msw_update !== 'function') return false;
  var rel = await release('latest');
  if (!rel || !newer(rel.version, C.VERSION)) return false;
  var asked = (async function () {
    try { return await window.msw_update(rel.tag); } catch (e) { return null; }
  })();
  var timer = null;
  var r = await Promise.race([asked, new Promise(function (resolve) { timer = setTimeout(resolve, UPD.notice); })]);
  clearTimeout(timer);
  if (isNotice(r)) return updateNotice(rel, r);
  fillUpdateScreen('Updating to mosswire ' + rel.version, rel);
  $('updStatus').textContent = 'Downloading… mosswire will open again by itself in a moment.';
  $('updRow').classList.add('hidden');
  show('sUpdate');
  r = await asked;
  if (isNotice(r)) return updateNotice(rel, r);
  var answer = null;
  if (isPlainObject(r) && r.ok) {
    $('updStatus').textContent = 'Installing…';
    try {
      answer = typeof window.msw_update_install === 'function' ? await window.msw_update_install() : null;
    } catch (e) {
      answer = null;
    }
    if (answer === 'quit') return true;
  }
  var why = isPlainObject(r) && typeof r.err === 'string' && r.err ? cut(r.err, 300) : "Couldn't update.";
  $('updStatus').textContent = answer === 'manual' ? byOs(MANUAL_TEXT) : why + ' mosswire will try again next time it opens.';
  $('updRow').classList.remove('hidden');
  await waitForSkip();
  return false;
}

// After unlock: the running version's notes once after an update, and always its entry in
// Announcements.
async function whatsNew() {
  var d = D;
  if (!d) return;
  var seen = d.settings.seenVersion;
  var id = 'rel-v' + C.VERSION;
  var due = typeof seen !== 'string' || !seen || (seen !== C.VERSION && newer(C.VERSION, seen));
  if (seen !== C.VERSION) {
    setSetting('seenVersion', C.VERSION);
    // Written before the notes show, so a quit right after can't bring them back next time.
    try {
      await storeNow();
    } catch (e) {
      console.error('mosswire: saving the seen version failed:', e && e.message);
    }
    if (D !== d) return;
  }
  if (!due && own(d.ann, id)) return;
  var rel = await release('tags/v' + C.VERSION);
  if (!rel || !S.unlocked || D !== d) return;
  if (!own(d.ann, id)) {
    var entry = { id: id, at: typeof rel.at === 'number' ? rel.at : Date.now(), text: rel.notes.trim() || NO_NOTES, rel: C.VERSION };
    putAnn(entry);
    annArrived(entry, false);
    storeNow().catch(function (e) { console.error('mosswire: saving the release notes failed:', e && e.message); });
  }
  if (due && !S.black && !modalOpen()) {
    modal("What's new in mosswire " + rel.version,
      h('div', { class: 'notes' }, notesView(rel.notes)),
      h('p', { class: 'hint', text: 'You can read these again any time in Announcements.' }),
      closeBtn());
    $('modalCard').setAttribute('data-kind', 'news');
  }
}

section('update', {
  ready: function () {
    whatsNew().catch(function (e) { console.error("mosswire: showing what's new failed:", e); });
  },
});
