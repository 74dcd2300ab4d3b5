'use strict';
// The open-descriptor limit bounds how many sockets the relay can hold. Node.js has no
// call to raise it, so at start the relay asks util-linux's prlimit to lift its own soft
// limit to the hard one (allowed to any process), and reads back what it got.
const fs = require('fs');
const { execFileSync } = require('child_process');

function readLimit() {
  try {
    const text = fs.readFileSync('/proc/self/limits', 'utf8');
    const m = /^Max open files\s+(\d+|unlimited)\s+(\d+|unlimited)/m.exec(text);
    if (!m) return null;
    const n = (v) => (v === 'unlimited' ? Infinity : Number(v));
    return { soft: n(m[1]), hard: n(m[2]) };
  } catch (e) {
    return null;
  }
}

// Gives { soft, hard, raised, error } after trying to raise the soft limit.
function raiseLimit() {
  const before = readLimit();
  if (!before) return { soft: null, hard: null, raised: false, error: 'the limit cannot be read here' };
  if (before.soft >= before.hard) return Object.assign(before, { raised: false });
  try {
    const hard = before.hard === Infinity ? 'unlimited' : String(before.hard);
    execFileSync('prlimit', ['--pid', String(process.pid), '--nofile=' + hard + ':' + hard], { stdio: 'ignore', timeout: 5000 });
  } catch (e) {
    return Object.assign(before, { raised: false, error: e.code === 'ENOENT' ? 'prlimit is not installed' : e.message });
  }
  const after = readLimit() || before;
  return Object.assign(after, { raised: after.soft > before.soft });
}

module.exports = { raiseLimit, readLimit };
