#include "app/services/app_files.h"

#include "app/platform/files.h"

std::string app_path(const char *name, const char *suffix) {
  return app_folder() + "/" + name + suffix;
}

bool read_app_file(const char *name, std::string *out) {
  return file_read_whole(app_path(name, ""), out);
}

bool write_app_file(const char *name, const char *bytes, size_t length) {
  return file_replace_atomic(app_path(name, ""), app_path(name, ".tmp"), bytes, length, 0600);
}

void delete_app_file(const char *name) { file_delete(app_path(name, "")); }
