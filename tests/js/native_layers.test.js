'use strict';
// The native layers include only what they may (README, Layout): a portable file that
// reaches into a platform folder, or host and services including each other, fails here.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const path = require('path');

const ROOT = path.join(__dirname, '..', '..');

// Folder (relative to the repository) -> the include prefixes its files may use.
// Generated and same-folder headers (no slash) are always allowed.
const RULES = [
  ['app/main.cpp', ['app/host/', 'app/services/', 'app/common/']],
  ['app/host/', ['app/host/', 'app/platform/', 'app/common/', 'webview/']],
  ['app/services/', ['app/services/', 'app/platform/', 'app/common/']],
  ['app/common/', ['app/common/']],
  ['webview/', ['app/common/']],
];

function sources(dir) {
  const full = path.join(ROOT, dir);
  if (fs.statSync(full).isFile()) return [dir];
  return fs.readdirSync(full, { withFileTypes: true }).flatMap((e) =>
    e.isDirectory() ? sources(path.join(dir, e.name)) : /\.(h|cpp)$/.test(e.name) ? [path.join(dir, e.name)] : []);
}

function projectIncludes(file) {
  const text = fs.readFileSync(path.join(ROOT, file), 'utf8');
  return [...text.matchAll(/^#include "([^"]+)"/gm)].map((m) => m[1]);
}

test('portable code includes only the layers below it and the platform headers', () => {
  let checked = 0;
  for (const [dir, allowed] of RULES) {
    for (const file of sources(dir)) {
      for (const inc of projectIncludes(file)) {
        checked++;
        if (!inc.includes('/')) continue;
        const platformFolder = inc.startsWith('app/platform/') && inc.slice('app/platform/'.length).includes('/');
        assert.ok(!platformFolder, `${file} includes ${inc}, a file of one platform`);
        assert.ok(allowed.some((p) => inc.startsWith(p)), `${file} includes ${inc}`);
      }
    }
  }
  assert.ok(checked > 50, 'the scan found the includes');
});

// A platform folder's web view engine builds on the portable part of the web view.
test('a platform folder includes only the platform headers, its own files, app/common and webview', () => {
  const base = path.join(ROOT, 'app/platform');
  let engines = 0;
  for (const system of fs.readdirSync(base, { withFileTypes: true }).filter((e) => e.isDirectory())) {
    const own = `app/platform/${system.name}/`;
    for (const file of sources(own)) {
      for (const inc of projectIncludes(file)) {
        if (!inc.includes('/')) continue;
        const header = inc.startsWith('app/platform/') && !inc.slice('app/platform/'.length).includes('/');
        if (inc === 'webview/engine_base.h') engines++;
        assert.ok(header || inc.startsWith(own) || inc.startsWith('app/common/') || inc.startsWith('webview/'),
          `${file} includes ${inc}`);
      }
    }
  }
  assert.equal(engines, 2, 'each platform folder holds its engine');
});
