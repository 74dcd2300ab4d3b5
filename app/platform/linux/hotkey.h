#pragma once
// The global black-out key on X11: a passive grab of one key on the root window, so it
// works while the window is hidden or in the background. Without X11 (a Wayland
// session) no program may take a key for the whole desktop, and registration fails.

// The X keysym for a black-out key code (key_names.h), or 0.
unsigned long keysym_for_key_code(int code);

// Grabs the key with no modifiers (Caps Lock and Num Lock states do not matter) and
// calls on_press once per press, however long the key is held. False when there is no
// X display, the key has no key code on this keyboard, or another program holds it;
// nothing stays grabbed then.
bool hotkey_register(int code, void (*on_press)(void));

// Releases the grab, if any.
void hotkey_unregister(void);
