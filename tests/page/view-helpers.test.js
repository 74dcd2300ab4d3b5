'use strict';
// The chat view's pure helpers: mentions as drawn, badges, times, the prompt path, the
// counter, name colours and the characters a drawn name may not carry.
const test = require('node:test');
const assert = require('node:assert/strict');
const { world, person, makeOwner } = require('./chat-world.js');

let w;
let people;
test.before(async () => {
  const owner = await makeOwner();
  people = await Promise.all(['cy', 'ann', 'ann.b', 'bo'].map((n) => person(owner, n)));
  w = await world({ owner, people, me: people[0] });
});

// What withPings drew: plain runs as strings, mentions as ['@name', classes].
function pieces(frag) {
  return frag.children.map((c) => (c.tagName ? [c.text, c.className] : c.text));
}

test('mentions', async (t) => {
  await t.test('a full stop after a name ends the sentence; a longer name needs its member', () => {
    assert.deepEqual(pieces(w.app.withPings('hi @ann. and @ann.b and @ann.c')),
      ['hi ', ['@ann', 'ping'], '. and ', ['@ann.b', 'ping'], ' and @ann.c']);
  });
  await t.test('no mention inside a word, after a second @, or of nobody; case is ignored', () => {
    assert.deepEqual(pieces(w.app.withPings('x@ann @@ann @zed @ANN')), ['x@ann @@ann @zed ', ['@ANN', 'ping']]);
  });
  await t.test('only a mention of this member marks the message', () => {
    assert.equal(w.app.pingsMe('hey @CY!'), true);
    assert.equal(w.app.pingsMe('hey bo@cy @cyril'), false);
    assert.deepEqual(pieces(w.app.withPings('@cy')), [['@cy', 'ping me']]);
  });
  await t.test('markup in a message stays text', () => {
    assert.deepEqual(pieces(w.app.withPings('<img src=x onerror=alert(1)> @bo')), ['<img src=x onerror=alert(1)> ', ['@bo', 'ping']]);
  });
});

test('badges, times, prompt path, counter', async (t) => {
  await t.test('badge: 99+ above 99, "@ " with a mention, hidden at 0', () => {
    const el = w.app.$('friendsBadge');
    w.app.badge(el, 150, true);
    assert.equal(el.text, '@ 99+');
    assert.equal(el.classList.contains('ping'), true);
    w.app.badge(el, 99, false);
    assert.deepEqual([el.text, el.classList.contains('ping'), el.classList.contains('hidden')], ['99', false, false]);
    w.app.badge(el, 0, true);
    assert.deepEqual([el.text, el.classList.contains('hidden'), el.classList.contains('ping')], ['', true, false]);
  });
  await t.test('fmtTime: the time today, with the date another day', () => {
    const now = new Date(w.clock.now());
    const today = new Date(now.getFullYear(), now.getMonth(), now.getDate(), 9, 5);
    assert.equal(w.app.fmtTime(today.getTime()), '9:05');
    const before = new Date(2025, 11, 25, 18, 30);
    assert.equal(w.app.fmtTime(before.getTime()), 'Thu 25 Dec, 18:30');
  });
  await t.test('the prompt path of a group', () => {
    const path = (name) => w.app.promptPath({ kind: 'group', name });
    assert.equal(path('Café Crew!'), 'caf-crew');
    assert.equal(path('--Team  42 ~ B--'), 'team-42-b');
    assert.equal(w.app.promptPath({ kind: 'dm', with: people[1].id }), 'dm/ann');
    assert.equal(w.app.promptPath({ kind: 'general' }), 'general');
  });
  await t.test('the counter shows from 200 left and turns low at 30', () => {
    const box = w.app.$('msg');
    box.maxLength = 2000;
    const shown = (len) => {
      box.value = 'x'.repeat(len);
      w.app.drawCounter();
      const el = w.app.$('msgLeft');
      return [el.text, el.classList.contains('low')];
    };
    assert.deepEqual(shown(1799), ['', false]);
    assert.deepEqual(shown(1800), ['200', false]);
    assert.deepEqual(shown(1969), ['31', false]);
    assert.deepEqual(shown(1970), ['30', true]);
    assert.deepEqual(shown(2000), ['0', true]);
  });
});

test('names as drawn', async (t) => {
  await t.test('hue counts whole characters and stays within 0-359', () => {
    assert.equal(w.app.hue(''), 0);
    assert.equal(w.app.hue('a'), 97);
    assert.equal(w.app.hue('ab'), (97 * 31 + 98) % 360);
    // An emoji is one character: its first UTF-16 unit counts once.
    assert.equal(w.app.hue('😀'), 0xd83d % 360);
    for (const s of ['zzzzzzzzzzzzzzzzzzzzzzzz', 'Ωmega', '名前']) assert.ok(w.app.hue(s) >= 0 && w.app.hue(s) < 360);
  });
  await t.test('isolate controls cannot end a name\'s isolation early', () => {
    assert.equal(w.app.drawnName('a\u2069b\u2066c\u061cd\u2067e\u2068f'), 'abcdef');
    assert.equal(w.app.drawnName('שלום abc'), 'שלום abc');
  });
});

test('sidebar badges: incoming requests on Friends, unread and mentions per room', async () => {
  w.app.S.unlocked = true;
  w.D.unread = { general: 150 };
  w.D.pings = { general: true };
  w.D.friends[people[3].id] = 'incoming';
  w.D.friends[people[1].id] = 'outgoing';
  w.app.drawSidebar();
  assert.equal(w.app.$('friendsBadge').text, '1');
  assert.equal(w.app.$('generalBadge').text, '@ 99+');
  assert.equal(w.app.$('annBadge').classList.contains('hidden'), true);
});
