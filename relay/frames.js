'use strict';
// The table from frame type to its handler. Each row says who may send the frame
// (`who`), checks its shape before anything else runs (`check`: the text for the
// client's `error`, or null), and handles it (`run`). Rows marked `refuse: 'deny'` are
// sign-ins, whose malformed frames are answered with `denied`.
//
// who: 'new' before sign-in only, 'any' before or after, 'member' signed-in members,
// 'admin' the owner's tools, 'signed' either of the last two.
const signin = require('./handlers/signin.js');
const messages = require('./handlers/messages.js');
const owner = require('./handlers/owner.js');
const spoken = require('./handlers/spoken.js');

const FRAMES = Object.freeze(Object.assign(Object.create(null), signin.FRAMES, messages.FRAMES, owner.FRAMES, spoken.FRAMES));

function allowed(who, state) {
  if (who === 'any') return state === 'new' || state === 'member' || state === 'admin';
  if (who === 'new') return state === 'new';
  if (who === 'signed') return state === 'member' || state === 'admin';
  return state === who;
}

module.exports = { FRAMES, DENIED: signin.DENIED, allowed };
