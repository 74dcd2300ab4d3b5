#pragma once
// Wrong-PIN counter kept in attempts.txt so that neither a reload nor a restart resets it.
#include <string>

struct attempt_record {
  int count;             // wrong PINs since the last right one
  long long wait_until;  // UTC milliseconds before which no PIN may be tried; 0 for none
};

// Reads "%d %lld" the way scanf does: fields that are missing or don't scan stay 0.
attempt_record parse_attempts(const std::string &text);
std::string format_attempts(const attempt_record &record);

// The record after one more PIN at time now_ms.
attempt_record next_attempts(attempt_record record, bool right, long long now_ms);

// Milliseconds still to wait at now_ms, 0 when none.
long long attempts_wait(const attempt_record &record, long long now_ms);

// UTC milliseconds since 1970.
long long now_ms(void);

void msw_pin_start(const char *id, const char *args, void *user);
void msw_pin_result(const char *id, const char *args, void *user);
