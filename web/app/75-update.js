// The update check before the unlock screen, the patch notes shown while the host downloads,
// checks and installs a newer version, "What's new" once after an update, and the small
// piece of Markdown that release notes use, shown as plain text.

var UPD = {
  wait: 6000,          // the release host gets this long to answer
  maxBody: 4000000,    // characters of a release answer read at all
  maxNotes: 60000,     // characters of notes kept
  maxLines: 200,
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

function waitForSkip() {
  return new Promise(function (resolve) {
    var btn = $('updSkip');
    btn.addEventListener('click', function () { resolve(); }, { once: true });
    btn.focus();
  });
}

// True when the program is quitting to install an update; the boot then stops.
async function autoUpdate() {
  if (typeof window.msw_update !== 'function') return false;
  var rel = await release('latest');
  if (!rel || !newer(rel.version, C.VERSION)) return false;
  $('updTitle').textContent = 'Updating to mosswire ' + rel.version;
  $('updStatus').textContent = 'Downloading… mosswire will open again by itself in a moment.';
  var notes = $('updNotes');
  notes.textContent = '';
  appendKids(notes, [h('h3', { text: "What's new" }), notesView(rel.notes)]);
  $('updRow').classList.add('hidden');
  show('sUpdate');
  var r = null;
  try { r = await window.msw_update(rel.tag); } catch (e) { r = null; }
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
    d.settings.seenVersion = C.VERSION;
    // Written before the notes show, so a quit right after can't bring them back next time.
    try {
      await Vault.saveNow();
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
    d.ann[id] = entry;
    annArrived(entry, false);
    Vault.saveNow().catch(function (e) { console.error('mosswire: saving the release notes failed:', e && e.message); });
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
