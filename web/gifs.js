// ASCII-art GIFs that members can send. A GIF travels as its id only; every copy of
// mosswire draws it from this list, so a GIF can never carry anything but these frames.
// Each has an id, a display name, the time per frame in ms, and its frames (several lines).
var MswGifs = (function () {
  'use strict';
  var list = [
    {
      id: 'wave',
      name: 'Wave',
      ms: 220,
      frames: [
        '  o/ \n /|  \n / \\ ',
        '  o_ \n /|  \n / \\ ',
        '  o/ \n /|  \n / \\ ',
        ' \\o  \n  |\\ \n / \\ ',
      ],
    },
    {
      id: 'coffee',
      name: 'Coffee',
      ms: 300,
      frames: [
        '   (  \n    ) \n [___]',
        '    ) \n   (  \n [___]',
      ],
    },
  ];
  var byId = {};
  list.forEach(function (g) { byId[g.id] = g; });
  return Object.freeze({ list: Object.freeze(list), byId: Object.freeze(byId) });
})();
