#pragma once
// The diagnostic log: one line for each failure that would otherwise pass without a trace
// (a keyring that refused, a download that failed, a desktop service that did not answer).
// It goes to stderr and, when the program runs from a desktop session, to the system log.
// Any thread. Never pass it secrets, PINs, keys, file contents or message text: name the
// step that failed and the system's own reason.
void log_failure(const char *area, const char *format, ...) __attribute__((format(printf, 2, 3)));
