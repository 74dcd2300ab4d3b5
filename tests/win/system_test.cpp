// The Windows layer's downloads, self-update, executable swap, relaunch, error box and
// Explorer, with real Windows calls under Wine: WinHTTP against a local HTTP server in
// this program, the update bindings on top of it, and copies of this program standing in
// for the running and the new mosswire.exe.
//
// Roles besides the tests:
//   win_system_test --hold MS        prints "holding" and sleeps (a running copy)
//   win_system_test --after-update   what a relaunched copy does first: it removes the
//                                    copy it replaced and writes a report to %MSW_PROBE_OUT%
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/platform/crypto.h"
#include "app/platform/display.h"
#include "app/platform/download.h"
#include "app/platform/files.h"
#include "app/platform/process.h"
#include "app/platform/win/wide.h"
#include "app/services/app_files.h"
#include "app/services/update.h"
#include "app/services/update_install.h"
#include "signed_release.h"
#include "tests/services/host_double.h"
#include "tests/services/test_env.h"
#include "tests/win/child_process.h"
#include "tests/win/http_stand_in.h"

namespace {

// Every byte value, many times over: a body that a text conversion anywhere would damage.
std::string binary_body(size_t size) {
  std::string body;
  for (size_t i = 0; i < size; i++) body.push_back((char)(i * 31 + i / 256));
  return body;
}

bool copy_file(const std::string &from, const std::string &to) {
  return CopyFileW(widen(from).c_str(), widen(to).c_str(), FALSE) != 0;
}

// ---------------------------------------------------------------------------------------
// Downloads

class Download : public ::testing::Test {
 protected:
  http_stand_in server;
  std::string path, part;
  download_limits limits = {5, 2, 0};
  void SetUp() override {
    ASSERT_GT(server.port, 0);
    path = make_folder("downloads") + "\\file.bin";
    part = path + ".part";
    file_delete(path);
  }
  bool fetch(const std::string &where) { return download_file(server.address(where), path, part, limits); }
};

TEST_F(Download, TheWholeBodyLandsByteForByteAlsoThroughRedirects) {
  http_route ok;
  ok.body = binary_body(200000);  // several reads of 64 KiB
  server.route("/ok", ok);
  http_route moved;
  moved.status = 302;
  moved.extra_headers = "Location: " + server.address("/ok") + "\r\n";
  server.route("/moved", moved);
  http_route unannounced = ok;  // no length: read to the connection's end
  unannounced.announced = -1;
  server.route("/unannounced", unannounced);

  for (const char *where : {"/ok", "/moved", "/unannounced"}) {
    ASSERT_TRUE(write_text(path, "old"));
    ASSERT_TRUE(fetch(where)) << where;
    EXPECT_EQ(read_text(path), ok.body) << where;
    EXPECT_FALSE(exists(part)) << where;
  }
  std::vector<std::string> asked = server.requested();
  ASSERT_EQ(asked.size(), 4u);
  EXPECT_EQ(asked[1], "/moved");
  EXPECT_EQ(asked[2], "/ok");  // the redirect was followed

  // An empty body is a file too.
  server.route("/empty", http_route());
  ASSERT_TRUE(fetch("/empty"));
  EXPECT_TRUE(exists(path));
  EXPECT_EQ(read_text(path), "");
}

TEST_F(Download, EveryFailureLeavesTheOldFileAndNoPartFile) {
  http_route missing;
  missing.status = 404;
  server.route("/missing", missing);
  http_route broken;
  broken.status = 500;
  broken.body = "error page";
  server.route("/broken", broken);
  http_route shorter;  // the connection drops halfway
  shorter.body = binary_body(100000);
  shorter.cut_after = 50000;
  server.route("/short", shorter);
  http_route big;
  big.body = binary_body(5000);
  server.route("/big", big);
  http_route big_unannounced = big;
  big_unannounced.announced = -1;
  server.route("/big-unannounced", big_unannounced);
  http_route loop;
  loop.status = 302;
  loop.extra_headers = "Location: " + server.address("/loop") + "\r\n";
  server.route("/loop", loop);

  auto fails = [&](const char *where) {
    ASSERT_TRUE(write_text(path, "old"));
    EXPECT_FALSE(fetch(where)) << where;
    EXPECT_EQ(read_text(path), "old") << where;
    EXPECT_FALSE(exists(part)) << where;
  };
  for (const char *where : {"/missing", "/broken", "/short", "/loop"}) fails(where);
  limits.max_bytes = 4096;
  for (const char *where : {"/big", "/big-unannounced"}) fails(where);
  // A limit the body stays within.
  http_route fits;
  fits.body = binary_body(4096);
  server.route("/fits", fits);
  ASSERT_TRUE(fetch("/fits"));
  EXPECT_EQ(read_text(path), fits.body);

  ASSERT_TRUE(write_text(path, "old"));
  for (const char *where : {"http://127.0.0.1:1/x", "ftp://127.0.0.1/x", "not an address", ""}) {
    EXPECT_FALSE(download_file(where, path, part, limits)) << where;
    EXPECT_EQ(read_text(path), "old") << where;
    EXPECT_FALSE(exists(part)) << where;
  }
}

TEST_F(Download, AServerThatFallsSilentIsGivenUpAfterTheStallTime) {
  http_route stall;
  stall.body = binary_body(10000);
  stall.cut_after = 100;
  stall.silence_ms = 20000;
  server.route("/stall", stall);
  ASSERT_TRUE(write_text(path, "old"));
  double start = monotonic_ms();
  EXPECT_FALSE(fetch("/stall"));
  double took = monotonic_ms() - start;
  EXPECT_GE(took, 1500);
  EXPECT_LT(took, 15000) << "the stall time (2 s) must end the download";
  EXPECT_EQ(read_text(path), "old");
  EXPECT_FALSE(exists(part));
}

// ---------------------------------------------------------------------------------------
// The update bindings on the real Windows layer, against releases the owner's tool signed
// (signed_release.h: WebCrypto's signatures, checked here with BCrypt)

const char ok_result[] = "{\"ok\":true}";
const char download_error[] = "{\"err\":\"Couldn't download the update.\"}";
const char no_checksum[] = "{\"err\":\"That release has no checksum for this computer's download.\"}";
const char mismatch[] = "{\"err\":\"The download didn't match its checksum, so it wasn't installed.\"}";
const char unsigned_release[] = "{\"err\":\"The update's signature is missing, so it wasn't installed.\"}";
const char damaged_signature[] = "{\"err\":\"The update's signature is damaged, so it wasn't installed.\"}";
const char forged_signature[] =
    "{\"err\":\"The update isn't signed by this network's owner, so it wasn't installed.\"}";

class Update : public ::testing::Test {
 protected:
  http_stand_in server;
  std::string asset = signed_release_asset;
  void SetUp() override {
    ASSERT_GT(server.port, 0);
    host_reset();
    update_source_setting().base = server.address("/repo");
    update_source_setting().limits = {5, 5, 0};
    update_source_setting().owner_key = signed_release_owner_key;
  }
  // A release's files; a null one is not there.
  void release(const std::string &tag, const char *list, const char *signature, const std::string *bytes) {
    std::string dir = "/repo/releases/download/" + tag + "/";
    std::pair<const char *, const char *> files[] = {{"SHA256SUMS.txt", list}, {"SHA256SUMS.txt.sig", signature}};
    for (auto [name, body] : files) {
      if (!body) continue;
      http_route r;
      r.body = body;
      server.route(dir + name, r);
    }
    if (bytes) {
      http_route exe;
      exe.body = *bytes;
      server.route(dir + "mosswire.exe", exe);
    }
  }
  std::string update(const char *tag) {
    std::string now = call_binding("msw_update", (std::string("[\"") + tag + "\"]").c_str());
    if (now != "<no reply>") return now;
    if (!host_wait_dispatched(60000)) return "<no result>";
    return host.replies.back().second;
  }
};

TEST_F(Update, AVerifiedDownloadIsKeptAndEveryOtherOutcomeLeavesNothing) {
  EXPECT_STREQ(release_asset_name, "mosswire.exe");
  release("v1.2.3", signed_release_list, signed_release_sig, &asset);
  std::string tampered = asset + "!";
  release("v1.2.4", signed_release_list, signed_release_sig, &tampered);
  release("v1.2.5", signed_release_foreign_list, signed_release_foreign_sig, &asset);  // no line for us
  release("v1.2.6", signed_release_list, signed_release_sig, nullptr);  // listed, not there

  EXPECT_EQ(update("v1.2.4"), mismatch);
  EXPECT_FALSE(exists(app_path("mosswire.exe", "")));
  EXPECT_EQ(update("v1.2.5"), no_checksum);
  EXPECT_EQ(update("v1.2.6"), download_error);
  EXPECT_EQ(update("v9.9.9"), download_error);  // no such release
  EXPECT_FALSE(update_is_ready());
  EXPECT_EQ(call_binding("msw_update_install", "[]"), "\"none\"");

  EXPECT_EQ(update("v1.2.3"), ok_result);
  EXPECT_EQ(read_text(app_path("mosswire.exe", "")), asset);
  EXPECT_TRUE(update_is_ready());
  for (const char *left : {"SHA256SUMS.txt", "SHA256SUMS.txt.part", "SHA256SUMS.txt.sig", "SHA256SUMS.txt.sig.part",
                           "mosswire.exe.part"})
    EXPECT_FALSE(exists(app_path(left, ""))) << left;
}

// No signature, another owner's, one cut short, or the owner's over a list changed since:
// the program is not even downloaded.
TEST_F(Update, OnlyAListTheOwnerSignedIsTrusted) {
  std::string sig = signed_release_sig, changed = std::string(signed_release_list) + "\n";
  std::string cut = sig.substr(0, 40);
  release("v1.3.0", signed_release_list, nullptr, &asset);
  release("v1.3.1", signed_release_list, signed_release_other_sig, &asset);
  release("v1.3.2", signed_release_list, cut.c_str(), &asset);
  release("v1.3.3", changed.c_str(), signed_release_sig, &asset);
  EXPECT_EQ(update("v1.3.0"), unsigned_release);
  EXPECT_EQ(update("v1.3.1"), forged_signature);
  EXPECT_EQ(update("v1.3.2"), damaged_signature);
  EXPECT_EQ(update("v1.3.3"), forged_signature);
  // Checked against another owner's key, the owner's own release is refused too.
  release("v1.3.4", signed_release_list, signed_release_sig, &asset);
  update_source_setting().owner_key = signed_release_other_key;
  EXPECT_EQ(update("v1.3.4"), forged_signature);
  for (const std::string &asked : server.requested())
    EXPECT_EQ(asked.find("mosswire.exe"), std::string::npos) << asked;
}

// The program in a folder this user can't change, or marked read-only, can't replace itself.
TEST_F(Update, OnlyAProgramThatCanBeChangedReplacesItself) {
  std::string folder = make_folder("replaceable"), program = folder + "\\mosswire.exe";
  ASSERT_TRUE(write_text(program, "MZ"));
  EXPECT_EQ(executable_replacer(program), owner_self);
  EXPECT_FALSE(exists(folder + "\\mosswire-" + std::to_string(GetCurrentProcessId()) + ".check"));
  ASSERT_TRUE(SetFileAttributesW(widen(program).c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(executable_replacer(program), owner_nobody);
  SetFileAttributesW(widen(program).c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(executable_replacer(folder + "\\missing\\mosswire.exe"), owner_nobody);
  EXPECT_EQ(executable_replacer(""), owner_nobody);
}

// ---------------------------------------------------------------------------------------
// The swap of a running executable, the relaunch and the clean-up

class Swap : public ::testing::Test {
 protected:
  std::string folder, installed, old_path, download, report;
  std::string original, replacement;
  void SetUp() override {
    static int n = 0;
    folder = make_folder(("program files " + std::to_string(++n)).c_str());
    for (char &c : folder)
      if (c == '/') c = '\\';
    installed = folder + "\\mosswire.exe";
    old_path = installed + ".old";
    download = app_path("mosswire.exe", "");
    report = folder + "\\report.txt";
    ASSERT_TRUE(copy_file(this_program(), installed));
    // The new version: the same program with bytes appended (Windows runs it all the same).
    ASSERT_TRUE(file_read_whole(this_program(), &original));
    replacement = original + "new version";
    ASSERT_TRUE(write_text(download, replacement));
    SetEnvironmentVariableW(L"MSW_PROBE_OUT", widen(report).c_str());
  }
};

TEST_F(Swap, TheRunningFileMovesAsideTheNewOneStartsAndRemovesIt) {
  child_process running(installed, {"--hold", "60000"});
  ASSERT_EQ(running.line(""), "holding");

  ASSERT_TRUE(executable_swap(installed, download));
  EXPECT_EQ(read_text(installed), replacement);
  EXPECT_EQ(read_text(old_path), original);
  EXPECT_FALSE(exists(download));
  EXPECT_EQ(running.wait_exit(0), -1) << "the running copy goes on from its image";
  // Windows keeps a running program's file: the old copy can't go while it runs.
  EXPECT_FALSE(file_delete(old_path));
  EXPECT_TRUE(exists(old_path));

  ASSERT_TRUE(relaunch_after_update(installed));
  // The new copy waits for the old file while the old copy still runs; it goes once the
  // old copy has ended.
  Sleep(1500);
  EXPECT_TRUE(exists(old_path));
  running.kill();
  std::string text;
  for (int i = 0; i < 300 && text.empty(); i++, Sleep(100)) text = read_text(report);
  EXPECT_EQ(text, "--after-update\n" + installed + "\nold-present\nold-removed\n");
  EXPECT_FALSE(exists(old_path));
}

TEST_F(Swap, ARunningFileThatCantMoveChangesNothingAndTheDownloadIsShown) {
  // Another program holds the file without letting it be renamed.
  HANDLE held = CreateFileW(widen(installed).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(executable_swap(installed, download));
  EXPECT_EQ(install_update(installed, "mosswire.exe"), install_manual);
  CloseHandle(held);
  EXPECT_EQ(read_text(installed), original);
  EXPECT_FALSE(exists(old_path));
  EXPECT_EQ(read_text(download), replacement) << "the download stays to be moved by hand";
}

TEST_F(Swap, ADownloadThatCantTakeThePlacePutsTheOldFileBack) {
  HANDLE held = CreateFileW(widen(download).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(executable_swap(installed, download));
  CloseHandle(held);
  EXPECT_EQ(read_text(installed), original);
  EXPECT_FALSE(exists(old_path));
  EXPECT_EQ(read_text(download), replacement);

  // No download at all: nothing moves.
  ASSERT_TRUE(file_delete(download));
  EXPECT_FALSE(executable_swap(installed, download));
  EXPECT_EQ(read_text(installed), original);
  EXPECT_FALSE(exists(old_path));
}

TEST(Relaunch, AProgramThatIsNotThereIsReportedAsNotStarted) {
  EXPECT_FALSE(relaunch_after_update(test_home() + "\\nowhere\\mosswire.exe"));
  EXPECT_FALSE(relaunch_after_update(""));
}

// ---------------------------------------------------------------------------------------
// What a person sees: the error box and Explorer

// The texts of a dialog's static controls and the number of its buttons.
struct box_contents {
  std::wstring texts;
  int buttons = 0;
};

BOOL CALLBACK read_child(HWND child, LPARAM data) {
  box_contents *box = (box_contents *)data;
  wchar_t name[64], text[512];
  GetClassNameW(child, name, 64);
  GetWindowTextW(child, text, 512);
  if (_wcsicmp(name, L"Button") == 0 && IsWindowVisible(child)) box->buttons++;
  if (_wcsicmp(name, L"Static") == 0) box->texts += text;
  return TRUE;
}

TEST(Display, AnErrorIsOneBoxWithTheTextAndOneButton) {
  const char text[] = "mosswire couldn't start. \xc3\xa9\xf0\x9f\x98\x80";  // é and a non-BMP character
  std::atomic<bool> found{false};
  box_contents box;
  std::thread closer([&] {
    for (int i = 0; i < 300 && !found; i++, Sleep(100)) {
      HWND dialog = FindWindowW(L"#32770", L"mosswire");
      if (!dialog) continue;
      EnumChildWindows(dialog, read_child, (LPARAM)&box);
      found = true;
      PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    }
  });
  double start = monotonic_ms();
  display_error(text);  // returns once the box is closed
  closer.join();
  ASSERT_TRUE(found) << "no box titled mosswire";
  EXPECT_LT(monotonic_ms() - start, 30000);
  EXPECT_NE(box.texts.find(widen(text)), std::wstring::npos);
  EXPECT_EQ(box.buttons, 1);
  EXPECT_TRUE(display_open(nullptr, nullptr));
}

TEST(FileManager, ExplorerIsStartedForAFile) {
  std::string file = make_folder("shown") + "/update, new.exe";  // a comma and a forward slash
  ASSERT_TRUE(write_text(file, "x"));
  EXPECT_TRUE(show_in_file_manager(file));
}

// ---------------------------------------------------------------------------------------

int after_update(int argc, char **argv) {
  std::string exe = executable_path(), old_path = exe + ".old";
  bool had_old = file_exists(old_path);
  remove_old_copy(old_path);
  std::string text;
  for (int i = 1; i < argc; i++) text += std::string(argv[i]) + (i + 1 < argc ? " " : "");
  text += "\n" + exe + "\n" + (had_old ? "old-present" : "old-missing") + "\n" +
          (file_exists(old_path) ? "old-kept" : "old-removed") + "\n";
  wchar_t out[1024];
  DWORD n = GetEnvironmentVariableW(L"MSW_PROBE_OUT", out, 1024);
  if (n == 0 || n >= 1024) return 1;
  std::string path = narrow(out);
  return file_replace_atomic(path, path + ".tmp", text.data(), text.size(), 0644) ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 2 && strcmp(argv[1], "--after-update") == 0) return after_update(argc, argv);
  if (argc >= 3 && strcmp(argv[1], "--hold") == 0) {
    printf("holding\n");
    fflush(stdout);
    Sleep((DWORD)atoi(argv[2]));
    return 0;
  }
  isolate_environment(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
