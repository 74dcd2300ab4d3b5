#pragma once
// The desktop clipboard, as UTF-8 text. UI thread.
#include <string>

// Puts text on the clipboard; invalid UTF-8 is repaired with U+FFFD first.
void clipboard_set_text(const char *text);

// The clipboard's text; false when it holds none (empty, or only an image).
bool clipboard_get_text(std::string *out);
