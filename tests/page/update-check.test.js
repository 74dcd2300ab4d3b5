'use strict';
// The update check and release notes in the chat client's logic: the release query and its
// bad answers, version order, the Markdown subset as plain elements, the update screen's
// texts for each outcome of the native download and install, and "What's new" once.
const test = require('node:test');
const assert = require('node:assert/strict');
const { world, person, makeOwner } = require('./chat-world.js');

const EXPORTS = ['D', 'release', 'newer', 'notesView', 'autoUpdate', 'whatsNew'];
const UPDATES = 'https://releases.test/repos/x/releases';

let owner;
let cy;
test.before(async () => {
  owner = await makeOwner();
  cy = await person(owner, 'cy');
});

// A release host double: `answers` maps a path to a reply ({ status, body } or a function);
// every request is recorded.
function host(answers) {
  const asked = [];
  const fetch = async (url, opts) => {
    asked.push({ url, opts });
    const path = url.slice(UPDATES.length + 1);
    let a = answers[path];
    if (typeof a === 'function') a = await a(opts);
    if (!a) return { ok: false, status: 404, text: async () => '{}' };
    const body = typeof a.body === 'string' ? a.body : JSON.stringify(a.body);
    return { ok: (a.status || 200) < 300, status: a.status || 200, text: async () => body };
  };
  return { asked, fetch };
}

async function client(answers, natives = {}) {
  const h = host(answers);
  const w = await world({ owner, people: [cy], me: cy, exports: EXPORTS, config: { UPDATES }, natives: Object.assign({ fetch: h.fetch, AbortController }, natives) });
  w.asked = h.asked;
  // Every screen and the dialog start hidden, as the page's own markup has them.
  for (const id of ['modal', 'sWelcome', 'sSetPin', 'sUnlock', 'sUpdate', 'sGone', 'sMain']) w.app.$(id).classList.add('hidden');
  return w;
}

const rel = (tag, body = '- one fix', extra = {}) => ({ body: Object.assign({ tag_name: tag, body, published_at: '2026-01-05T10:00:00Z' }, extra) });

// Elements as [tag, text or list of item texts].
const shape = (els) => JSON.parse(JSON.stringify(els.map((e) => [e.tagName, e.tagName === 'ul' ? e.children.map((li) => li.shown) : e.shown])));

test('versions: three numeric parts, compared as numbers', () => {
  return client({}).then((w) => {
    const newer = w.app.newer;
    assert.equal(newer('1.10.0', '1.9.9'), true);
    assert.equal(newer('1.1.8', '1.1.8'), false);
    assert.equal(newer('v1.1.9', '1.1.8'), true);
    assert.equal(newer('1.1.7', '1.1.8'), false);
    assert.equal(newer('2', '1.9.9'), true);
    assert.equal(newer('1.1', '1.1.0'), false);
    assert.equal(newer('1.x.1', '1.0.0'), true);
  });
});

test('release answers: only a well-formed tag gives a record; everything else is null', async (t) => {
  const w = await client({
    latest: rel('v1.2.0', 7, { published_at: 'not a date' }),
    'tags/v1.1.8': rel('v1.1.8', '# Notes'),
    'tags/short': rel('v1.2'),
    'tags/beta': rel('v01.2.3-beta'),
    'tags/nojson': { body: '<html>rate limited</html>' },
    'tags/notag': { body: { name: 'v1.2.3' } },
    'tags/numtag': { body: { tag_name: 123 } },
    'tags/array': { body: [1, 2] },
    'tags/error': { status: 500, body: rel('v9.9.9').body },
    'tags/huge': { body: JSON.stringify({ tag_name: 'v1.2.3', body: 'x'.repeat(5000000) }) },
    'tags/throws': () => { throw new TypeError('Failed to fetch'); },
    'tags/hangs': () => new Promise(() => {}),
  });
  await t.test('a good answer, asked the way the release host wants', async () => {
    const r = await w.app.release('tags/v1.1.8');
    assert.deepEqual(JSON.parse(JSON.stringify(r)), { tag: 'v1.1.8', version: '1.1.8', notes: '# Notes', at: Date.UTC(2026, 0, 5, 10) });
    assert.equal(w.asked[0].url, UPDATES + '/tags/v1.1.8');
    assert.equal(w.asked[0].opts.headers.Accept, 'application/vnd.github+json');
    assert.equal(w.asked[0].opts.cache, 'no-store');
    const latest = await w.app.release('latest');
    assert.equal(latest.notes, '');
    assert.equal(latest.at, null);
  });
  await t.test('bad answers', async () => {
    for (const which of ['short', 'beta', 'nojson', 'notag', 'numtag', 'array', 'error', 'huge', 'throws', 'missing']) {
      assert.equal(await w.app.release('tags/' + which), null, which);
    }
    assert.deepEqual(w.errors, []);
  });
  await t.test('an answer that never comes gives up after 6 seconds', async () => {
    let result = 'waiting';
    w.app.release('tags/hangs').then((r) => { result = r; });
    await w.clock.advance(5999);
    assert.equal(result, 'waiting');
    await w.clock.advance(1);
    assert.equal(result, null);
    assert.equal(w.asked.pop().opts.signal.aborted, true);
  });
});

test('notes: the Markdown subset as plain headings, lists and paragraphs', async () => {
  const w = await client({});
  const view = (md) => shape(w.app.notesView(md));
  const md = '## What **changed**\n- Faster [sign-in](https://x.test/a)\n* Fewer `crashes`\n### Next\nA *single* star\n\n+ one\n\n- two\n';
  const want = [
    ['h3', 'What changed'],
    ['ul', ['Faster sign-in', 'Fewer crashes']],
    ['h3', 'Next'],
    ['p', 'A *single* star'],
    ['ul', ['one']],
    ['ul', ['two']],
  ];
  assert.deepEqual(view(md), want);
  assert.deepEqual(view(md.replace(/\n/g, '\r\n')), want);
  assert.deepEqual(view(''), [['p', 'Bug fixes and improvements.']]);
  assert.deepEqual(view('\n\n  \n'), [['p', 'Bug fixes and improvements.']]);
  assert.deepEqual(view(null), [['p', 'Bug fixes and improvements.']]);
  assert.deepEqual(view('<b>hi</b> & [x](javascript:alert(1))'), [['p', '<b>hi</b> & x']]);
  const long = Array.from({ length: 300 }, (_, i) => 'line ' + i).join('\n');
  const lines = view(long);
  assert.equal(lines.length, 200);
  assert.deepEqual(lines[199], ['p', 'line 199']);
});

test('the update screen for every outcome of download and install', async (t) => {
  const latest = { latest: rel('v1.2.0', '## Better\n- things') };
  const skip = (w) => w.app.$('updSkip').listeners.click.slice().forEach((fn) => fn());
  async function run(natives, answers = latest) {
    const w = await client(answers, natives);
    let out = 'waiting';
    w.app.autoUpdate().then((r) => { out = r; });
    await w.clock.settle();
    w.out = () => out;
    return w;
  }
  await t.test('a newer release that installs: the boot stops', async () => {
    const calls = [];
    const w = await run({ msw_update: async (tag) => { calls.push(tag); return { ok: true }; }, msw_update_install: async () => 'quit' });
    assert.equal(w.out(), true);
    assert.deepEqual(calls, ['v1.2.0']);
    assert.equal(w.app.$('updTitle').textContent, 'Updating to mosswire 1.2.0');
    assert.equal(w.app.$('updStatus').textContent, 'Installing…');
    assert.deepEqual(shape(w.app.$('updNotes').children), [['h3', "What's new"], ['h3', 'Better'], ['ul', ['things']]]);
    assert.equal(w.app.$('sUpdate').classList.contains('hidden'), false);
  });
  const cases = [
    ['a failed check shows its reason', { msw_update: async () => ({ err: 'The download did not match its checksum.' }) },
      'The download did not match its checksum. mosswire will try again next time it opens.'],
    ['a rejected download', { msw_update: async () => { throw new Error('bridge'); } },
      "Couldn't update. mosswire will try again next time it opens."],
    ['an install that must be finished by hand', { msw_update: async () => ({ ok: true }), msw_update_install: async () => 'manual' },
      "mosswire can't replace itself where it is. The new version is in the folder that just opened: move it to where this one is, then open it."],
    ['an install with nothing to install', { msw_update: async () => ({ ok: true }), msw_update_install: async () => 'none' },
      "Couldn't update. mosswire will try again next time it opens."],
    ['a rejected install', { msw_update: async () => ({ ok: true }), msw_update_install: async () => { throw new Error('x'); } },
      "Couldn't update. mosswire will try again next time it opens."],
  ];
  for (const [name, natives, status] of cases) {
    await t.test(name + ': the status, then the boot goes on once "Continue without updating" is pressed', async () => {
      const w = await run(natives);
      assert.equal(w.app.$('updStatus').textContent, status);
      assert.equal(w.app.$('updRow').classList.contains('hidden'), false);
      assert.equal(w.out(), 'waiting');
      skip(w);
      await w.clock.settle();
      assert.equal(w.out(), false);
    });
  }
  // A copy that can't install by itself: the host downloads nothing and says where the
  // release is, once for each version.
  const notice = (extra) => Object.assign({ notice: 'package', url: 'https://github.com/m/m/releases/tag/v1.2.0', told: false }, extra);
  await t.test('a copy that cannot install by itself is told where to get the release, and the boot goes on when that is read', async () => {
    let installs = 0;
    const w = await run({ msw_update: async () => notice(), msw_update_install: async () => { installs++; return 'quit'; } });
    assert.equal(w.app.$('updTitle').textContent, 'mosswire 1.2.0 is available');
    const status = w.app.$('updStatus');
    assert.equal(status.shown, 'This copy of mosswire was installed as a package, so it is updated the same way: get the new package from ' +
      "https://github.com/m/m/releases/tag/v1.2.0. mosswire won't stop here again for this version.");
    const link = status.children.find((c) => c.tagName === 'a');
    assert.equal(link.getAttribute('href'), 'https://github.com/m/m/releases/tag/v1.2.0');
    assert.deepEqual(shape(w.app.$('updNotes').children), [['h3', "What's new"], ['h3', 'Better'], ['ul', ['things']]]);
    assert.equal(w.app.$('updRow').classList.contains('hidden'), false);
    assert.equal(installs, 0);
    assert.equal(w.out(), 'waiting');
    skip(w);
    await w.clock.settle();
    assert.equal(w.out(), false);
  });
  await t.test('a version told of before stops nothing and shows nothing', async () => {
    const w = await run({ msw_update: async () => notice({ told: true, notice: 'unsigned' }) });
    assert.equal(w.out(), false);
    assert.equal(w.app.$('updTitle').textContent, '');
  });
  await t.test('an answer that is slower than the screen still turns it into the notice', async () => {
    let answer = null;
    const w = await run({ msw_update: () => new Promise((resolve) => { answer = resolve; }) });
    await w.clock.advance(300);
    assert.equal(w.app.$('updTitle').textContent, 'Updating to mosswire 1.2.0');
    answer(notice({ notice: 'protected', url: 'javascript:alert(1)' }));
    await w.clock.settle();
    assert.equal(w.app.$('updTitle').textContent, 'mosswire 1.2.0 is available');
    const status = w.app.$('updStatus');
    assert.match(status.shown, /^mosswire can't replace itself where it is, so nothing was downloaded\. Get the new version from javascript:alert\(1\)\./);
    assert.equal(status.children.some((c) => c.tagName === 'a'), false, 'only a web address becomes a link');
    assert.equal(w.out(), 'waiting');
  });
  await t.test('a notice of an unknown kind counts as a failed update', async () => {
    const w = await run({ msw_update: async () => notice({ notice: 'later' }) });
    assert.equal(w.app.$('updStatus').textContent, "Couldn't update. mosswire will try again next time it opens.");
  });
  await t.test('no newer release, no answer, or no native updater: straight on, nothing shown', async () => {
    for (const [natives, answers] of [
      [{ msw_update: async () => { throw new Error('must not be called'); } }, { latest: rel('v1.1.8') }],
      [{ msw_update: async () => { throw new Error('must not be called'); } }, { latest: rel('v1.2') }],
      [{ msw_update: async () => { throw new Error('must not be called'); } }, {}],
      [{}, latest],
    ]) {
      const w = await run(natives, answers);
      assert.equal(w.out(), false);
      assert.equal(w.app.$('sUpdate').classList.contains('hidden'), true, 'the update screen stays hidden');
      assert.equal(w.app.$('updTitle').textContent, '');
    }
  });
});

test('"What\'s new" once after an update, and the notes kept in Announcements', async (t) => {
  const notes = { 'tags/v1.1.8': rel('v1.1.8', '## Fixed\n- the **menu**') };
  const title = (w) => (w.app.$('modalCard').children[0] || { shown: '' }).shown;
const plain = (x) => JSON.parse(JSON.stringify(x));
  await t.test('the first unlock after an update shows the dialog and adds the entry; the second does not', async () => {
    const w = await client(notes);
    w.D.settings.seenVersion = '1.1.7';
    const writes = w.writes;
    await w.app.whatsNew();
    assert.equal(title(w), "What's new in mosswire 1.1.8");
    assert.equal(w.D.settings.seenVersion, '1.1.8');
    assert.ok(w.writes > writes, 'the seen version is written before the notes show');
    const entry = w.D.ann['rel-v1.1.8'];
    assert.deepEqual(JSON.parse(JSON.stringify(entry)), { id: 'rel-v1.1.8', at: Date.UTC(2026, 0, 5, 10), text: '## Fixed\n- the **menu**', rel: '1.1.8' });
    assert.equal(w.D.unread.announcements, 1);
    assert.deepEqual(w.notes, []);
    w.app.$('modalCard').textContent = '';
    const asked = w.asked.length;
    await w.app.whatsNew();
    assert.equal(title(w), '');
    assert.equal(w.asked.length, asked);
    assert.equal(w.D.unread.announcements, 1);
  });
  await t.test('a fresh install or a downgrade gets the entry but no dialog', async () => {
    for (const seen of ['1.1.8', '1.2.0']) {
      const w = await client(notes);
      w.D.settings.seenVersion = seen;
      await w.app.whatsNew();
      assert.equal(title(w), '', seen);
      assert.equal(w.D.ann['rel-v1.1.8'].rel, '1.1.8');
      assert.equal(w.D.settings.seenVersion, '1.1.8');
    }
  });
  await t.test('empty notes read "Bug fixes and improvements."; no time means now', async () => {
    const w = await client({ 'tags/v1.1.8': rel('v1.1.8', '  \n', { published_at: null }) });
    await w.app.whatsNew();
    assert.equal(w.D.ann['rel-v1.1.8'].text, 'Bug fixes and improvements.');
    assert.equal(w.D.ann['rel-v1.1.8'].at, w.clock.now());
  });
  await t.test('a failed query shows nothing and adds nothing', async () => {
    const w = await client({});
    w.D.settings.seenVersion = '1.0.0';
    await w.app.whatsNew();
    assert.equal(title(w), '');
    assert.equal(w.D.ann['rel-v1.1.8'], undefined);
  });
});
