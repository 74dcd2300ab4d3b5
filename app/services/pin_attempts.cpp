#include "app/services/pin_attempts.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>

#include <chrono>

#include "app/platform/log.h"
#include "app/services/app_files.h"
#include "app/services/call.h"

static bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// One scanf integer field: leading white space, an optional sign, decimal digits. A value
// out of range is clamped (scanf leaves that undefined).
static bool scan_number(const char **p, long long low, long long high, long long *out) {
  const char *s = *p;
  while (is_space(*s)) s++;
  char *end = nullptr;
  errno = 0;
  long long v = strtoll(s, &end, 10);
  if (end == s) return false;
  if (v < low) v = low;
  if (v > high) v = high;
  *out = v;
  *p = end;
  return true;
}

attempt_record parse_attempts(const std::string &text) {
  attempt_record r = {0, 0};
  const char *p = text.c_str();
  long long v;
  if (!scan_number(&p, INT_MIN, INT_MAX, &v)) return r;
  r.count = (int)v;
  if (!scan_number(&p, LLONG_MIN, LLONG_MAX, &v)) return r;
  r.wait_until = v;
  return r;
}

std::string format_attempts(const attempt_record &record) {
  char text[64];
  snprintf(text, sizeof text, "%d %lld", record.count, record.wait_until);
  return text;
}

/*
 * After the fifth wrong PIN in a row each further one waits twice as long, from 30 s up
 * to one hour: 30000 * 2^min(count - 5, 7), cut to 3600000. The wait runs from the wrong
 * PIN itself, so a wrong PIN during a wait sets a new, longer one.
 */
attempt_record next_attempts(attempt_record record, bool right, long long now) {
  if (right) return attempt_record{0, 0};
  if (record.count < INT_MAX) record.count++;  // a damaged file must not wrap to negative
  if (record.count >= 5) {
    int k = record.count - 5 < 7 ? record.count - 5 : 7;
    long long wait = 30000LL << k;
    if (wait > 3600000) wait = 3600000;
    record.wait_until = now + wait;
  }
  return record;
}

long long attempts_wait(const attempt_record &record, long long now) {
  // Computed so that a wildly damaged wait-until time cannot overflow.
  if (record.wait_until <= now) return 0;
  if (now < 0 && record.wait_until > LLONG_MAX + now) return LLONG_MAX;
  return record.wait_until - now;
}

long long now_ms(void) {
  using namespace std::chrono;
  return (long long)duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

static attempt_record read_attempts(void) {
  std::string text;
  if (!read_app_file("attempts.txt", &text)) return attempt_record{0, 0};
  return parse_attempts(text);
}

void msw_pin_start(const char *id, const char *, void *) {
  char number[32];
  snprintf(number, sizeof number, "%lld", attempts_wait(read_attempts(), now_ms()));
  reply_raw(id, number);
}

void msw_pin_result(const char *id, const char *args, void *) {
  attempt_record next = next_attempts(read_attempts(), arg_bool(args, 0), now_ms());
  std::string text = format_attempts(next);
  // A failed write keeps the old record; the page sees it on its next call.
  if (!write_app_file("attempts.txt", text.data(), text.size()))
    log_failure("pin attempts", "attempts.txt couldn't be written");
  reply_null(id);
}
