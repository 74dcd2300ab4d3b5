'use strict';
// The relay bench/window_bench.cpp's programs talk through: relay/server.js on a free
// loopback port, with an owner made for the occasion. Prints "relay PORT", then one
// "invite CODE" line for each member asked for; runs until SIGTERM, or until the
// benchmark that started it is gone, and takes the relay with it.
//   node bench/window-relay.js MEMBERS
const { startRelay } = require('../tests/relay/helpers.js');
const { makeOwner, longInvite } = require('../tests/browser/harness.js');

(async () => {
  const owner = await makeOwner();
  const relay = await startRelay({ ownerKey: owner.keys.sigPub });
  const lines = ['relay ' + relay.port];
  for (let i = 0; i < Number(process.argv[2] || 1); i++) lines.push('invite ' + await longInvite(owner));
  process.stdout.write(lines.join('\n') + '\n');
  const parent = process.ppid;
  const end = async () => { await relay.stop(); process.exit(0); };
  process.on('SIGTERM', end);
  setInterval(() => { if (process.ppid !== parent) end(); }, 1000);
})().catch((e) => { console.error(e); process.exit(1); });
