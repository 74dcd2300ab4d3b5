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

// Parses one WebSocket message into a frame object, or gives the reason it is not one.
function parseFrame(data) {
  let frame;
  try {
    frame = JSON.parse(typeof data === 'string' ? data : data.toString('utf8'));
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
  if (!P.isB64(f.sig, P.SIG, P.SIG)) return 'sig must be ' + P.SIG + ' Base64 characters.';
  return null;
}

// Lists a client hands over at sign-in may come as an array or, for the directory, as
// the client's own id-to-certificate object; anything else counts as empty.
function listOf(v, max) {
  if (Array.isArray(v)) return v.slice(0, max);
  if (isObject(v)) return Object.values(v).slice(0, max);
  return [];
}

module.exports = { isObject, parseFrame, checkRef, checkSend, checkAck, checkAuth, listOf };
