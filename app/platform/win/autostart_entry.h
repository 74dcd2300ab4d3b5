#pragma once
// The Run key value that starts the program with the user's session.
#include <string>

// HKEY_CURRENT_USER\<run_key_path>, value run_value_name.
extern const wchar_t run_key_path[];
extern const wchar_t run_value_name[];

// The value's command for an executable path: the path in quotes. False for a path that
// is empty or holds a quote or a line break.
bool run_command_text(const std::string &executable, std::wstring *command);
