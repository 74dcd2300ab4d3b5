#pragma once
// A private home for each test program: HOME and XDG_CONFIG_HOME point into a fresh
// temporary folder, so no test touches the real user's files.
#include <string>

// Sets up the folder and the variables; with keep_bus false the session bus address is
// pointed at nothing, so nothing answers for the Secret Service or notifications.
void isolate_environment(bool keep_bus);

// The temporary home, and a fresh folder inside it.
const std::string &test_home(void);
std::string make_folder(const char *name);

bool write_text(const std::string &path, const std::string &bytes);
std::string read_text(const std::string &path);  // "" when missing
bool exists(const std::string &path);
unsigned mode_of(const std::string &path);  // permission bits, 0 when missing

// Runs a shell command and gives everything it printed on standard output.
std::string run_command(const std::string &command);

// Removes everything below the temporary home (at exit).
void remove_tree(const std::string &path);
