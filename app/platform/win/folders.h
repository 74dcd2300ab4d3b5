#pragma once
// The user's folders as Windows knows them.
#include <windows.h>

#include <string>

// The value of an environment variable naming a folder; empty when unset or too long.
std::string environment_folder(const wchar_t *name);

// A known folder (FOLDERID_...), made when missing; empty when the shell has none.
std::string known_folder(const GUID &id);

// %APPDATA%, else the shell's roaming application data folder.
std::string roaming_folder(void);
