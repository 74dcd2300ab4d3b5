#pragma once
// The script bench/page_driver_module.cpp runs in a page: this run's settings as globals
// of the page (window.NAME = 'VALUE'), then the driver files one after the other.
#include <string>
#include <utility>
#include <vector>

// False when a file can't be read or written, or a value would not stay a plain string.
bool write_driver_file(const std::string &path, const std::vector<std::pair<std::string, std::string>> &globals,
                       const std::vector<std::string> &files);
