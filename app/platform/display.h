#pragma once
// Start-up's contact with the desktop before any window exists.

// Opens the display. False when there is none (no desktop session reachable).
bool display_open(int *argc, char ***argv);

// Shows one error message: on stderr, and as a dialog when a display is open.
void display_error(const char *text);

// Calls `quit` on the UI thread when the session ends the program or a terminal
// interrupts it.
void display_on_terminate(void (*quit)(void));
