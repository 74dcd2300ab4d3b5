#pragma once
// The one UTF-8 check and repair every native part uses before text reaches the page,
// the window system or a notification: strict UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
#include <string>

bool utf8_valid(const std::string &text);

// Replaces every byte that does not start a valid sequence with U+FFFD.
std::string utf8_repair(const std::string &text);
