#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/host/key_names.h"
#include "bridge_contract.h"
#ifndef _WIN32
#include "app/platform/linux/x_keys.h"
#endif

namespace {

TEST(KeyNames, LettersDigitsAndFunctionKeys) {
  EXPECT_EQ(blackout_key_code("KeyA"), 0x41);
  EXPECT_EQ(blackout_key_code("KeyB"), 0x42);
  EXPECT_EQ(blackout_key_code("KeyZ"), 0x5A);
  EXPECT_EQ(blackout_key_code("Digit0"), 0x30);
  EXPECT_EQ(blackout_key_code("Digit3"), 0x33);
  EXPECT_EQ(blackout_key_code("Digit9"), 0x39);
  EXPECT_EQ(blackout_key_code("F1"), 0x70);
  EXPECT_EQ(blackout_key_code("F9"), 0x78);
  EXPECT_EQ(blackout_key_code("F10"), 0x79);
  EXPECT_EQ(blackout_key_code("F19"), 0x82);
  EXPECT_EQ(blackout_key_code("F24"), 0x87);
}

TEST(KeyNames, TheNamedTable) {
  const std::pair<const char *, int> rows[] = {
      {"Escape", 0x1B},      {"Backquote", 0xC0},    {"Minus", 0xBD},     {"Equal", 0xBB},
      {"BracketLeft", 0xDB}, {"BracketRight", 0xDD}, {"Backslash", 0xDC}, {"Semicolon", 0xBA},
      {"Quote", 0xDE},       {"Comma", 0xBC},        {"Period", 0xBE},    {"Slash", 0xBF},
      {"Space", 0x20},       {"Tab", 0x09},          {"Insert", 0x2D},    {"Delete", 0x2E},
      {"Home", 0x24},        {"End", 0x23},          {"PageUp", 0x21},    {"PageDown", 0x22},
      {"ArrowLeft", 0x25},   {"ArrowRight", 0x27},   {"ArrowUp", 0x26},   {"ArrowDown", 0x28},
      {"Pause", 0x13},       {"ScrollLock", 0x91},
  };
  for (const auto &row : rows) EXPECT_EQ(blackout_key_code(row.first), row.second) << row.first;
}

TEST(KeyNames, RefusedNames) {
  for (const char *name : {"Keyb", "KeyAB", "Key", "Key1", "F0", "F01", "F25", "F100", "F", "F1x", "F2 ",
                           "escape", "ESCAPE", "NumpadEnter", "Digit", "Digit10", "DigitA", " KeyA", "", "Enter",
                           "ShiftLeft", "Escape\n"})
    EXPECT_EQ(blackout_key_code(name), 0) << "'" << name << "'";
  EXPECT_EQ(blackout_key_code(nullptr), 0);
}

// Every name the bridge contract lists is accepted, has a key on X11, and no two names
// share one. (On Windows the codes are the virtual-key codes themselves; the desktop
// test registers each as a hot key.)
#ifndef _WIN32
TEST(KeyNames, EveryContractNameHasADistinctXKey) {
  std::set<unsigned long> seen;
  for (const contract_key &key : contract_keys) {
    int code = blackout_key_code(key.name);
    ASSERT_EQ(code, key.code) << key.name;
    unsigned long sym = keysym_for_key_code(code);
    EXPECT_NE(sym, 0u) << key.name;
    EXPECT_TRUE(seen.insert(sym).second) << key.name << " shares its key";
  }
  EXPECT_EQ(seen.size(), 86u);
}
#endif

}  // namespace
