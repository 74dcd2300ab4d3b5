#!/usr/bin/env node
'use strict';
// Writes a C++ header with a small release signed the way scripts/release.sh signs one
// (tools/owner-lib.js's signBytes with tests/keys/release-owner.json), for native tests that
// run where no Node.js does (under Wine): the asset's bytes, a SHA256SUMS.txt naming them
// under every platform's asset name, its signature by the tests' owner, a signature of the
// same list by another key, and a list the owner signed that names only another file.
//
//   node tests/keys/signed_release.js OUT.h
const crypto = require('crypto');
const fs = require('fs');
const path = require('path');
const P = require('../../web/protocol.js');
const O = require('../../tools/owner-lib.js');

const ASSETS = ['mosswire.exe', 'mosswire-linux-x86_64', 'mosswire-test-asset'];

function literal(text) {
  return JSON.stringify(text); // ASCII only here, which C++ reads the same way
}

async function main(out) {
  const owner = JSON.parse(fs.readFileSync(path.join(__dirname, 'release-owner.json'), 'utf8'));
  const other = await P.generateKeys();
  const asset = 'MZ a stand-in for a release asset, signed for the tests\n'.repeat(40);
  const digest = crypto.createHash('sha256').update(asset).digest('hex');
  const list = ASSETS.map((name) => digest + '  ' + name + '\n').join('');
  const bytes = Buffer.from(list);
  const foreign = digest + '  other.txt\n';
  const text = [
    '// Made by tests/keys/signed_release.js; do not edit.',
    '#pragma once',
    'static const char signed_release_owner_key[] = ' + literal(owner.sigPub) + ';',
    'static const char signed_release_other_key[] = ' + literal(other.sigPub) + ';',
    'static const char signed_release_asset[] = ' + literal(asset) + ';',
    'static const char signed_release_list[] = ' + literal(list) + ';',
    'static const char signed_release_sig[] = ' + literal(await O.signBytes(owner, bytes)) + ';',
    'static const char signed_release_other_sig[] = ' + literal(await O.signBytes(other, bytes)) + ';',
    'static const char signed_release_foreign_list[] = ' + literal(foreign) + ';',
    'static const char signed_release_foreign_sig[] = ' + literal(await O.signBytes(owner, Buffer.from(foreign))) + ';',
    '',
  ].join('\n');
  fs.mkdirSync(path.dirname(out), { recursive: true });
  fs.writeFileSync(out, text);
}

main(process.argv[2]).catch((e) => {
  process.stderr.write('signed_release.js: ' + (e && e.message ? e.message : e) + '\n');
  process.exit(1);
});
