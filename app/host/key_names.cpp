#include "key_names.h"

#include <string.h>

namespace {

struct named_key {
  const char *name;
  int code;
};

// Searched in this order, whole names only.
const named_key table[] = {
    {"Escape", 0x1B},      {"Backquote", 0xC0},    {"Minus", 0xBD},        {"Equal", 0xBB},
    {"BracketLeft", 0xDB}, {"BracketRight", 0xDD}, {"Backslash", 0xDC},    {"Semicolon", 0xBA},
    {"Quote", 0xDE},       {"Comma", 0xBC},        {"Period", 0xBE},       {"Slash", 0xBF},
    {"Space", 0x20},       {"Tab", 0x09},          {"Insert", 0x2D},       {"Delete", 0x2E},
    {"Home", 0x24},        {"End", 0x23},          {"PageUp", 0x21},       {"PageDown", 0x22},
    {"ArrowLeft", 0x25},   {"ArrowRight", 0x27},   {"ArrowUp", 0x26},      {"ArrowDown", 0x28},
    {"Pause", 0x13},       {"ScrollLock", 0x91},
};

}  // namespace

int blackout_key_code(const char *name) {
  if (!name || !*name) return 0;
  if (strncmp(name, "Key", 3) == 0 && name[3] >= 'A' && name[3] <= 'Z' && name[4] == 0) return name[3];
  if (strncmp(name, "Digit", 5) == 0 && name[5] >= '0' && name[5] <= '9' && name[6] == 0) return name[5];
  if (name[0] == 'F' && name[1] >= '1' && name[1] <= '9') {
    int number = name[1] - '0';
    if (name[2] >= '0' && name[2] <= '9') {
      if (name[3] != 0) return 0;
      number = number * 10 + (name[2] - '0');
    } else if (name[2] != 0) {
      return 0;
    }
    return number <= 24 ? 0x70 + number - 1 : 0;
  }
  for (const named_key &k : table)
    if (strcmp(k.name, name) == 0) return k.code;
  return 0;
}
