// What decides whether a downloaded release is the one its checksum list names: the tag
// rule, the checksum list as sha256sum writes it, the owner's signature on the list as the
// owner's tool writes it (signed_release.h), and the streaming SHA-256.
#include <gtest/gtest.h>
#include <stdio.h>

#include <string>

#include "app/platform/crypto.h"
#include "app/services/update_check.h"
#include "app/services/update_signature.h"
#include "signed_release.h"
#include "tests/services/test_env.h"

static std::string hex(const unsigned char *d, size_t n) {
  std::string s;
  char b[3];
  for (size_t i = 0; i < n; i++) snprintf(b, sizeof b, "%02x", d[i]), s += b;
  return s;
}

TEST(UpdateRules, ReleaseTags) {
  for (const char *tag : {"v0.0.0", "v9999.9999.9999", "v1.2.10", "v1.1.8"})
    EXPECT_TRUE(release_tag_ok(tag)) << tag;
  for (const char *tag : {"", "v", "v1.2", "v1.2.3.4", "v1.2.3-beta", "V1.2.3", "v1.2.34567",
                          "v12345.1.1", "1.2.3", "v1..3", "v1.2.", "v.1.2.3", "v1.2.3 ", " v1.2.3",
                          "v1.2.a"})
    EXPECT_FALSE(release_tag_ok(tag)) << tag;
}

static const std::string digest_a(64, 'a');
static const char name[] = "mosswire-linux-x86_64";

static bool find(const std::string &list, std::string *found) {
  unsigned char d[32];
  if (!find_checksum(list.data(), list.size(), name, d)) return false;
  *found = hex(d, 32);
  return true;
}

TEST(UpdateRules, ChecksumLinesOfBothSha256sumModes) {
  std::string got, good = "0123456789abcdef" + std::string(48, 'e');
  ASSERT_TRUE(find(good + "  " + name + "\n", &got));  // text mode
  EXPECT_EQ(got, good);
  ASSERT_TRUE(find(good + " *" + name, &got));  // binary mode, no final line feed
  EXPECT_EQ(got, good);
  std::string upper = "0123456789ABCDEF" + std::string(48, 'E');
  ASSERT_TRUE(find(upper + "  " + name + "\r\n", &got));
  EXPECT_EQ(got, good);
  EXPECT_TRUE(find(good + " ** *  " + name, &got));
  EXPECT_FALSE(find(good + " " + name, &got));           // a single space
  EXPECT_FALSE(find(good + "* " + name, &got));          // 65th character not a space
  EXPECT_FALSE(find(good + "  x" + name, &got));         // a longer name ending in ours
  EXPECT_FALSE(find(good + "  " + name + ".sig", &got));
  EXPECT_FALSE(find(good + "  " + name + " ", &got));
  EXPECT_FALSE(find(good.substr(1) + "  " + name, &got));
  EXPECT_FALSE(find("", &got));
}

TEST(UpdateRules, TheFirstQualifyingLineDecides) {
  std::string got, good = std::string(63, '1') + "f", other = std::string(64, '2');
  ASSERT_TRUE(find(other + "  SHA256SUMS.sig\r\n\n" + good + "  " + name + "\n", &got));
  EXPECT_EQ(got, good);
  std::string bad = std::string(63, '1') + "g";
  EXPECT_FALSE(find(bad + "  " + name + "\n" + good + "  " + name + "\n", &got));
  ASSERT_TRUE(find(good + " " + name + "\n" + other + "  " + name + "\n", &got));
  EXPECT_EQ(got, other);
}

TEST(UpdateRules, OwnerKeysAreTheProtocolsRawPoints) {
  unsigned char point[65];
  ASSERT_TRUE(owner_key_point(signed_release_owner_key, point));
  EXPECT_EQ(point[0], 0x04);
  std::string key = signed_release_owner_key;
  std::string compressed = "A" + key.substr(1);  // 0x03...: not an uncompressed point
  for (const std::string &bad : {std::string(), key.substr(0, 87), key + "A", compressed,
                                 key.substr(0, 86) + "=="})
    EXPECT_FALSE(owner_key_point(bad, point)) << bad;
}

// One line of Base64 holding 64 bytes, made by the owner over exactly the list's bytes.
TEST(UpdateRules, TheListsSignatureAsTheOwnersToolWritesIt) {
  unsigned char owner[65], other[65];
  ASSERT_TRUE(owner_key_point(signed_release_owner_key, owner));
  ASSERT_TRUE(owner_key_point(signed_release_other_key, other));
  std::string list = signed_release_list, sig = signed_release_sig;
  std::string line = sig.substr(0, sig.find('\n'));
  for (const std::string &text : {sig, line, line + "\r\n", line + " \n\n"})
    EXPECT_EQ(check_release_signature(list, text, owner), signature_good) << text;

  // Well formed but not the owner's over these bytes (the update tests run the rest of
  // these through the real update path).
  EXPECT_EQ(check_release_signature(list, sig, other), signature_wrong);
  std::string flipped = line;
  flipped[10] = flipped[10] == 'A' ? 'B' : 'A';
  EXPECT_EQ(check_release_signature(list, flipped, owner), signature_wrong);

  // Anything that is not one line holding 64 bytes: cut short, lengthened, two lines, a
  // DER signature's size, other characters, an empty file.
  std::string der_sized = line.substr(0, 84) + "AAAAAAAA";
  for (const std::string &text : {std::string(), std::string("\n"), line.substr(0, 44), line.substr(0, 86),
                                  line.substr(0, 87) + "\n", line + "AAAA", line + "\n" + line, " " + line,
                                  der_sized, line.substr(0, 40) + "-" + line.substr(41),
                                  std::string(signed_release_list)})
    EXPECT_EQ(check_release_signature(list, text, owner), signature_damaged) << text;
}

TEST(UpdateRules, StreamingSha256MatchesSha256sum) {
  std::string big = test_home() + "/big.bin", empty = test_home() + "/empty.bin";
  std::string bytes;
  for (int i = 0; i < 200000; i++) bytes.push_back((char)(i * 7 + i / 3));
  ASSERT_TRUE(write_text(big, bytes));  // three 64 KiB blocks and a part
  ASSERT_TRUE(write_text(empty, ""));
  unsigned char d[32];
  ASSERT_TRUE(sha256_file(big, d));
#ifndef _WIN32  // no sha256sum there; the Windows layer's own test checks the standard vectors
  EXPECT_EQ(hex(d, 32), run_command("sha256sum " + big).substr(0, 64));
#endif
  ASSERT_TRUE(sha256_file(empty, d));
  EXPECT_EQ(hex(d, 32), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_FALSE(sha256_file(test_home() + "/missing.bin", d));
}

int main(int argc, char **argv) {
  isolate_environment(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
