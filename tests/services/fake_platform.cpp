#include "tests/services/fake_platform.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "app/platform/autostart.h"
#include "app/platform/clipboard.h"
#include "app/platform/download.h"
#include "app/platform/files.h"
#include "app/platform/log.h"
#include "app/platform/notify.h"
#include "app/platform/process.h"
#include "app/platform/secret_store.h"
#include "app/platform/window.h"

fake_platform_state fake;

void fake_platform_reset(void) { fake = fake_platform_state(); }

static const char sealed_prefix[] = "fake-sealed:";

bool secret_protect(const unsigned char *data, size_t length, std::string *sealed) {
  if (!fake.secrets_open) return false;
  *sealed = sealed_prefix + std::string((const char *)data, length);
  return true;
}

bool secret_unprotect(const std::string &sealed, std::string *data) {
  size_t n = strlen(sealed_prefix);
  if (!fake.secrets_open || sealed.compare(0, n, sealed_prefix) != 0) return false;
  *data = sealed.substr(n);
  return true;
}

void secret_store_prepare(void (*done)(void *user), void *user) { done(user); }

void clipboard_set_text(const char *text) {
  fake.clipboard = text;
  fake.clipboard_has_text = true;
}

bool clipboard_get_text(std::string *out) {
  if (!fake.clipboard_has_text) return false;
  *out = fake.clipboard;
  return true;
}

bool notification_show(const char *title, const char *body, void *window, void (*on_click)(void)) {
  if (!fake.notifications_work) return false;
  fake.notifications.push_back(fake_notification{title, body, window, on_click});
  return true;
}

bool set_run_at_login(bool on) {
  if (!fake.autostart_works) return false;
  fake.run_at_login = on;
  return true;
}

void window_request_attention(void *window) { fake.attention_requests.push_back(window); }

bool window_in_front(void *window) { return window && fake.in_front; }

const char release_asset_name[] = "mosswire-test-asset";

std::string executable_path(void) { return fake.executable; }

executable_owner executable_replacer(const std::string &) { return fake.replacer; }

bool executable_swap(const std::string &executable, const std::string &download) {
  if (!fake.swap_works || !file_exists(download)) return false;
  fake.swapped.push_back(executable);
  return true;
}

bool relaunch_after_update(const std::string &executable) {
  fake.relaunched.push_back(executable);
  return true;
}

bool show_in_file_manager(const std::string &path) {
  fake.shown_files.push_back(path);
  return true;
}

bool download_file(const std::string &url, const std::string &path, const std::string &part_path,
                   const download_limits &limits) {
  fake.fetched.push_back(url);
  auto found = fake.served.find(url);
  if (found == fake.served.end() ||
      (limits.max_bytes && (long long)found->second.size() > limits.max_bytes)) {
    file_delete(part_path);
    return false;
  }
  return file_replace_atomic(path, part_path, found->second.data(), found->second.size(), 0600);
}

void log_failure(const char *area, const char *format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  fake.log.push_back(std::string(area) + ": " + text);
}
