// Failures that the page only sees as null or false leave a line in the diagnostic log,
// and no line holds the secret, the vault's text or anything else the page sent.
#include <gtest/gtest.h>
#include <stdio.h>

#include <string>

#include "app/platform/files.h"
#include "app/services/app_files.h"
#include "tests/services/fake_platform.h"
#include "tests/services/host_double.h"
#include "tests/services/test_env.h"

class FailureLog : public ::testing::Test {
 protected:
  void SetUp() override {
    host_reset();
    fake_platform_reset();
    for (const char *name : {"device.key", "vault.json", "vault.json.tmp"}) {
      std::string path = app_path(name, "");
      remove_tree(path);
      file_delete(path);
    }
  }
  // The log's lines that mention `word`, and whether any line holds `never`.
  static int lines_with(const std::string &word) {
    int n = 0;
    for (const std::string &line : fake.log) n += line.find(word) != std::string::npos;
    return n;
  }
  static bool anywhere(const std::string &never) {
    for (const std::string &line : fake.log)
      if (line.find(never) != std::string::npos) return true;
    return false;
  }
};

TEST_F(FailureLog, ADeviceKeyThatDoesNotOpenIsLoggedWithoutItsBytes) {
  const std::string secret = "SECRET-BYTES-SECRET-BYTES-SECRET";  // 32 bytes
  ASSERT_TRUE(write_text(app_path("device.key", ""), "fake-sealed:" + secret));
  fake.secrets_open = false;  // a locked keyring
  EXPECT_EQ(call_binding("msw_device_secret", "[]"), "null");
  EXPECT_EQ(lines_with("device.key"), 1);
  fake.secrets_open = true;
  EXPECT_NE(call_binding("msw_device_secret", "[]"), "null");  // the same file opens later
  EXPECT_EQ(lines_with("device.key"), 1);
  EXPECT_FALSE(anywhere("SECRET")) << fake.log.back();
}

TEST_F(FailureLog, ASecretThatCannotBeProtectedIsLoggedAndNothingIsStored) {
  fake.secrets_open = false;
  EXPECT_EQ(call_binding("msw_device_secret", "[]"), "null");
  EXPECT_FALSE(exists(app_path("device.key", "")));
  EXPECT_EQ(lines_with("device secret"), 1);
}

TEST_F(FailureLog, AVaultWriteThatFailsIsLoggedWithoutTheText) {
  folder_make(app_path("vault.json.tmp", ""), 0700);  // the temporary name can't be made
  EXPECT_EQ(call_binding_answered("msw_write_vault", "[\"PIN 4321 and a private message\"]"), "false");
  EXPECT_EQ(lines_with("vault.json"), 1);
  EXPECT_FALSE(anywhere("4321"));
  EXPECT_FALSE(anywhere("private"));
}

int main(int argc, char **argv) {
  isolate_environment(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
