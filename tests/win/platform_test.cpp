// The Windows layer with real Windows calls, run under Wine in a private prefix. The
// program points %APPDATA% and %USERPROFILE% at a fresh folder whose name holds
// non-ASCII and non-BMP characters, so every path crosses the UTF-8/UTF-16 seam.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <thread>

#include "app/platform/autostart.h"
#include "app/platform/crypto.h"
#include "app/platform/files.h"
#include "app/platform/log.h"
#include "app/platform/loopback.h"
#include "app/platform/process.h"
#include "app/platform/random.h"
#include "app/platform/secret_store.h"
#include "app/platform/win/autostart_entry.h"
#include "app/platform/win/wide.h"

static std::string home;  // UTF-8

static std::string hex(const unsigned char *d, size_t n) {
  std::string out;
  char b[3];
  for (size_t i = 0; i < n; i++) snprintf(b, sizeof b, "%02x", d[i]), out += b;
  return out;
}

static bool wide_exists(const std::string &utf8_path) {
  return GetFileAttributesW(widen(utf8_path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(Wide, RoundTripsNonBmpAndRepairsBadBytes) {
  std::string text = "caf\xc3\xa9 \xf0\x9f\x98\x80";  // café 😀
  std::wstring wide = widen(text);
  ASSERT_EQ(wide.size(), 7u);  // the emoji is a surrogate pair
  EXPECT_EQ(wide[5], 0xD83D);
  EXPECT_EQ(narrow(wide), text);
  EXPECT_EQ(widen(std::string("a\xff", 2)), std::wstring(L"a\xFFFD"));
}

TEST(Files, AppFolderIsUnderAppDataWithItsUnicodeName) {
  const std::string &folder = app_folder();
  EXPECT_EQ(folder, home + "\\AppData\\Roaming\\mosswire");
  DWORD attributes = GetFileAttributesW(widen(folder).c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(&app_folder(), &folder);
}

TEST(Files, ReplaceWritesReadsAndLeavesNoTemporaryFile) {
  std::string path = app_folder() + "/vault.json", tmp = path + ".tmp";
  ASSERT_TRUE(file_replace_atomic(path, tmp, "first", 5, 0600));
  ASSERT_TRUE(file_replace_atomic(path, tmp, "second!", 7, 0600));
  std::string text;
  ASSERT_TRUE(file_read_whole(path, &text));
  EXPECT_EQ(text, "second!");
  EXPECT_FALSE(file_exists(tmp));
  ASSERT_TRUE(file_read_head(path, 3, &text));
  EXPECT_EQ(text, "sec");
  ASSERT_TRUE(file_read_head(path, 100, &text));
  EXPECT_EQ(text, "second!");
  // Empty contents are a file too.
  ASSERT_TRUE(file_replace_atomic(path, tmp, "", 0, 0600));
  ASSERT_TRUE(file_read_whole(path, &text));
  EXPECT_EQ(text, "");
}

TEST(Files, ReplaceOverALeftoverTemporaryFile) {
  std::string path = app_folder() + "/left.json", tmp = path + ".tmp";
  ASSERT_TRUE(file_replace_atomic(tmp, tmp + "2", "crash leftover", 14, 0600));
  ASSERT_TRUE(file_replace_atomic(path, tmp, "fresh", 5, 0600));
  std::string text;
  ASSERT_TRUE(file_read_whole(path, &text));
  EXPECT_EQ(text, "fresh");
  EXPECT_FALSE(file_exists(tmp));
}

TEST(Files, FailedReplaceKeepsTheOldFile) {
  std::string path = app_folder() + "/keep.json", tmp = path + ".tmp";
  ASSERT_TRUE(file_replace_atomic(path, tmp, "old", 3, 0600));
  std::string text;

  // The temporary file can't be made.
  EXPECT_FALSE(file_replace_atomic(path, app_folder() + "/missing/keep.tmp", "new", 3, 0600));
  ASSERT_TRUE(file_read_whole(path, &text));
  EXPECT_EQ(text, "old");

  // The move fails: another program holds the file open without letting it be replaced.
  HANDLE held = CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(file_replace_atomic(path, tmp, "new", 3, 0600));
  CloseHandle(held);
  EXPECT_FALSE(file_exists(tmp));
  ASSERT_TRUE(file_read_whole(path, &text));
  EXPECT_EQ(text, "old");

  // The name is taken by a folder.
  std::string folder = app_folder() + "/a folder";
  ASSERT_TRUE(folder_make(folder, 0700));
  EXPECT_FALSE(file_replace_atomic(folder, tmp, "new", 3, 0600));
  EXPECT_FALSE(file_exists(tmp));
}

TEST(Files, ReadsOnlyRegularFiles) {
  std::string text = "unchanged";
  EXPECT_FALSE(file_read_whole(app_folder() + "/nothing.json", &text));
  EXPECT_FALSE(file_read_whole(app_folder(), &text));
  EXPECT_FALSE(file_read_head(app_folder(), 10, &text));
  EXPECT_FALSE(file_read_whole("NUL", &text));  // a device, not a file on disk
  EXPECT_EQ(text, "unchanged");
}

TEST(Files, FoldersDeleteAndExistence) {
  std::string nested = home + "/x/y\\z \xf0\x9f\x8c\xb1";
  ASSERT_TRUE(folder_make(nested, 0700));
  EXPECT_TRUE(wide_exists(nested));
  EXPECT_TRUE(folder_make(nested, 0700));  // already there
  std::string file = nested + "/f";
  ASSERT_TRUE(file_replace_atomic(file, file + ".tmp", "x", 1, 0600));
  EXPECT_FALSE(folder_make(file, 0700));  // a file is in the way
  EXPECT_TRUE(file_exists(file));
  EXPECT_TRUE(file_delete(file));
  EXPECT_FALSE(file_exists(file));
  EXPECT_TRUE(file_delete(file));  // gone already
  EXPECT_TRUE(file_delete(home + "/no such folder/f"));
}

TEST(Files, OwnerKeyIsUnderTheUserProfile) {
  std::string path;
  ASSERT_TRUE(owner_key_path(&path));
  EXPECT_EQ(path, home + "\\.mosswire\\owner.json");
}

TEST(Random, FillsWithFreshBytes) {
  unsigned char a[64] = {0}, b[64] = {0};
  ASSERT_TRUE(random_bytes(a, sizeof a));
  ASSERT_TRUE(random_bytes(b, sizeof b));
  EXPECT_NE(memcmp(a, b, sizeof a), 0);
  unsigned char zero[64] = {0};
  EXPECT_NE(memcmp(a, zero, sizeof a), 0);
  EXPECT_TRUE(random_bytes(a, 0));
}

TEST(Crypto, Sha256OfFilesAndWipe) {
  std::string path = home + "/digest.bin";
  unsigned char d[32];
  ASSERT_TRUE(file_replace_atomic(path, path + ".tmp", "abc", 3, 0600));
  ASSERT_TRUE(sha256_file(path, d));
  EXPECT_EQ(hex(d, 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  ASSERT_TRUE(file_replace_atomic(path, path + ".tmp", "", 0, 0600));
  ASSERT_TRUE(sha256_file(path, d));
  EXPECT_EQ(hex(d, 32), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  std::string million(1000000, 'a');  // many 64 KiB blocks and a short last one
  ASSERT_TRUE(file_replace_atomic(path, path + ".tmp", million.data(), million.size(), 0600));
  ASSERT_TRUE(sha256_file(path, d));
  EXPECT_EQ(hex(d, 32), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_FALSE(sha256_file(home + "/missing.bin", d));

  char secret[16];
  memset(secret, 'k', sizeof secret);
  memory_wipe(secret, sizeof secret);
  for (char c : secret) EXPECT_EQ(c, 0);
}

TEST(SecretStore, SealedBlobOpensForTheSameUserAndNotAfterAChange) {
  unsigned char secret[32];
  ASSERT_TRUE(random_bytes(secret, sizeof secret));
  std::string sealed, opened;
  ASSERT_TRUE(secret_protect(secret, sizeof secret, &sealed));
  EXPECT_EQ(sealed.find(std::string((const char *)secret, sizeof secret)), std::string::npos);
  ASSERT_TRUE(secret_unprotect(sealed, &opened));
  EXPECT_EQ(opened, std::string((const char *)secret, sizeof secret));

  // A changed byte anywhere in the protected part, a cut blob, an empty one: none opens.
  for (size_t at : {sealed.size() - 1, sealed.size() / 2, sealed.size() - 40}) {
    std::string damaged = sealed;
    damaged[at] ^= 0x01;
    EXPECT_FALSE(secret_unprotect(damaged, &opened)) << "byte " << at;
  }
  EXPECT_FALSE(secret_unprotect(sealed.substr(0, sealed.size() - 1), &opened));
  EXPECT_FALSE(secret_unprotect("", &opened));
  EXPECT_FALSE(secret_unprotect("not a blob", &opened));

  // Two seals of the same secret differ (fresh salt) and both open.
  std::string again;
  ASSERT_TRUE(secret_protect(secret, sizeof secret, &again));
  EXPECT_NE(again, sealed);
  ASSERT_TRUE(secret_unprotect(again, &opened));
  EXPECT_EQ(opened, std::string((const char *)secret, sizeof secret));
}

TEST(SecretStore, PrepareAnswersAtOnce) {
  int calls = 0;
  secret_store_prepare([](void *user) { ++*(int *)user; }, &calls);
  EXPECT_EQ(calls, 1);
}

static bool run_value(std::wstring *value) {
  wchar_t buffer[2048];
  DWORD size = sizeof buffer, type = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, run_key_path, run_value_name, RRF_RT_ANY, &type, buffer,
                   &size) != ERROR_SUCCESS)
    return false;
  EXPECT_EQ(type, (DWORD)REG_SZ);
  *value = buffer;
  return true;
}

TEST(Autostart, RunKeyValueWrittenAndRemoved) {
  std::wstring value;
  ASSERT_TRUE(set_run_at_login(false));  // nothing there counts as done
  EXPECT_FALSE(run_value(&value));
  ASSERT_TRUE(set_run_at_login(true));
  ASSERT_TRUE(run_value(&value));
  std::string exe = executable_path();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(value, L"\"" + widen(exe) + L"\"");
  ASSERT_TRUE(set_run_at_login(true));  // written again, still one value
  ASSERT_TRUE(set_run_at_login(false));
  EXPECT_FALSE(run_value(&value));

  std::wstring command;
  EXPECT_TRUE(run_command_text("C:\\Program Files\\m\xc3\xb6sswire\\mosswire.exe", &command));
  EXPECT_EQ(command, L"\"C:\\Program Files\\m\x00f6sswire\\mosswire.exe\"");
  EXPECT_FALSE(run_command_text("", &command));
  EXPECT_FALSE(run_command_text("C:\\a\"b.exe", &command));
  EXPECT_FALSE(run_command_text("C:\\a\nb.exe", &command));
}

TEST(Process, ExecutableAndAssetName) {
  std::string exe = executable_path();
  ASSERT_GE(exe.size(), 4u);
  EXPECT_EQ(exe.substr(exe.size() - 4), ".exe");
  EXPECT_TRUE(wide_exists(exe));
  EXPECT_STREQ(release_asset_name, "mosswire.exe");
}

TEST(Loopback, ServesBytesBothWaysAndTimesOut) {
  uint16_t port = 0;
  loopback_socket listener = loopback_listen(&port);
  ASSERT_NE(listener, -1);
  ASSERT_NE(port, 0);
  std::string big(300000, '\0');
  for (size_t i = 0; i < big.size(); i++) big[i] = (char)(i * 7 + i / 251);
  std::string received;
  std::thread client([&] {
    SOCKET c = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (connect(c, (sockaddr *)&addr, sizeof addr) == 0) {
      send(c, "hello", 5, 0);
      char buffer[65536];
      int n;
      while ((n = recv(c, buffer, sizeof buffer, 0)) > 0) received.append(buffer, n);
    }
    closesocket(c);
  });
  loopback_socket s = loopback_accept(listener, 1);
  ASSERT_NE(s, -1);
  char buffer[16];
  long n = loopback_receive(s, buffer, sizeof buffer);
  ASSERT_EQ(n, 5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  // Nothing more comes: the read gives up after the time-out and answers 0. (Wine 8 does
  // not apply SO_RCVTIMEO to a blocking recv; the layer waits with select, which it does.)
  DWORD start = GetTickCount();
  EXPECT_EQ(loopback_receive(s, buffer, sizeof buffer), 0);
  EXPECT_GE(GetTickCount() - start, 500u);
  EXPECT_EQ(loopback_send_all(s, big.data(), big.size()), 0);
  loopback_discard_pending(s);
  loopback_close(s);
  client.join();
  EXPECT_TRUE(received == big) << received.size() << " bytes arrived";
  loopback_close(listener);
}

TEST(Log, OneLineOnStderrWithControlCharactersReplaced) {
  std::string path = home + "/stderr.txt";
  fflush(stderr);
  FILE *saved = _wfreopen(widen(path).c_str(), L"w", stderr);
  ASSERT_NE(saved, nullptr);
  log_failure("secret store", "it said: %s", "no\r\nway");
  fflush(stderr);
  _wfreopen(L"CONOUT$", L"w", stderr);
  std::string text;
  ASSERT_TRUE(file_read_whole(path, &text));
  // stderr is in text mode, as a console program's is: the line ends in CR LF.
  EXPECT_EQ(text, "mosswire: secret store: it said: no  way\r\n");
}

int main(int argc, char **argv) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  wchar_t unique[40];
  swprintf(unique, 40, L"msw-\x00e9t\xD83C\xDF31-%lu", GetCurrentProcessId());
  std::wstring base = std::wstring(temp) + unique;
  CreateDirectoryW(base.c_str(), nullptr);
  home = narrow(base);
  SetEnvironmentVariableW(L"USERPROFILE", base.c_str());
  SetEnvironmentVariableW(L"APPDATA", (base + L"\\AppData\\Roaming").c_str());
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
