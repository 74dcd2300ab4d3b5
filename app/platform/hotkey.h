#pragma once
// The global black-out key: one key for the whole desktop, so it works while the window
// is hidden or in the background. UI thread.

// Takes the key with the virtual-key code `code` (key_names.h) with no modifiers (lock
// key states do not matter) and calls on_press once per press, however long the key is
// held. Without X11 the desktop portal's global shortcuts are asked instead, and the
// call waits for its answer. False when the desktop allows no global key (neither X11 nor
// the portal), the key has no place on this keyboard, or another program holds it or the
// person refused it; nothing stays taken then.
bool hotkey_register(int code, void (*on_press)(void));

// Releases the key, if any.
void hotkey_unregister(void);
