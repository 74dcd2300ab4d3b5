#pragma once
// The global black-out key: one key for the whole desktop, so it works while the window
// is hidden or in the background. UI thread.

// Takes the key with the virtual-key code `code` (key_names.h) with no modifiers (lock
// key states do not matter) and calls on_press once per press, however long the key is
// held. answer (may be null) is called exactly once with whether the key is now taken:
// on X11 before this returns; without X11 the desktop portal's global shortcuts are asked
// instead and the answer comes when the portal has answered, the main loop running
// meanwhile. False
// when the desktop allows no global key (neither X11 nor the portal), the key has no place
// on this keyboard, another program holds it, the person refused it, or a later
// registration or release came first; nothing stays taken then.
void hotkey_register(int code, void (*on_press)(void), void (*answer)(bool registered, void *data), void *data);

// Releases the key, if any; a registration still waiting for its answer is answered false.
void hotkey_unregister(void);
