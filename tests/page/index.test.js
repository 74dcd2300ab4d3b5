'use strict';
// The page document itself: its security policy, script order, and every element the
// scripts rely on finding, read straight from web/index.html and web/style.css.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');

const html = fs.readFileSync(path.join(__dirname, '../../web/index.html'), 'utf8');
const css = fs.readFileSync(path.join(__dirname, '../../web/style.css'), 'utf8');

function tagWithId(id) {
  const m = new RegExp(`<([a-z0-9]+)\\b[^>]*\\bid="${id}"[^>]*>`).exec(html);
  return m ? m[0] : null;
}

test('content security policy, directive by directive', () => {
  const m = /<meta http-equiv="Content-Security-Policy" content="([^"]+)">/.exec(html);
  assert.ok(m, 'a CSP meta element');
  const policy = Object.fromEntries(m[1].split(';').map((d) => d.trim().split(/\s+/)).map(([k, ...v]) => [k, v]));
  assert.deepEqual(policy['default-src'], ["'none'"]);
  assert.deepEqual(policy['script-src'], ["'self'"]);
  assert.deepEqual(policy['style-src'], ["'self'"]);
  assert.deepEqual(policy['img-src'], ["'self'", 'data:']);
  assert.deepEqual(policy['base-uri'], ["'none'"]);
  assert.deepEqual(policy['form-action'], ["'none'"]);
  for (const src of ['wss:', 'ws://localhost:*', 'ws://127.0.0.1:*', 'http://localhost:*', 'http://127.0.0.1:*', 'https://api.github.com']) {
    assert.ok(policy['connect-src'].includes(src), src);
  }
  assert.ok(!policy['connect-src'].includes('*') && !policy['connect-src'].includes('https:'), 'no blanket origins');
});

test('no inline script, style or handler anywhere', () => {
  assert.doesNotMatch(html, /\sstyle=/);
  assert.doesNotMatch(html, /<style/);
  assert.doesNotMatch(html, /\son[a-z]+=/);
  assert.doesNotMatch(html, /javascript:/);
  const scripts = [...html.matchAll(/<script\b([^>]*)>([\s\S]*?)<\/script>/g)];
  for (const s of scripts) assert.equal(s[2].trim(), '', 'script elements load files only');
  assert.deepEqual(scripts.map((s) => /src="([^"]+)"/.exec(s[1])[1]), ['config.js', 'protocol.js', 'vault.js', 'gifs.js', 'app.js']);
  assert.match(html, /<html lang="en" data-theme="kali">/);
  assert.match(html, /<meta charset="utf-8">/);
  assert.match(html, /<title>mosswire<\/title>/);
  assert.match(html, /<link rel="stylesheet" href="style.css">/);
});

test('every element the scripts look up exists, once', () => {
  const dir = path.join(__dirname, '../../web/app');
  const src = fs.readdirSync(dir).map((f) => fs.readFileSync(path.join(dir, f), 'utf8')).join('\n');
  const used = new Set([...src.matchAll(/\$\('([A-Za-z0-9]+)'\)/g)].map((m) => m[1]));
  assert.ok(used.size > 30, "the look-ups were found");
  for (const id of used) assert.equal((html.match(new RegExp(`\\bid="${id}"`, 'g')) || []).length, 1, id);
  for (const s of ['sWelcome', 'sSetPin', 'sUnlock', 'sUpdate', 'sGone', 'sMain']) assert.match(tagWithId(s), /^<section\b/, s);
  for (const hidden of ['joinMore', 'joinRow', 'updRow', 'banner', 'chatPane', 'annLocked', 'pingList', 'replyBar', 'modal', 'black']) {
    assert.match(tagWithId(hidden), /class="[^"]*\bhidden\b/, hidden + ' starts hidden');
  }
  for (const pin of ['newPin', 'newPin2', 'unlockPin', 'blackPin']) {
    assert.match(tagWithId(pin), /type="password" inputmode="numeric" maxlength="12"/, pin);
  }
});

test('five themes over one set of variables', () => {
  const block = (sel) => {
    const m = new RegExp(sel.replace(/[[\]"().*]/g, '\\$&') + '\\s*\\{([^}]*)\\}').exec(css);
    return m ? m[1] : '';
  };
  const vars = (text) => new Set([...text.matchAll(/(--[a-z0-9-]+)\s*:/g)].map((m) => m[1]));
  const base = vars(block(':root, [data-theme="kali"]'));
  const required = ['--bg', '--bg-2', '--panel', '--input', '--hover', '--active', '--line', '--line-strong', '--screen-bg',
    '--text', '--muted', '--faint', '--accent', '--accent-ink', '--accent-soft', '--ok', '--ok-soft', '--warn', '--danger',
    '--danger-soft', '--badge', '--badge-ink', '--font', '--mono', '--radius', '--radius-lg', '--pill', '--btn-shadow',
    '--av-radius', '--glow', '--scan', '--av-sat', '--av-light', '--av-fg-light', '--av-border-light', '--name-sat',
    '--name-light', '--t-open', '--t-close', '--n-open', '--n-close', '--sec', '--cursor', '--prompt', '--logo-bg',
    '--logo-fg', '--logo-border'];
  for (const v of required) assert.ok(base.has(v), v + ' on the root');
  for (const id of ['kali-light', 'matrix', 'amber', 'midnight']) {
    assert.ok(vars(block(`[data-theme="${id}"]`)).size > 10, id + ' sets its colours');
  }
  assert.match(block('[data-theme="midnight"]'), /--prompt:\s*none/);
  assert.match(block('.hidden'), /display:\s*none\s*!important/);
  assert.match(block('.black'), /z-index:\s*1000/);
  assert.match(block('.black'), /cursor:\s*none/);
  assert.match(block('.overlay'), /z-index:\s*50/);
  assert.match(block('.modal-card'), /max-width:\s*540px/);
  assert.match(block('.main'), /grid-template-columns:\s*260px 1fr/);
  assert.match(css, /@media \(prefers-reduced-motion: reduce\)/);
});
