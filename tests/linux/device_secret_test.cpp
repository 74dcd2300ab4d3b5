// The device secret through msw_device_secret on the real Linux secret store. Built three
// times: without a session bus (the machine-bound key); with MSW_TEST_KEYRING inside a
// private D-Bus session where an unlocked gnome-keyring answers as the Secret Service; with
// MSW_TEST_NO_KEYRING where the service answers but has no keyring.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/services/app_files.h"
#include "app/platform/linux/device_seal.h"
#include "app/platform/linux/secret_store.h"
#include "tests/services/host_double.h"
#include "tests/services/test_env.h"

#if defined(MSW_TEST_KEYRING)
static const int expected_method = seal_keyring;
#else
static const int expected_method = seal_machine;
#endif

static std::string key_path(void) { return app_path("device.key", ""); }

// The key that seals this device's files in the mode under test.
static bool current_key(unsigned char key[32]) {
  if (expected_method == seal_machine) return machine_key(device_binding_current(), key);
  return keyring_load_wrap_key(key) == keyring_found;
}

struct secret_answer {
  std::string secret;
  bool created;
};

// Parses {"secret":"...","created":true|false}; an empty secret for anything else.
static secret_answer parse_answer(const std::string &reply) {
  secret_answer a = {"", false};
  const std::string head = "{\"secret\":\"";
  if (reply.compare(0, head.size(), head) != 0) return a;
  size_t end = reply.find('"', head.size());
  if (end == std::string::npos) return a;
  std::string rest = reply.substr(end);
  if (rest == "\",\"created\":true}") a.created = true;
  else if (rest != "\",\"created\":false}") return a;
  a.secret = reply.substr(head.size(), end - head.size());
  return a;
}

static int base64_value(char c) {
  const char *alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const char *at = strchr(alphabet, c);
  return c && at ? (int)(at - alphabet) : -1;
}

class DeviceSecret : public ::testing::Test {
 protected:
  void SetUp() override {
    host_reset();
    unlink(key_path().c_str());
    unlink(app_path("vault.json", "").c_str());
  }
};

TEST_F(DeviceSecret, FirstCallMakesTheSecretAndLaterCallsGiveItBack) {
  secret_answer first = parse_answer(call_binding("msw_device_secret", "[]"));
  ASSERT_EQ(first.secret.size(), 44u);
  EXPECT_TRUE(first.created);
  EXPECT_EQ(first.secret[43], '=');
  EXPECT_NE(first.secret[42], '=');
  for (int i = 0; i < 43; i++) EXPECT_GE(base64_value(first.secret[i]), 0) << i;
  // 43 characters carry 258 bits: the last one holds two zero bits of fill.
  EXPECT_EQ(base64_value(first.secret[42]) & 3, 0);

  secret_answer second = parse_answer(call_binding("msw_device_secret", "[]"));
  EXPECT_EQ(second.secret, first.secret);
  EXPECT_FALSE(second.created);
  EXPECT_EQ(mode_of(key_path()), 0600u);
  std::string sealed = read_text(key_path());
  EXPECT_EQ(sealed_method(sealed), expected_method);
  // The file holds the secret sealed, never in the clear.
  EXPECT_EQ(sealed.size(), 6u + 12u + 32u + 16u);
}

TEST_F(DeviceSecret, AnEmptyOrDamagedFileAnswersNullAndStays) {
  ASSERT_TRUE(write_text(key_path(), ""));
  EXPECT_EQ(call_binding("msw_device_secret", "[]"), "null");
  EXPECT_EQ(call_binding("msw_device_secret", "[]"), "null");
  EXPECT_TRUE(exists(key_path()));
  EXPECT_EQ(read_text(key_path()), "");

  unlink(key_path().c_str());
  ASSERT_TRUE(parse_answer(call_binding("msw_device_secret", "[]")).created);
  std::string sealed = read_text(key_path());
  std::string damaged = sealed;
  damaged[30] ^= 1;
  ASSERT_TRUE(write_text(key_path(), damaged));
  EXPECT_EQ(call_binding("msw_device_secret", "[]"), "null");
  EXPECT_EQ(read_text(key_path()), damaged);
}

TEST_F(DeviceSecret, AFileThatOpensToTheWrongSizeAnswersNull) {
  unsigned char key[32], sixteen[16] = {1, 2, 3};
  // Make sure the mode's key exists (the keyring's is made on first use).
  ASSERT_TRUE(parse_answer(call_binding("msw_device_secret", "[]")).created);
  ASSERT_TRUE(current_key(key));
  std::string sealed = seal_secret(expected_method, key, device_binding_current(), sixteen, 16);
  ASSERT_FALSE(sealed.empty());
  ASSERT_TRUE(write_text(key_path(), sealed));
  EXPECT_EQ(call_binding("msw_device_secret", "[]"), "null");
  EXPECT_EQ(read_text(key_path()), sealed);
}

TEST_F(DeviceSecret, ACopyFromAnotherMachineOrUserFailsToOpen) {
  ASSERT_TRUE(parse_answer(call_binding("msw_device_secret", "[]")).created);
  device_binding here = device_binding_current();
  ASSERT_FALSE(here.machine_id.empty());
  std::string sealed = read_text(key_path()), plain;
  ASSERT_TRUE(secret_unprotect_for(here, sealed, &plain));
  EXPECT_EQ(plain.size(), 32u);

  device_binding other_machine = here;
  other_machine.machine_id = "0123456789abcdef0123456789abcdef";
  EXPECT_FALSE(secret_unprotect_for(other_machine, sealed, &plain));
  device_binding other_user = here;
  other_user.uid = here.uid + 1;
  EXPECT_FALSE(secret_unprotect_for(other_user, sealed, &plain));

  // And a file made there, copied here, answers null and is kept.
  unsigned char secret[32] = {1, 2, 3};
  std::string copied;
  ASSERT_TRUE(secret_protect_for(other_user, secret, sizeof secret, &copied));
  ASSERT_TRUE(write_text(key_path(), copied));
  EXPECT_EQ(call_binding("msw_device_secret", "[]"), "null");
  EXPECT_EQ(read_text(key_path()), copied);
}

TEST_F(DeviceSecret, AnUnreadableFileIsNeverReplaced) {
  mkdir(key_path().c_str(), 0700);
  EXPECT_EQ(call_binding("msw_device_secret", "[]"), "null");
  struct stat st;
  ASSERT_EQ(stat(key_path().c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  rmdir(key_path().c_str());
  // A dangling link is a file that can't be read, not a missing one.
  ASSERT_EQ(symlink("/nonexistent/device.key", key_path().c_str()), 0);
  EXPECT_EQ(call_binding("msw_device_secret", "[]"), "null");
  EXPECT_TRUE(exists(key_path()));
  unlink(key_path().c_str());
}

TEST_F(DeviceSecret, AVaultWithoutKeyGetsANewSecretAndAWipeStartsOver) {
  ASSERT_TRUE(write_text(app_path("vault.json", ""), "{}"));
  secret_answer first = parse_answer(call_binding("msw_device_secret", "[]"));
  EXPECT_TRUE(first.created);
  EXPECT_EQ(call_binding("msw_wipe", "[]"), "true");
  EXPECT_FALSE(exists(key_path()));
  secret_answer after = parse_answer(call_binding("msw_device_secret", "[]"));
  EXPECT_TRUE(after.created);
  EXPECT_EQ(after.secret.size(), 44u);
  EXPECT_NE(after.secret, first.secret);
}

#ifdef MSW_TEST_KEYRING
TEST_F(DeviceSecret, TheWrappingKeyLivesInTheKeyringAndItsLossLocksTheFile) {
  ASSERT_TRUE(parse_answer(call_binding("msw_device_secret", "[]")).created);
  unsigned char key[32];
  ASSERT_EQ(keyring_load_wrap_key(key), keyring_found);
  std::string sealed = read_text(key_path());
  // Another user's keyring (or a reset one) does not hold this key.
  ASSERT_TRUE(keyring_clear_wrap_key());
  EXPECT_EQ(keyring_load_wrap_key(key), keyring_missing);
  EXPECT_EQ(call_binding("msw_device_secret", "[]"), "null");
  EXPECT_EQ(read_text(key_path()), sealed);
  unsigned char other[32] = {9, 9, 9};
  ASSERT_TRUE(keyring_store_wrap_key(other));
  EXPECT_EQ(call_binding("msw_device_secret", "[]"), "null");
  EXPECT_EQ(read_text(key_path()), sealed);
}
#elif defined(MSW_TEST_NO_KEYRING)
// The service answers (it is started on demand) but has no keyring to keep the key in:
// making one would need a prompt, so the key is bound to the machine instead, at once.
TEST_F(DeviceSecret, AServiceWithoutAKeyringIsNeverAskedToPrompt) {
  unsigned char key[32] = {1};
  EXPECT_EQ(keyring_load_wrap_key(key), keyring_missing);
  EXPECT_FALSE(keyring_store_wrap_key(key));
  ASSERT_TRUE(parse_answer(call_binding("msw_device_secret", "[]")).created);
  EXPECT_EQ(sealed_method(read_text(key_path())), seal_machine);
}
#else
TEST_F(DeviceSecret, WithoutASecretServiceTheKeyIsBoundToTheMachine) {
  unsigned char key[32];
  EXPECT_EQ(keyring_load_wrap_key(key), keyring_unavailable);
  EXPECT_FALSE(machine_key(device_binding{"", 0}, key));
}
#endif

int main(int argc, char **argv) {
#if defined(MSW_TEST_KEYRING) || defined(MSW_TEST_NO_KEYRING)
  isolate_environment(true);
#else
  isolate_environment(false);
#endif
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
