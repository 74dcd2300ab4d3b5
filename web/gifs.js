// ASCII-art GIFs that members can send. A GIF travels as its id only; every copy of
// mosswire draws it from this list, so a GIF can never carry anything but these frames.
// Each has an id, a display name, the time per frame in ms, and its frames (several lines).
//
// Hand-drawn art is written as it looks: one flush-left block per GIF, frames separated
// by a line holding only "=". String.raw keeps every backslash of the art as typed. Three
// GIFs are computed instead, because their motion follows a rule rather than a drawing.
// Finally every frame of a GIF is padded to the same lines and width, so the art stays
// put while it plays.
var MswGifs = (function () {
  'use strict';

  // Splits a drawn block into frames: the line break right after the opening backtick and
  // the one before the closing backtick belong to the layout of this file, not the art.
  function drawn(block) {
    var text = block.replace(/^\r?\n/, '').replace(/\r?\n$/, '');
    var frames = [];
    var lines = [];
    text.split(/\r?\n/).forEach(function (line) {
      if (line === '=') {
        frames.push(lines);
        lines = [];
      } else {
        lines.push(line);
      }
    });
    frames.push(lines);
    return frames;
  }

  function repeat(ch, n) {
    var s = '';
    while (s.length < n) s += ch;
    return s;
  }

  // Places art at a column of a line of the given width: a negative column cuts off the
  // part left of the edge, and whatever runs past the width is cut off too.
  function placed(art, col, width) {
    var line = col >= 0 ? repeat(' ', col) + art : art.slice(-col);
    return line.slice(0, width);
  }

  // The column nearest to num / den, an exact half going to the higher column. Whole
  // numbers keep the halves exact, where floating point could tip them either way.
  function nearest(num, den) {
    return Math.floor((2 * num + den) / (2 * den));
  }

  // Confetti: the sky turns one line down each frame while the figure cheers.
  function confetti() {
    var sky = ["  *   .   '  *  .", "  '  *   .   '  *", "  .   '  *   .  '"];
    var frames = [];
    for (var n = 0; n < 6; n++) {
      var lines = [];
      for (var r = 0; r < 3; r++) lines.push(sky[(r - (n % 3) + 3) % 3]);
      lines.push(n % 2 === 0 ? '    \\(^o^)/' : '    _(^o^)_');
      lines.push('      | |');
      frames.push(lines);
    }
    return frames;
  }

  // Lift-off: the ship waits three frames on the pad, lighting its engine, then climbs a
  // row a frame with its flame below it until it has left the sky.
  function liftOff() {
    var ship = ['   /\\', '  |  |', '  |  |', ' /|__|\\'];
    var frames = [];
    for (var n = 0; n < 14; n++) {
      var sky = ['', '', '', '', '', '', '', ''];
      var top = n <= 2 ? 4 : 4 - (n - 2);
      var rows = ship.slice();
      if (n >= 1) {
        rows.push(n % 2 === 1 ? '   **' : "   ''");
        rows.push(n % 2 === 1 ? "   ''" : '   ..');
      }
      rows.forEach(function (line, i) {
        var row = top + i;
        if (row >= 0 && row < sky.length) sky[row] = line;
      });
      sky.push(n >= 1 && n <= 3 ? '__.**.___' : '_________');
      frames.push(sky);
    }
    return frames;
  }

  // Fish tank: a big fish swims right over a small one swimming left, both crossing the
  // whole tank once in 30 frames.
  function fishTank() {
    var width = 22;
    var frames = [];
    for (var n = 0; n < 30; n++) {
      frames.push([
        repeat('~', width),
        placed('><(((o>', nearest(-7 * 30 + n * 29, 30), width),
        '',
        placed('<><', nearest(22 * 30 - n * 25, 30), width),
        '_,._.,_.,._,.__,._,_.,',
      ]);
    }
    return frames;
  }

  var wave = String.raw`
   o/ hi!
  /|
  / \
=
   o_ hi!
  /|
  / \
`;

  var dance = String.raw`
 \o/
  |
 / \
=
  o/
 <|
 / >
=
 \o/
  |
 | |
=
 \o
  |>
 < \
`;

  var cat = String.raw`
 /\_/\
( o.o )/
 > ^ <
=
 /\_/\
( o.o )~
 > ^ <
=
 /\_/\
( -.- )\
 > ^ <
=
 /\_/\
( o.o )~
 > ^ <
`;

  var heartBig = String.raw`
  _  _
 / \/ \
|      |
 \    /
  \  /
   \/
`;

  var heartSmall = String.raw`

  _  _
 ( \/ )
  \  /
   \/
`;

  var coffee = String.raw`
   ( (
    ) )
 ........
 |      |]
 \      /
  '----'
=
    ) )
   ( (
 ........
 |      |]
 \      /
  '----'
`;

  var thinking = String.raw`
  ___
 (o.o)
=
  ___
 (o.o)  .
=
  ___
 (o.o)  . .
=
  ___
 (o.o)  . . .
`;

  var lol = String.raw`
L   L
  O
=
  O
L   L
`;

  // The heart beats twice and rests: big, small, big, then small while it waits.
  var big = drawn(heartBig)[0];
  var small = drawn(heartSmall)[0];

  var list = [
    { id: 'wave', name: 'Wave', ms: 400, frames: drawn(wave) },
    { id: 'dance', name: 'Dance', ms: 300, frames: drawn(dance) },
    { id: 'cat', name: 'Cat', ms: 500, frames: drawn(cat) },
    { id: 'heart', name: 'Heart', ms: 220, frames: [big, small, big, small, small, small] },
    { id: 'coffee', name: 'Coffee', ms: 450, frames: drawn(coffee) },
    { id: 'thinking', name: 'Thinking', ms: 450, frames: drawn(thinking) },
    { id: 'lol', name: 'LOL', ms: 300, frames: drawn(lol) },
    { id: 'party', name: 'Party', ms: 300, frames: confetti() },
    { id: 'rocket', name: 'Rocket', ms: 220, frames: liftOff() },
    { id: 'fish', name: 'Fish', ms: 160, frames: fishTank() },
  ];

  // Every frame of a GIF gets the line count of its tallest frame and every line the width
  // of its longest line, so the art does not move while it plays.
  function padded(frames) {
    var height = 0;
    var width = 0;
    frames.forEach(function (lines) {
      height = Math.max(height, lines.length);
      lines.forEach(function (line) { width = Math.max(width, line.length); });
    });
    return frames.map(function (lines) {
      var out = [];
      for (var i = 0; i < height; i++) {
        var line = lines[i] || '';
        out.push(line + repeat(' ', width - line.length));
      }
      return out.join('\n');
    });
  }

  // No prototype: an id from a message such as "constructor" must find nothing.
  var byId = Object.create(null);
  list = list.map(function (g) {
    var gif = Object.freeze({ id: g.id, name: g.name, ms: g.ms, frames: Object.freeze(padded(g.frames)) });
    byId[gif.id] = gif;
    return gif;
  });
  return Object.freeze({ list: Object.freeze(list), byId: Object.freeze(byId) });
})();
