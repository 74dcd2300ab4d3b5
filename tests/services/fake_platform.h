#pragma once
// A fake platform for the services' tests: everything the services ask of the system
// except files and random bytes (those are the real, plain POSIX ones in a private test
// folder) answers from this record, so the tests need no session bus and no display.
#include <map>
#include <string>
#include <vector>

#include "app/platform/process.h"

struct fake_notification {
  std::string title, body;
  void *window;
  void (*on_click)(void);
};

struct fake_platform_state {
  // Secret store: while `secrets_open` is false nothing can be protected or unprotected
  // (a locked keyring); a blob from protect is "fake-sealed:" and the bytes.
  bool secrets_open = true;
  // Clipboard: the text, when `clipboard_has_text`.
  bool clipboard_has_text = false;
  std::string clipboard;
  // Notifications shown, and whether the server takes them.
  std::vector<fake_notification> notifications;
  bool notifications_work = true;
  // Autostart: the current state and whether a change can be made.
  bool run_at_login = false;
  bool autostart_works = true;
  // The window the services asked about, and the answers.
  bool in_front = false;
  std::vector<void *> attention_requests;
  // Process: the running executable, whether the swap works, what was swapped, relaunched
  // and shown in the file manager.
  std::string executable = "/opt/mosswire/mosswire";
  executable_owner replacer = owner_self;
  bool swap_works = true;
  std::vector<std::string> swapped, relaunched, shown_files;
  // Downloads: the body served for each address (others fail), and the addresses asked for.
  std::map<std::string, std::string> served;
  std::vector<std::string> fetched;
  // The diagnostic log's lines, "area: text".
  std::vector<std::string> log;
};

extern fake_platform_state fake;

// Back to a fresh record.
void fake_platform_reset(void);
