'use strict';
// Drives tests/js/interop/peer.py, the Python implementation of the protocol primitives,
// as one child process answering one JSON line per request.
const { spawn, spawnSync } = require('child_process');
const path = require('path');
const readline = require('readline');

const PYTHON = '/usr/bin/python3';

// Why the peer cannot run, or null when it can.
function unavailable() {
  const r = spawnSync(PYTHON, ['-c', 'import cryptography, cryptography.hazmat.primitives.keywrap'], { encoding: 'utf8' });
  if (r.error) return PYTHON + ' cannot be started: ' + r.error.message;
  if (r.status !== 0) return PYTHON + ' lacks the cryptography package (Debian python3-cryptography): ' + r.stderr.trim();
  return null;
}

function startPeer() {
  const child = spawn(PYTHON, [path.join(__dirname, 'peer.py')], { stdio: ['pipe', 'pipe', 'inherit'] });
  const waiting = [];
  readline.createInterface({ input: child.stdout }).on('line', (line) => {
    const next = waiting.shift();
    if (next) next(JSON.parse(line));
  });
  child.on('exit', (code) => {
    while (waiting.length) waiting.shift()({ err: 'peer.py exited with ' + code });
  });
  // Requests are answered in order, one line each.
  function call(op, args = {}) {
    return new Promise((resolve, reject) => {
      waiting.push((answer) => (answer.err ? reject(new Error('peer.py ' + op + ': ' + answer.err)) : resolve(answer.ok)));
      child.stdin.write(JSON.stringify({ op, ...args }) + '\n');
    });
  }
  function close() {
    child.stdin.end();
  }
  return { call, close };
}

module.exports = { startPeer, unavailable };
