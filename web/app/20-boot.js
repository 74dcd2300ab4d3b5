// Start-up: read the vault header, wear its theme, give the update check its turn, then
// open the one screen that fits this computer's state.

// The colour themes in the order the settings dialog offers them; the first is the default.
var THEMES = [
  { id: 'kali', name: 'Kali', desc: 'Black and white', bg: '#000000', fg: '#ededed', a: '#367bf0', b: '#ffffff', mono: false, prompt: true },
  { id: 'kali-light', name: 'Kali Light', desc: 'White and black', bg: '#ffffff', fg: '#1a1a1a', a: '#1f5fd1', b: '#000000', mono: false, prompt: true },
  { id: 'matrix', name: 'Matrix', desc: 'Green on black', bg: '#000000', fg: '#00ff41', a: '#00ff41', b: '#7dffa0', mono: true, prompt: true },
  { id: 'amber', name: 'Amber', desc: 'Retro amber', bg: '#0c0800', fg: '#ffb000', a: '#ffb000', b: '#ffd166', mono: true, prompt: true },
  { id: 'midnight', name: 'Midnight', desc: 'Navy and gold', bg: '#0f1e3d', fg: '#ffffff', a: '#27ae60', b: '#f5c518', mono: false, prompt: false },
];

function themeId(id) {
  for (var i = 0; i < THEMES.length; i++) if (THEMES[i].id === id) return id;
  return THEMES[0].id;
}

function applyTheme(id) {
  document.documentElement.setAttribute('data-theme', themeId(id));
}

async function boot() {
  try {
    await Vault.load();
  } catch (e) {
    gone("mosswire couldn't start", "It couldn't read its data folder.");
    return;
  }
  applyTheme(Vault.theme);
  // The update check comes before any screen that asks for a PIN.
  var quitting = false;
  try { quitting = await autoUpdate(); } catch (e) { quitting = false; }
  if (quitting) return;
  if (!Vault.exists) {
    show('sWelcome');
    return;
  }
  var orphaned;
  try {
    orphaned = await Vault.orphaned();
  } catch (e) {
    gone("mosswire couldn't read its key",
      'The system keychain refused to hand over the key that protects your data. Open mosswire again and allow access when asked.',
      true);
    return;
  }
  if (orphaned) {
    gone("This device's data can't be opened",
      "mosswire's key for this computer is missing (for example after moving the data to another computer or " +
      byOs({ windows: 'Windows account', mac: 'Mac account', linux: 'user account' }) +
      '), so the messages stored here can never be decrypted. Erase them to start again.');
    return;
  }
  show('sUnlock');
}
