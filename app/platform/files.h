#pragma once
// The app data folder and the file operations every native service builds on. Paths are
// plain UTF-8 byte strings.
#include <stddef.h>

#include <string>

// The program's private data folder (on Linux $XDG_CONFIG_HOME/mosswire). Worked out and
// created (closed to other users, parents too) once per process, at the first request;
// later requests return the same text even if the folder has gone.
const std::string &app_folder(void);

// The whole file, or false when it can't be opened, is not a regular file, is 2 GiB or
// larger, or can't be read in full.
bool file_read_whole(const std::string &path, std::string *out);

// At most limit bytes from the start of a regular file; false when it can't be opened.
bool file_read_head(const std::string &path, size_t limit, std::string *out);

// Replaces path with bytes so that a crash or power cut at any moment leaves either the
// old file or the new one, never a mix: write tmp_path (permission bits `mode`), flush it
// to disk, move it over path, flush the folder. On failure tmp_path is removed and path
// is untouched.
bool file_replace_atomic(const std::string &path, const std::string &tmp_path,
                         const char *bytes, size_t length, unsigned mode);

// Flushes the folder that holds path, so that a rename inside it is on disk. False on an
// error other than "this file system does not sync folders".
bool folder_sync(const std::string &path);

// Removes the file; true when it is gone afterwards (also when it never existed).
bool file_delete(const std::string &path);

bool file_exists(const std::string &path);

// Makes the folder and its parents, each new one with the given permission bits.
bool folder_make(const std::string &path, unsigned mode);

// The owner key file the owner's tools write, <the user's home>/.mosswire/owner.json;
// false when the home folder is not known or the path is too long.
bool owner_key_path(std::string *path);

// Shows the file selected in the desktop's file manager (or at least its folder). False
// when nothing could be started.
bool show_in_file_manager(const std::string &path);
