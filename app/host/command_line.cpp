#include "command_line.h"

#include <string.h>

const char after_update_switch[] = "--after-update";

bool has_after_update(int argc, char **argv) {
  for (int i = 1; i < argc; i++)
    if (argv[i] && strcmp(argv[i], after_update_switch) == 0) return true;
  return false;
}
