#pragma once
// The program's start-up routine: single instance, asset server, browser window,
// bindings, page, message loop and shutdown. Answers the exit code: 0 after a normal
// run and when another copy runs, 1 when start-up failed (after one message).
int msw_start(int argc, char **argv);

// The messages start-up may end with.
extern const char start_failed_text[];
extern const char no_webkit_text[];
extern const char no_display_text[];
