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

test('every screen and element id the scripts use', () => {
  const ids = [
    'app', 'sWelcome', 'joinCode', 'pasteRow', 'pasteBtn', 'joinMore', 'joinName', 'joinErr', 'joinRow', 'joinNext',
    'sSetPin', 'newPin', 'newPin2', 'setPinErr', 'setPinBack', 'setPinGo', 'sUnlock', 'unlockPin', 'unlockErr', 'unlockGo',
    'sUpdate', 'updTitle', 'updStatus', 'updNotes', 'updRow', 'updSkip', 'sGone', 'goneTitle', 'goneMsg', 'goneErase',
    'sMain', 'netDot', 'navFriends', 'friendsBadge', 'navGeneral', 'generalBadge', 'navAnn', 'annBadge', 'newGroup', 'inbox',
    'meBox', 'settingsBtn', 'panicBtn', 'panicKbd', 'banner', 'friendsPane', 'pendingBadge', 'friendsBody', 'chatPane',
    'roomAv', 'roomTitle', 'roomLock', 'roomSub', 'roomAction', 'log', 'annLocked', 'composer', 'pingList', 'replyBar',
    'replyText', 'replyX', 'promptTop', 'msg', 'msgLeft', 'gifBtn', 'sendBtn', 'chatErr', 'modal', 'modalCard', 'black',
    'blackPin', 'blackAsk', 'blackDots',
  ];
  for (const id of ids) assert.ok(tagWithId(id), id);
  assert.equal(new Set([...html.matchAll(/\bid="([^"]+)"/g)].map((m) => m[1])).size, [...html.matchAll(/\bid="/g)].length, 'ids are unique');

  for (const s of ['sWelcome', 'sSetPin', 'sUnlock', 'sUpdate', 'sGone', 'sMain']) assert.match(tagWithId(s), /^<section\b/, s);
  assert.match(tagWithId('sWelcome'), /class="screen/);
  assert.match(tagWithId('sMain'), /class="main/);
  for (const hidden of ['joinMore', 'joinRow', 'updRow', 'banner', 'chatPane', 'annLocked', 'pingList', 'replyBar', 'modal', 'black']) {
    assert.match(tagWithId(hidden), /class="[^"]*\bhidden\b/, hidden + ' starts hidden');
  }
  const joinCode = tagWithId('joinCode');
  assert.match(joinCode, /^<textarea/);
  assert.match(joinCode, /rows="3"/);
  assert.match(joinCode, /spellcheck="false"/);
  assert.match(joinCode, /placeholder="Type the 12-digit code you were told, or paste an invite code"/);
  assert.match(tagWithId('joinName'), /maxlength="24"[^>]*autocomplete="off"[^>]*spellcheck="false"[^>]*placeholder="Pick a username"/);
  for (const pin of ['newPin', 'newPin2', 'unlockPin', 'blackPin']) {
    assert.match(tagWithId(pin), /type="password" inputmode="numeric" maxlength="12"/, pin);
  }
  assert.match(tagWithId('blackPin'), /aria-label="PIN"/);
  assert.match(tagWithId('msg'), /rows="1" maxlength="2000" placeholder="Message"/);
  assert.match(tagWithId('panicBtn'), /tabindex="-1"[^>]*title="Black out the screen"/);
  assert.match(tagWithId('modalCard'), /role="dialog" aria-modal="true"/);
  assert.match(tagWithId('pingList'), /role="listbox" aria-label="People to mention"/);
  assert.match(tagWithId('netDot'), /title="Offline"/);
  for (const tab of ['online', 'all', 'pending', 'blocked', 'add']) assert.match(html, new RegExp(`class="tab[^"]*" data-tab="${tab}"`), tab);
});

test('fixed texts of the page', () => {
  const texts = ['>Invite code<', '>Paste<', '>Username<', '>Continue<', '>Choose a PIN<',
    ">You'll enter it every time you open mosswire. It also encrypts everything mosswire stores on this computer, so it can't be reset: if you forget it, you'll need a new invite.<",
    '>PIN (4 to 12 digits)<', '>Type it again<', '>Back<', '>Set PIN<', '>Enter your PIN<', '>Unlock<',
    '>Continue without updating<', '>Erase this device<', '>Friends<', '>General<', '>Announcements<', '>Messages<',
    '>End-to-end encrypted<', '>Only the developer can post in Announcements.<', '>└─$<', '>GIF<', '>Send<', '>×<',
    '>Online<', '>All<', '>Blocked<', '>Add friend<', '>⚙<', '>+<'];
  for (const t of texts) assert.ok(html.includes(t), t);
  assert.match(html, />Black out <kbd id="panicKbd">/);
  assert.equal((html.match(/>mosswire</g) || []).length, 4, 'brand lines on welcome, unlock and the sidebar, and the title');
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
