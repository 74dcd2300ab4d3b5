#pragma once
// For the tests that run the real mosswire.exe under Wine: paths given on the command
// line, and the stand-in WebView2 runtime (stand_in_browser.dll) put where the runtime's
// installer registers the real one.
#include <string>

// A Unix path as this Wine prefix names it; other paths as they are.
std::wstring windows_path(const std::string &path);

// Copies the stand-in into a fresh folder named `folder` (plus this process's id) under the
// temporary folder, laid out as the runtime is, and registers that folder for the current
// user. The folder in `root`; false when any step fails.
bool register_stand_in_runtime(const std::string &stand_in_dll, const wchar_t *folder, std::wstring *root);
