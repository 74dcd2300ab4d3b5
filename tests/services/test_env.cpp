#include "tests/services/test_env.h"

#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

static std::string home;

void isolate_environment(bool keep_bus) {
  char pattern[] = "/tmp/msw-services-XXXXXX";
  home = mkdtemp(pattern);
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
  if (!keep_bus) setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/msw-no-bus", 1);
  atexit([] { remove_tree(home); });
}

const std::string &test_home(void) { return home; }

std::string make_folder(const char *name) {
  std::string path = home + "/" + name;
  mkdir(path.c_str(), 0755);
  return path;
}

bool write_text(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return (bool)out;
}

std::string read_text(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

unsigned mode_of(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

static int remove_one(const char *path, const struct stat *, int, struct FTW *) {
  chmod(path, 0700);
  return remove(path);
}

void remove_tree(const std::string &path) {
  if (path.size() > 5) nftw(path.c_str(), remove_one, 16, FTW_DEPTH | FTW_PHYS);
}

std::string run_command(const std::string &command) {
  std::string out;
  if (FILE *p = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    pclose(p);
  }
  return out;
}
