'use strict';
// What the owner's tools share: where the owner key file and the owner certificate
// live, making invite codes, signing in to the relay as the owner, and the removal
// list the owner last published.
const fs = require('fs');
const os = require('os');
const path = require('path');
const P = require('../web/protocol.js');
const { FrameSocket } = require('./frames.js');

const REPO = path.join(__dirname, '..');

class UserError extends Error {}

function home() {
  return process.env.HOME || os.homedir();
}
function ownerDir() {
  return path.join(home(), '.mosswire');
}
function ownerFile() {
  return path.join(ownerDir(), 'owner.json');
}
// The owner's copy of the removal list it published last (see nextRemovals).
function removalsFile() {
  return path.join(ownerDir(), 'removals.json');
}
// Where the build reads the owner certificate for config.js.
function certFile() {
  return process.env.MOSSWIRE_OWNER_CERT_FILE || path.join(REPO, 'config', 'owner-cert.json');
}
function serverUrl() {
  return process.env.MOSSWIRE_SERVER || 'ws://127.0.0.1:8787';
}

function b64url(bytes) {
  return P.b64url(bytes);
}

// Writes a file that only the owner may read, replacing any older one atomically.
function writePrivate(file, text) {
  fs.mkdirSync(path.dirname(file), { recursive: true, mode: 0o700 });
  const tmp = file + '.tmp';
  fs.writeFileSync(tmp, text, { mode: 0o600 });
  fs.chmodSync(tmp, 0o600);
  fs.renameSync(tmp, file);
}

function readOwner() {
  const file = ownerFile();
  let text;
  try {
    text = fs.readFileSync(file, 'utf8');
  } catch (e) {
    if (e.code === 'ENOENT') throw new UserError('There is no owner key at ' + file + '. Make one with: node tools/owner.js init');
    throw new UserError("Couldn't read the owner key file " + file + ': ' + e.message);
  }
  let k;
  try {
    k = JSON.parse(text);
  } catch (e) {
    throw new UserError('The owner key file ' + file + ' is not valid JSON.');
  }
  if (!k || typeof k !== 'object' || !P.isB64(k.sigPub, P.PUB, P.PUB) || typeof k.sigPriv !== 'string' || k.sigPriv.length < 100 || k.sigPriv.length > 400) {
    throw new UserError('The owner key file ' + file + ' needs sigPub (88 Base64 characters) and sigPriv.');
  }
  return k;
}

// The owner certificate: the one in the key file, or one made for this run when the
// file was written by other tooling and holds only the key pair.
async function ownerCertOf(keys) {
  if (keys.cert && (await P.verifyCert(keys.cert, keys.sigPub))) return keys.cert;
  const pair = keys.ecdhPub && keys.ecdhPriv ? keys : await P.generateKeys();
  const set = { sigPub: keys.sigPub, sigPriv: keys.sigPriv, ecdhPub: pair.ecdhPub, ecdhPriv: pair.ecdhPriv };
  return P.ownerCert(set, keys.name || 'owner');
}

// The configured owner certificate when it belongs to this owner key, else null.
async function configuredCert(keys) {
  let cert;
  try {
    cert = JSON.parse(fs.readFileSync(certFile(), 'utf8'));
  } catch (e) {
    return null;
  }
  if (!cert || !cert.m || cert.m.sig !== keys.sigPub) return null;
  return (await P.verifyCert(cert, keys.sigPub)) ? cert : null;
}

// Leaves an identical file untouched so that a build depending on it has nothing to redo.
// Answers the file's path and whether it changed.
function writeCert(cert) {
  const file = certFile();
  const text = JSON.stringify({ m: cert.m, s: cert.s }, null, 2) + '\n';
  let old = null;
  try {
    old = fs.readFileSync(file, 'utf8');
  } catch (e) {
    old = null;
  }
  if (old !== text) {
    fs.mkdirSync(path.dirname(file), { recursive: true });
    fs.writeFileSync(file, text);
  }
  return { file, changed: old !== text };
}

// What the owner must hear whenever the build's owner certificate is new: a program keeps
// the certificate it was built with, and one built before this certificate refuses this
// network's short invite codes and its releases.
const BUILD_AGAIN = [
  'mosswire has to be built again with this certificate before it belongs to this network: a copy built',
  'before it refuses the short invite codes (MSW2.) and the releases of this owner key. Build and start it',
  'with: bash scripts/run.sh (or rebuild with cmake --build build); give members only copies built after this.',
];

// An invite code: short when the build carries this owner's certificate (the joining
// program then knows the inviter), else the long code that carries the certificate.
async function inviteCode(keys, days) {
  if (await configuredCert(keys)) return P.makeShortInvite(keys.sigPriv, days * 24);
  const inv = await P.makeInvite(await ownerCertOf(keys), keys, days * 24);
  return P.encodeInvite(inv);
}

// Signs in to the relay with the owner key, under its own signing context so that no
// member's sign-in signature can be replayed here and the owner never joins as a member.
async function adminSession(keys, url = serverUrl()) {
  const s = await FrameSocket.open(url);
  try {
    const hello = await s.next('hello', 15000);
    if (!hello.net) throw new UserError('The relay at ' + url + " has no OWNER_KEY set. Start it with OWNER_KEY=$(node tools/owner.js key).");
    if (hello.net !== keys.sigPub) throw new UserError('The relay at ' + url + ' belongs to another network (its OWNER_KEY is not this owner key).');
    s.send({ t: 'admin', sig: await P.sign(keys.sigPriv, ['msw-admin', hello.nonce]) });
    const r = await s.next(['admin_ok', 'denied'], 15000);
    if (r.t === 'denied') throw new UserError('The relay refused the owner key: ' + r.msg);
    s.hello = hello;
    s.removals = r.removals || null;
    return s;
  } catch (e) {
    s.close();
    throw e;
  }
}

// Sends a frame and waits for its confirmation; an `error` becomes a UserError.
async function request(session, frame, okType, timeout = 15000) {
  session.send(frame);
  const r = await session.next([okType, 'error'], timeout);
  if (r.t === 'error') throw new UserError('The relay said: ' + r.msg);
  return r;
}

// The kept copy counts only when this owner key signed it (a copy left from an earlier
// network is ignored).
async function readKeptRemovals(ownerKey) {
  let r;
  try {
    r = JSON.parse(fs.readFileSync(removalsFile(), 'utf8'));
  } catch (e) {
    return null;
  }
  return P.checkRemovals(r, ownerKey);
}

// The next removal list. Its version must beat every list any client holds, and the
// relay forgets its list when it restarts, so the owner keeps a copy of the last one it
// published and takes the higher version and the union of ids of that copy and the
// relay's.
async function publishRemovals(session, keys, addIds) {
  const kept = await readKeptRemovals(keys.sigPub);
  const known = [kept, session.removals].filter(Boolean);
  const v = Math.max(0, ...known.map((r) => r.v)) + 1;
  const ids = [];
  for (const r of known) for (const id of r.ids) if (!ids.includes(id)) ids.push(id);
  for (const id of addIds) if (!ids.includes(id)) ids.push(id);
  if (ids.length > 5000) throw new UserError('A removal list holds at most 5000 members.');
  const list = await P.signRemovals(keys, v, ids);
  await request(session, { t: 'removals', removals: list }, 'ok');
  writePrivate(removalsFile(), JSON.stringify(list) + '\n');
  session.removals = list;
  return list;
}

// A release's signature: the Base64 of the 64-byte ECDSA P-256 signature (r then s, as
// WebCrypto makes it) over the exact bytes given, one line. The program checks the
// SHA256SUMS.txt of a release against it before it installs anything the list names.
async function signBytes(keys, bytes) {
  const subtle = globalThis.crypto.subtle;
  const key = await subtle.importKey('pkcs8', P.fromB64(keys.sigPriv), { name: 'ECDSA', namedCurve: 'P-256' }, false, ['sign']);
  const sig = await subtle.sign({ name: 'ECDSA', hash: 'SHA-256' }, key, bytes);
  return P.toB64(sig) + '\n';
}

module.exports = {
  REPO,
  UserError,
  ownerDir,
  ownerFile,
  removalsFile,
  certFile,
  serverUrl,
  b64url,
  writePrivate,
  readOwner,
  ownerCertOf,
  configuredCert,
  writeCert,
  BUILD_AGAIN,
  inviteCode,
  adminSession,
  request,
  publishRemovals,
  signBytes,
};
