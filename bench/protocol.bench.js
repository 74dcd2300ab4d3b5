#!/usr/bin/env node
'use strict';
// Prints how long the protocol's costly operations take on this machine:
//   node bench/protocol.bench.js [--rounds N]
// seal for 1, 20 and 200 recipients, first with peers the box has never met (one key
// agreement each) and again with its derivation cache warm; open; verifyCert; and one
// spoken-code lookup over 500 entries (one 2,000,000-round PBKDF2 plus AES-GCM attempts).
// Figures only: nothing here passes or fails.
const path = require('path');
const P = require(path.join(__dirname, '..', 'web', 'protocol.js'));
const { median } = require('./figures.js');

const args = process.argv.slice(2);
const ROUNDS = Math.max(1, Number(args[args.indexOf('--rounds') + 1]) || 5);

async function time(fn) {
  const t0 = performance.now();
  await fn();
  return performance.now() - t0;
}

function row(label, ms, extra = '') {
  console.log(label.padEnd(46) + ms.toFixed(2).padStart(10) + ' ms' + (extra ? '   ' + extra : ''));
}

async function person() {
  const keys = await P.generateKeys();
  return { keys, id: await P.idOf(keys.sigPub) };
}

async function benchSeal(sender, peers, n) {
  const recipients = peers.slice(0, n).map((p) => ({ id: p.id, ecdh: p.keys.ecdhPub }));
  const payload = { k: 'msg', id: P.randomHex(12), text: 'x'.repeat(200), at: Date.now() };
  const cold = [];
  const warm = [];
  for (let r = 0; r < ROUNDS; r++) {
    // A new box has an empty cache: every recipient costs one ECDH and one HKDF.
    const box = P.createBox(sender.id, sender.keys.ecdhPriv);
    cold.push(await time(() => box.seal(payload, recipients)));
    warm.push(await time(() => box.seal(payload, recipients)));
  }
  row(`seal, ${n} recipient${n === 1 ? '' : 's'}, fresh peers`, median(cold), `(${(median(cold) / n).toFixed(3)} ms each)`);
  row(`seal, ${n} recipient${n === 1 ? '' : 's'}, warm cache`, median(warm), `(${(median(warm) / n).toFixed(3)} ms each)`);
}

async function main() {
  console.log(`mosswire protocol benchmark: node ${process.version}, median of ${ROUNDS} rounds\n`);
  const owner = await person();
  const ownerCert = await P.ownerCert(owner.keys, 'owner');
  const peers = [];
  for (let i = 0; i < 200; i++) peers.push(await person());
  const sender = await person();

  for (const n of [1, 20, 200]) await benchSeal(sender, peers, n);

  // open: the recipient's box, cold (first message from this sender) and warm.
  const sealed = await P.createBox(sender.id, sender.keys.ecdhPriv).seal({ k: 'msg', text: 'hello' }, [{ id: peers[0].id, ecdh: peers[0].keys.ecdhPub }]);
  const env = { from: sender.id, key: sealed.keys[peers[0].id], iv: sealed.iv, ct: sealed.ct };
  const openCold = [];
  const openWarm = [];
  for (let r = 0; r < ROUNDS; r++) {
    const box = P.createBox(peers[0].id, peers[0].keys.ecdhPriv);
    openCold.push(await time(() => box.open(env, sender.keys.ecdhPub)));
    const many = [];
    for (let i = 0; i < 20; i++) many.push(await time(() => box.open(env, sender.keys.ecdhPub)));
    openWarm.push(median(many));
  }
  row('open, first message from a sender', median(openCold));
  row('open, warm cache', median(openWarm));

  // verifyCert of an owner certificate and of an invited member's.
  const inv = await P.makeInvite(ownerCert, owner.keys, 24);
  const memberCert = await P.acceptInvite(inv, peers[1].keys, 'member');
  const vOwner = [];
  const vMember = [];
  for (let r = 0; r < ROUNDS * 4; r++) {
    vOwner.push(await time(() => P.verifyCert(ownerCert, owner.keys.sigPub)));
    vMember.push(await time(() => P.verifyCert(memberCert, owner.keys.sigPub)));
  }
  row('verifyCert, owner certificate', median(vOwner));
  row('verifyCert, member certificate', median(vMember));

  // Spoken lookup: 499 entries that are not this code, then the one that is.
  const invite = await P.makeShortInvite(owner.keys.sigPriv, 168);
  const { code, entry } = await P.makeSpoken(owner.keys.sigPriv, owner.keys.sigPub, invite, 168);
  const entries = [];
  for (let i = 0; i < 499; i++) {
    entries.push({ id: P.randomHex(8), exp: entry.exp, iv: P.toB64(crypto.getRandomValues(new Uint8Array(12))), ct: P.toB64(crypto.getRandomValues(new Uint8Array(133))), s: entry.s });
  }
  entries.push(entry);
  const lookups = [];
  for (let r = 0; r < Math.min(ROUNDS, 3); r++) {
    let found;
    lookups.push(await time(async () => (found = await P.openSpoken(code, owner.keys.sigPub, entries))));
    if (found !== invite) throw new Error('the spoken lookup did not find its entry');
  }
  const missed = await time(() => P.openSpoken(code, owner.keys.sigPub, entries.slice(0, 1)));
  row('spoken lookup, 500 entries (match last)', median(lookups));
  row('  of which one 2,000,000-round derivation', missed, '(lookup over one non-matching entry)');
  row('  of which 500 AES-GCM attempts', Math.max(0, median(lookups) - missed));
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
