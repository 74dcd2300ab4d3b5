#pragma once
// Showing a file to the user in the desktop's file manager.
#include <string>

// The freedesktop FileManager1 ShowItems call with the file selected; where no file
// manager answers it, xdg-open on the file's folder. False when neither could be started.
bool show_in_file_manager(const std::string &path);
