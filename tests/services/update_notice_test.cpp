// A copy that can't install a release by itself, on the fake platform: msw_update answers
// where to get the release without fetching a byte, and says whether this version was told
// of before, so the page stops the start for each version once.
#include <gtest/gtest.h>

#include <string>

#include "app/services/app_files.h"
#include "app/services/update.h"
#include "signed_release.h"
#include "tests/services/fake_platform.h"
#include "tests/services/host_double.h"
#include "tests/services/test_env.h"

class Notice : public ::testing::Test {
 protected:
  void SetUp() override {
    host_reset();
    fake_platform_reset();
    delete_app_file("update-notice.txt");
    update_source_setting().base = "https://example.org/m";
    update_source_setting().owner_key = signed_release_owner_key;
  }
  // The reply, once the worker's result was delivered on the "UI thread" (this one).
  std::string update(const char *tag) {
    std::string now = call_binding("msw_update", (std::string("[\"") + tag + "\"]").c_str());
    if (now != "<no reply>") return now;
    return host_wait_dispatched(30000) ? host.replies.back().second : "<no result>";
  }
};

static std::string notice(const char *reason, const char *tag, bool told) {
  return std::string("{\"notice\":\"") + reason + "\",\"url\":\"https://example.org/m/releases/tag/" + tag +
         "\",\"told\":" + (told ? "true" : "false") + "}";
}

TEST_F(Notice, EachReasonAnswersWithoutDownloadingAndOncePerVersion) {
  fake.replacer = owner_package_manager;
  EXPECT_EQ(update("v1.2.0"), notice("package", "v1.2.0", false));
  EXPECT_EQ(update("v1.2.0"), notice("package", "v1.2.0", true));
  EXPECT_EQ(update("v1.2.1"), notice("package", "v1.2.1", false));  // a newer one is told of again

  fake.replacer = owner_nobody;
  EXPECT_EQ(update("v1.2.2"), notice("protected", "v1.2.2", false));

  // Built without the owner's key (or with something else in its place): it can't tell a
  // release from a forgery, so it installs nothing by itself even where it could.
  fake.replacer = owner_self;
  for (const char *key : {"", "not a key"}) {
    update_source_setting().owner_key = key;
    EXPECT_EQ(update("v1.2.3"), notice("unsigned", "v1.2.3", std::string(key) != "")) << key;
  }
  EXPECT_TRUE(fake.fetched.empty()) << fake.fetched.front();
  EXPECT_FALSE(update_is_ready());
  EXPECT_EQ(call_binding("msw_update_install", "[]"), "\"none\"");
  EXPECT_TRUE(fake.swapped.empty());
  EXPECT_TRUE(fake.log.empty()) << fake.log.front();  // nothing here is a failure
}

// The memory of the last version told of is a small file beside the vault; one in a form
// this program does not write tells again rather than never.
TEST_F(Notice, AMemoryInAnotherFormTellsAgain) {
  fake.replacer = owner_package_manager;
  ASSERT_TRUE(write_app_file("update-notice.txt", "v1.2.0", 6));  // no line end: not what is written
  EXPECT_EQ(update("v1.2.0"), notice("package", "v1.2.0", false));
  EXPECT_EQ(read_text(app_path("update-notice.txt", "")), "v1.2.0\n");
}

// A copy that can install itself asks for the release's files, the signature among them.
TEST_F(Notice, ACopyThatCanInstallFetchesTheListAndItsSignature) {
  fake.served["https://example.org/m/releases/download/v1.2.0/SHA256SUMS.txt"] = signed_release_list;
  EXPECT_EQ(update("v1.2.0"), "{\"err\":\"The update's signature is missing, so it wasn't installed.\"}");
  ASSERT_EQ(fake.fetched.size(), 2u);
  EXPECT_EQ(fake.fetched[1], "https://example.org/m/releases/download/v1.2.0/SHA256SUMS.txt.sig");
  EXPECT_FALSE(exists(app_path("update-notice.txt", "")));
}

int main(int argc, char **argv) {
  isolate_environment(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
