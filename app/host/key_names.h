#pragma once
// Black-out key names, in the page's key code vocabulary (KeyboardEvent.code), and the
// Windows virtual-key code each one stands for, as the bridge contract lists them.
// Platform layers map that code to their own key identifiers.

// The virtual-key code of `name`, or 0 when the name is not accepted. The comparison
// is exact and case-sensitive.
int blackout_key_code(const char *name);
