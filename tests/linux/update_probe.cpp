// A small real program that stands in for mosswire in the update tests: it runs the two
// update bindings as the page would, trusting the tests' owner key, and, started with
// "--after-update" by the install step, reports how it was started and removes the copy it
// replaced.
#include <fcntl.h>
#include <linux/capability.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>

#include "app/platform/files.h"
#include "app/platform/process.h"
#include "app/services/update.h"
#include "app/services/update_install.h"
#include "tests/services/host_double.h"

// Root ignores folder permissions; drop that power so a read-only folder is read-only.
static void drop_dac_override(void) {
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2];
  if (syscall(SYS_capget, &header, data) != 0) return;
  unsigned drop = 1u << CAP_DAC_OVERRIDE | 1u << CAP_DAC_READ_SEARCH | 1u << CAP_FOWNER;
  data[0].effective &= ~drop;
  data[0].permitted &= ~drop;
  data[0].inheritable &= ~drop;
  syscall(SYS_capset, &header, data);
}

static int after_update(int argc, char **argv) {
  std::string exe = executable_path(), old_path = exe + ".old";
  bool had_old = file_exists(old_path);
  remove_old_copy(old_path);
  // Descriptor 9 stands for the old copy's lock: the new copy must not hold it.
  std::string report = std::string(argc == 2 ? argv[1] : "?") + "\n" + exe + "\n" +
                       (had_old ? "old-present" : "old-missing") + "\n" +
                       (file_exists(old_path) ? "old-kept" : "old-removed") + "\n" +
                       (fcntl(9, F_GETFD) == -1 ? "lock-released" : "lock-inherited") + "\n";
  const char *out = getenv("MSW_PROBE_OUT");
  if (!out) return 1;
  std::string tmp = std::string(out) + ".tmp";
  return file_replace_atomic(out, tmp, report.data(), report.size(), 0644) ? 0 : 1;
}

int main(int argc, char **argv) {
  if (argc >= 2 && strcmp(argv[1], "--after-update") == 0) return after_update(argc, argv);
  if (argc < 4 || strcmp(argv[1], "update") != 0) return 64;
  // --drop-dac: the whole run without root's power over folders; --drop-dac-to-install:
  // only the install step, as if the folder became read-only after the download.
  const char *option = argc > 4 ? argv[4] : "";
  if (strcmp(option, "--drop-dac") == 0) drop_dac_override();
  // Something the host keeps open without close-on-exec, like a lock file.
  int lock = open("/dev/null", O_RDONLY);
  if (lock >= 0 && lock != 9) dup2(lock, 9), close(lock);
  update_source_setting().base = argv[2];
  update_source_setting().limits = {5, 5, 0};
  update_source_setting().owner_key = MSW_TEST_OWNER_KEY;
  // Tags separated by commas are updated to one after another; the last result counts.
  std::string tags = argv[3], result;
  for (size_t at = 0; at <= tags.size();) {
    size_t comma = tags.find(',', at);
    if (comma == std::string::npos) comma = tags.size();
    std::string args = "[\"" + tags.substr(at, comma - at) + "\"]";
    result = call_binding("msw_update", args.c_str());
    if (result == "<no reply>" && host_wait_dispatched(30000)) result = host.replies.back().second;
    at = comma + 1;
  }
  if (strcmp(option, "--drop-dac-to-install") == 0) drop_dac_override();
  std::string install = call_binding("msw_update_install", "[]");
  printf("%s\n%s\n%d\n", result.c_str(), install.c_str(), host.terminate_calls);
  return 0;
}
