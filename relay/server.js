#!/usr/bin/env node
'use strict';
// Starts the relay: node relay/server.js
//   PORT       port to listen on (default 8787; 0 takes any free port)
//   HOST       address to listen on (default 127.0.0.1)
//   OWNER_KEY  the network owner's signing public key (node tools/owner.js key prints it)
// Prints "mosswire relay listening on HOST:PORT" once it accepts connections.
const P = require('../web/protocol.js');

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
  return { port, host, ownerKey: ownerKey || null };
}

async function main() {
  let relay;
  try {
    const s = settings(process.env);
    const { createRelay } = require('./relay.js');
    relay = createRelay({ ownerKey: s.ownerKey });
    const addr = await relay.listen(s.port, s.host);
    const host = addr.family === 'IPv6' ? '[' + addr.address + ']' : addr.address;
    process.stdout.write('mosswire relay listening on ' + host + ':' + addr.port + '\n');
    if (!s.ownerKey) process.stdout.write('mosswire relay: no OWNER_KEY set, so every sign-in is refused\n');
  } catch (e) {
    fail(e.code === 'EADDRINUSE' ? 'that port is already in use (' + e.message + ')' : e.message);
  }
  const stop = () => relay.close().then(() => process.exit(0));
  process.on('SIGINT', stop);
  process.on('SIGTERM', stop);
}

main();
