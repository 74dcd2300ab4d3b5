'use strict';
// The ASCII GIF list (web/gifs.js), loaded as the page loads it: a plain script in a fresh
// browser-like global scope.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const vm = require('vm');

const SOURCE = fs.readFileSync(path.join(__dirname, '../../web/gifs.js'), 'utf8');

// A window whose network and code-from-text doors all throw, so a list that reached for
// any of them would fail to load.
function load() {
  const refuse = (what) => () => { throw new Error('gifs.js used ' + what); };
  const ctx = {
    fetch: refuse('fetch'), XMLHttpRequest: refuse('XMLHttpRequest'), WebSocket: refuse('WebSocket'),
    setTimeout: refuse('setTimeout'), console,
  };
  ctx.window = ctx;
  vm.createContext(ctx);
  vm.runInContext('eval = function () { throw new Error("gifs.js used eval"); }; Function = eval;', ctx);
  const before = new Set(Object.keys(ctx));
  vm.runInContext(SOURCE, ctx, { filename: 'gifs.js' });
  return { ctx, added: Object.keys(ctx).filter((k) => !before.has(k)) };
}

const { ctx, added } = load();
const G = ctx.MswGifs;

// Lines of a frame, each padded to the GIF's width, as the padded list must hold them.
const frame = (width, lines) => lines.map((l) => l.padEnd(width)).join('\n');

test('the script adds one frozen global whose list and lookup agree', () => {
  assert.deepEqual(added, ['MswGifs']);
  assert.ok(Object.isFrozen(G) && Object.isFrozen(G.list) && Object.isFrozen(G.byId));
  for (const g of G.list) {
    assert.ok(Object.isFrozen(g) && Object.isFrozen(g.frames), g.id + ' can be changed');
    assert.equal(G.byId[g.id], g);
  }
  assert.deepEqual([...Object.keys(G.byId)], [...G.list.map((g) => g.id)]);
  // An id from another member's message that names an object built-in finds nothing.
  for (const id of ['constructor', 'toString', '__proto__', 'hasOwnProperty']) assert.equal(G.byId[id], undefined, id);
});

test('every GIF has the listed name, speed, frame count and padded size', () => {
  const table = [
    ['wave', 'Wave', 400, 2, 3, 9], ['dance', 'Dance', 300, 4, 3, 4], ['cat', 'Cat', 500, 4, 3, 8],
    ['heart', 'Heart', 220, 6, 6, 8], ['coffee', 'Coffee', 450, 2, 6, 10], ['thinking', 'Thinking', 450, 4, 2, 13],
    ['lol', 'LOL', 300, 2, 2, 5], ['party', 'Party', 300, 6, 5, 17], ['rocket', 'Rocket', 220, 14, 9, 9],
    ['fish', 'Fish', 160, 30, 5, 22],
  ];
  assert.deepEqual([...G.list.map((g) => g.id)], table.map((row) => row[0]), 'picker order');
  for (const [id, name, ms, count, height, width] of table) {
    const g = G.byId[id];
    assert.deepEqual([g.name, g.ms, g.frames.length], [name, ms, count], id);
    g.frames.forEach((f, n) => {
      const lines = f.split('\n');
      assert.equal(lines.length, height, id + ' frame ' + n + ' lines');
      lines.forEach((l, r) => assert.equal(l.length, width, id + ' frame ' + n + ' line ' + r + ' width'));
      assert.match(f, /^[\x20-\x7e\n]+$/, id + ' frame ' + n + ' holds only printable ASCII');
    });
    // An animation whose frames are all alike would not move at all.
    assert.ok(new Set(g.frames).size > 1, id + ' has one picture only');
  }
});

test('confetti: the sky turns one line down a frame while the figure cheers', () => {
  const sky = ["  *   .   '  *  .", "  '  *   .   '  *", "  .   '  *   .  '"];
  const f = G.byId.party.frames;
  assert.equal(f[0], frame(17, [sky[0], sky[1], sky[2], '    \\(^o^)/', '      | |']));
  assert.equal(f[1], frame(17, [sky[2], sky[0], sky[1], '    _(^o^)_', '      | |']));
  assert.equal(f[5], frame(17, [sky[1], sky[2], sky[0], '    _(^o^)_', '      | |']));
  assert.equal(f[3].split('\n').slice(0, 3).join('\n'), f[0].split('\n').slice(0, 3).join('\n'));
});

test('lift-off: the engine lights on the pad, the ship climbs and leaves the top', () => {
  const f = G.byId.rocket.frames;
  const ship = ['   /\\', '  |  |', '  |  |', ' /|__|\\'];
  const empty = (n) => Array(n).fill('');
  assert.equal(f[0], frame(9, [...empty(4), ...ship, '_________']));
  // Flames would sit below row 7 yet: only the lit pad shows the engine.
  assert.equal(f[2], frame(9, [...empty(4), ...ship, '__.**.___']));
  assert.equal(f[3], frame(9, [...empty(3), ...ship, '   **', '__.**.___']));
  assert.equal(f[4], frame(9, [...empty(2), ...ship, "   ''", '   ..', '_________']));
  // The nose has left the sky; the flames' last row is still on show.
  assert.equal(f[11], frame(9, ["   ''", ...empty(7), '_________']));
  assert.equal(f[12], frame(9, [...empty(8), '_________']));
  assert.equal(f[13], f[12]);
});

test('fish tank: nearest columns with halves rounding up, fish cut at both walls', () => {
  const f = G.byId.fish.frames;
  const tank = (big, small) => frame(22, ['~'.repeat(22), big, '', small, '_,._.,_.,._,.__,._,_.,']);
  assert.equal(f[0], tank('', ''), 'both fish still outside the tank');
  // -7 + 3 * 29 / 30 = -4.1 gives -4; 22 - 3 * 25 / 30 = 19.5 gives 20.
  assert.equal(f[3], tank('(o>', ' '.repeat(20) + '<>'));
  // 7.5 gives 8, 9.5 gives 10.
  assert.equal(f[15], tank(' '.repeat(8) + '><(((o>', ' '.repeat(10) + '<><'));
  // -0.5 goes up to column 0, so the small fish is whole at the left wall.
  assert.equal(f[27], tank(' '.repeat(19) + '><(', '<><'));
  // 21.03 gives 21 and -2.17 gives -2: only a tip of each fish is left.
  assert.equal(f[29], tank(' '.repeat(21) + '>', '<'));
});
