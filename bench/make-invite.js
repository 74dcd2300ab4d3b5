'use strict';
// Prints a long invite code (MSW1.) from an owner made for the occasion, valid for a day:
// enough for the memory benchmark's first run, which needs no relay to accept it.
const P = require('../web/protocol.js');

(async () => {
  const keys = await P.generateKeys();
  const cert = await P.ownerCert(keys, 'owner');
  const inv = await P.makeInvite(cert, keys, 24);
  process.stdout.write('MSW1.' + Buffer.from(JSON.stringify({ g: inv.g, k: inv.k })).toString('base64url') + '\n');
})();
