#pragma once
// What the window benchmark does on the display beyond the window tests' helpers: puts a
// window where it wants it, and types and clicks through XTEST as a person's keyboard and
// mouse would arrive.
#include "x_session.h"

#include <string>

// Moves the window's top-left corner to (left, top) of the screen (there is no window
// manager to ask) and waits until the server reports it there.
bool x_place(x_session *x, Window w, int left, int top);
// Where the window's (0, 0) is on the screen, and its size.
bool x_geometry(x_session *x, Window w, int *left, int *top, int *width, int *height);
// Moves the pointer to (px, py) of the window, clicks there and gives the window the
// keyboard focus.
void x_click_at(x_session *x, Window w, int px, int py);
// Presses and releases a key for each character (letters, digits and spaces).
void x_type(x_session *x, const std::string &text);
// Presses and releases the key; answers the CLOCK_MONOTONIC ms just before the press went out.
double x_tap(x_session *x, unsigned long keysym);
