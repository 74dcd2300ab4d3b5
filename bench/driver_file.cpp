#include "driver_file.h"

#include <stdio.h>

bool write_driver_file(const std::string &path, const std::vector<std::pair<std::string, std::string>> &globals,
                       const std::vector<std::string> &files) {
  FILE *f = fopen(path.c_str(), "w");
  if (!f) return false;
  bool ok = true;
  for (const auto &[name, value] : globals) {
    if (value.find_first_of("'\\\n\r<") != std::string::npos) ok = false;
    else fprintf(f, "window.%s = '%s';\n", name.c_str(), value.c_str());
  }
  for (const std::string &file : files) {
    FILE *in = fopen(file.c_str(), "r");
    if (!in) {
      ok = false;
      continue;
    }
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, in)) > 0) fwrite(chunk, 1, n, f);
    fclose(in);
  }
  return fclose(f) == 0 && ok;
}
