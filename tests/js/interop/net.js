'use strict';
// Shared by the protocol tests: loads the page's protocol script the way the relay does and
// builds a small network (owner, invited members) with it.
const path = require('path');

const P = require(path.join(__dirname, '..', '..', '..', 'web', 'protocol.js'));

async function makeOwner(name = 'owner') {
  const keys = await P.generateKeys();
  const cert = await P.ownerCert(keys, name);
  const info = await P.verifyCert(cert, keys.sigPub);
  return { keys, cert, info, pub: keys.sigPub };
}

async function makeMember(owner, name, hours = 24) {
  const keys = await P.generateKeys();
  const inv = await P.makeInvite(owner.cert, owner.keys, hours);
  const cert = await P.acceptInvite(inv, keys, name);
  const info = await P.verifyCert(cert, owner.pub);
  if (!info) throw new Error('fixture member failed verifyCert');
  return { keys, cert, info, inv };
}

// A member record signed by the invite key with a chosen time, as a client with a wrong
// clock (or a forger holding the invite key) would make it.
async function memberAt(inv, keys, name, at) {
  const m = { name, sig: keys.sigPub, ecdh: keys.ecdhPub, at };
  return { m, by: inv.g, s: await P.sign(inv.k, ['msw-join', m]) };
}

module.exports = { P, makeOwner, makeMember, memberAt };
