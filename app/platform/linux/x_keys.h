#pragma once
// The X keysym for a black-out key's virtual-key code (key_names.h), or 0.
unsigned long keysym_for_key_code(int code);
