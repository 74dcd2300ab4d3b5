#include "app/platform/autostart.h"

#include "app/platform/files.h"
#include "app/platform/linux/autostart_entry.h"
#include "app/platform/linux/folders.h"
#include "app/platform/log.h"
#include "app/platform/process.h"

/*
 * Two layers of escaping apply to Exec. The argument is quoted for the command line
 * (backslash before " ` $ and \, and %% for a literal %), then the whole value is escaped
 * as a key-file string (\\ for a backslash), so a backslash in the path becomes four.
 */
static std::string exec_argument(const std::string &path) {
  std::string quoted = "\"";
  for (char c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted.push_back('\\');
    if (c == '%') quoted.push_back('%');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  std::string value;
  for (char c : quoted) {
    if (c == '\\') value += "\\\\";
    else if (c == '\t') value += "\\t";
    else value.push_back(c);
  }
  return value;
}

bool autostart_entry_text(const std::string &executable, std::string *entry) {
  if (executable.empty() || executable[0] != '/') return false;
  if (executable.find_first_of(std::string("\n\r\0", 3)) != std::string::npos) return false;
  *entry =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=mosswire\n"
      "Comment=Private chat for small invitation-only groups\n"
      "Exec=" + exec_argument(executable) + "\n"
      "Terminal=false\n"
      "X-GNOME-Autostart-enabled=true\n";
  return true;
}

std::string autostart_entry_path(void) {
  return config_home() + "/autostart/mosswire.desktop";
}

bool set_run_at_login(bool on) {
  std::string path = autostart_entry_path();
  bool done = false;
  std::string entry;
  if (!on) {
    done = file_delete(path);
  } else if (autostart_entry_text(executable_path(), &entry)) {
    std::string folder = path.substr(0, path.find_last_of('/'));
    done = folder_make(folder, 0700) &&
           file_replace_atomic(path, path + ".tmp", entry.data(), entry.size(), 0644);
  }
  if (!done) log_failure("autostart", "couldn't %s %s", on ? "write" : "remove", path.c_str());
  return done;
}
