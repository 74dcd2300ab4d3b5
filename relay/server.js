#!/usr/bin/env node
'use strict';
// Starts the relay: node relay/server.js
//   PORT       port to listen on (default 8787; 0 takes any free port)
//   HOST       address to listen on (default 127.0.0.1)
//   OWNER_KEY  the network owner's signing public key (node tools/owner.js key prints it)
//   STATE_DIR  folder of the state file (default relay-state in the working folder)
// Prints "mosswire relay listening on HOST:PORT" once it accepts connections.
const path = require('path');
const P = require('../web/protocol.js');
const L = require('./limits.js');
const { raiseLimit } = require('./descriptors.js');

function fail(msg) {
  process.stderr.write('mosswire relay: ' + msg + '\n');
  process.exit(2);
}

function settings(env) {
  const port = env.PORT === undefined || env.PORT === '' ? 8787 : Number(env.PORT);
  if (!Number.isInteger(port) || port < 0 || port > 65535) fail('PORT must be a port number from 0 to 65535, not "' + env.PORT + '"');
  const host = env.HOST || '127.0.0.1';
  let ownerKey = (env.OWNER_KEY || '').trim();
  if (ownerKey && !(P.isB64(ownerKey, P.PUB, P.PUB) && ownerKey[0] === 'B')) {
    fail('OWNER_KEY must be the owner\'s signing public key: 88 Base64 characters starting with B (node tools/owner.js key prints it)');
  }
  const stateDir = path.resolve(env.STATE_DIR || 'relay-state');
  return { port, host, ownerKey: ownerKey || null, stateDir };
}

function say(msg) {
  process.stdout.write('mosswire relay: ' + msg + '\n');
}

// Raises the descriptor limit where it may and says how many connections fit.
function connectionRoom() {
  const fds = raiseLimit();
  if (fds.soft === null || fds.soft === Infinity) {
    say('descriptor limit ' + (fds.soft === Infinity ? 'unlimited' : 'unknown') + (fds.error ? ' (' + fds.error + ')' : ''));
    return 0;
  }
  const room = Math.max(16, fds.soft - L.SPARE_FDS);
  say('descriptor limit ' + fds.soft + (fds.raised ? ' (raised to the hard limit)' : fds.soft < fds.hard ? ' (could not raise it to ' + fds.hard + ': ' + fds.error + ')' : '') +
    ', so it holds up to ' + room + ' connections, of which ' + Math.min(L.MAX_PENDING, room) + ' may be waiting to sign in');
  return room;
}

// Opens the state file; a relay that cannot keep state still runs, and says so.
function openState(dir, owner) {
  const log = (...a) => console.error(...a);
  const { State } = require('./state.js');
  const state = new State(dir, owner, log);
  try {
    const saved = state.open();
    return { state, saved };
  } catch (e) {
    if (e.unloadable) log('relay: ' + e.message + '. ' + dir + ' was not touched.');
    log('relay: cannot keep state in ' + dir + (e.unloadable ? '' : ' (' + e.message + ')') +
      '; names, used invites and removals are remembered only until the relay stops');
    state.closeQuietly();
    return { state: null, saved: null };
  }
}

async function main() {
  let relay;
  let kept = { state: null, saved: null };
  try {
    const s = settings(process.env);
    const { createRelay } = require('./relay.js');
    const maxConnections = connectionRoom();
    if (s.ownerKey) kept = openState(s.stateDir, s.ownerKey);
    relay = createRelay({ ownerKey: s.ownerKey, state: kept.state, saved: kept.saved, maxConnections });
    const addr = await relay.listen(s.port, s.host);
    const host = addr.family === 'IPv6' ? '[' + addr.address + ']' : addr.address;
    process.stdout.write('mosswire relay listening on ' + host + ':' + addr.port + '\n');
    if (!s.ownerKey) process.stdout.write('mosswire relay: no OWNER_KEY set, so every sign-in is refused\n');
  } catch (e) {
    fail(e.code === 'EADDRINUSE' ? 'that port is already in use (' + e.message + ')' : e.message);
  }
  const stop = () => relay.close().then(() => {
    if (kept.state) kept.state.closeQuietly();
    process.exit(0);
  });
  process.on('SIGINT', stop);
  process.on('SIGTERM', stop);
}

main();
