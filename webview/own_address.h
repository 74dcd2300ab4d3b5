#pragma once
// The page's own address: everything in the folder of the address the window was told to
// load ("http://127.0.0.1:PORT/TOKEN/"), or exactly that address when it has no folder
// (about:blank). The window goes nowhere else, and only its own documents reach the
// native functions.
#include <string>

std::string own_address_prefix(const std::string &loaded);

bool is_own_address(const std::string &prefix, const std::string &address);
