'use strict';
// Shape checks for frames from clients. They run before a frame touches any state and
// answer with the text the client gets back in `error`, or null when the frame is fine.
// Signatures are checked later, by the network state, with the protocol module.
const P = require('../web/protocol.js');
const L = require('./limits.js');

const ID = new RegExp(P.ID_RE);
const REF_TYPES = new Set(['string', 'number']);

function isObject(v) {
  return v !== null && typeof v === 'object' && !Array.isArray(v);
}

// Counts the JSON values in a frame and how deep they nest, without parsing it, stopping
// once either passes its bound. Parsing a frame of a million small values takes seconds
// and hundreds of megabytes, while this walk over the bytes takes milliseconds: it counts
// the commas and colons outside strings, and the brackets.
function tooComplex(buf, maxValues, maxDepth) {
  let values = 0;
  let depth = 0;
  let inString = false;
  for (let i = 0; i < buf.length; i++) {
    const b = buf[i];
    if (inString) {
      if (b === 0x5c) i++; // a backslash escapes the next byte
      else if (b === 0x22) inString = false;
      continue;
    }
    if (b === 0x22) inString = true;
    else if (b === 0x2c || b === 0x3a) {
      if (++values > maxValues) return 'That frame holds too many values.';
    } else if (b === 0x7b || b === 0x5b) {
      if (++depth > maxDepth) return 'That frame nests too deeply.';
    } else if (b === 0x7d || b === 0x5d) depth--;
  }
  return null;
}

// Parses one WebSocket message into a frame object, or gives the reason it is not one.
// Frames from connections that have not signed in are always scanned first, and their
// nesting is bounded too; a member's deep nesting is only refused by the shape checks.
function parseFrame(data, unsigned) {
  let frame;
  const buf = typeof data === 'string' ? Buffer.from(data) : data;
  if (unsigned || buf.length > L.SCAN_ABOVE) {
    const bad = tooComplex(buf, L.MAX_VALUES, unsigned ? L.MAX_DEPTH : Infinity);
    if (bad) return { bad, heavy: true };
  }
  try {
    frame = JSON.parse(buf.toString('utf8'));
  } catch (e) {
    return { bad: 'That frame is not JSON.' };
  }
  if (!isObject(frame)) return { bad: 'A frame must be a JSON object.' };
  if (typeof frame.t !== 'string') return { bad: 'A frame needs a type in t.' };
  return { frame };
}

// The ref is echoed back untouched, so only a short string or number is taken.
function checkRef(ref) {
  if (ref === undefined) return null;
  if (!REF_TYPES.has(typeof ref)) return 'ref must be a string or a number.';
  if (typeof ref === 'string' && ref.length > L.MAX_REF) return 'ref is too long.';
  if (typeof ref === 'number' && !Number.isFinite(ref)) return 'ref must be finite.';
  return null;
}

function checkSend(f) {
  const refBad = checkRef(f.ref);
  if (refBad) return refBad;
  if (!P.isB64(f.iv, P.IV, P.IV)) return 'iv must be 16 Base64 characters.';
  if (!P.isB64(f.ct, 24, L.MAX_CT)) return 'ct must be Base64 ciphertext of at most ' + L.MAX_CT + ' characters.';
  if (!isObject(f.keys)) return 'keys must be an object from member id to wrapped key.';
  const ids = Object.keys(f.keys);
  if (ids.length === 0) return 'keys names no recipient.';
  if (ids.length > L.MAX_KEYS) return 'keys names more than ' + L.MAX_KEYS + ' recipients.';
  for (const id of ids) {
    if (!ID.test(id)) return 'keys holds something that is not a member id.';
    if (!P.isB64(f.keys[id], P.WRAPPED, P.WRAPPED)) return 'Every wrapped key must be ' + P.WRAPPED + ' Base64 characters.';
  }
  if (f.ttl !== undefined && f.ttl !== null) {
    if (typeof f.ttl !== 'number' || !Number.isFinite(f.ttl) || f.ttl <= 0) return 'ttl must be a positive number of milliseconds.';
  }
  return null;
}

function checkAck(f) {
  if (!Array.isArray(f.eids)) return 'eids must be a list.';
  if (f.eids.length > L.MAX_ACK) return 'eids holds more than ' + L.MAX_ACK + ' ids.';
  return null;
}

function checkAuth(f) {
  if (!isObject(f.cert)) return 'cert must be a certificate object.';
  if (!canonCert(f.cert)) return 'cert is not a membership certificate of at most ' + L.MAX_CERT + ' bytes.';
  if (!P.isB64(f.sig, P.SIG, P.SIG)) return 'sig must be ' + P.SIG + ' Base64 characters.';
  return null;
}

// A certificate cut down to the fields its signatures cover, which is all the relay
// keeps and passes on: anything else a sender added would travel to every member in
// every welcome. Null when the fields are not there or the result is too big.
function canonCert(cert, depth = 0) {
  const m = isObject(cert) ? cert.m : null;
  if (!isObject(m)) return null;
  const out = { m: { name: m.name, sig: m.sig, ecdh: m.ecdh, at: m.at }, s: cert.s };
  if (cert.by !== undefined && cert.by !== null) {
    const g = cert.by;
    if (!isObject(g)) return null;
    // Only the owner invites, so an honest chain is one link long; a longer one is kept
    // in shape for the signature check to refuse it.
    const up = depth < 4 ? canonCert(g.from, depth + 1) : null;
    if (!up) return null;
    out.by = { ik: g.ik, exp: g.exp, from: up.cert, s: g.s };
  }
  const text = JSON.stringify(out);
  return text.length <= L.MAX_CERT ? { cert: out, text } : null;
}

// Lists a client hands over at sign-in may come as an array or, for the directory, as
// the client's own id-to-certificate object; anything else counts as empty.
function listOf(v, max) {
  if (Array.isArray(v)) return v.slice(0, max);
  if (isObject(v)) return Object.values(v).slice(0, max);
  return [];
}

module.exports = { isObject, tooComplex, canonCert, parseFrame, checkRef, checkSend, checkAck, checkAuth, listOf };
