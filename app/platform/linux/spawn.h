#pragma once
// The running executable and starting a new copy of it.
#include <string>

// Absolute path of the running executable (/proc/self/exe); empty when unknown.
std::string executable_path(void);

// Starts program with the single switch arg (posix_spawn, this process's environment and
// folder, no wait), passing on only standard input, output and error. False when it could
// not be started.
bool spawn_detached(const std::string &program, const char *arg);
