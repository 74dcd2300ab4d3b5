#pragma once
// A rectangle of the screen read through MIT-SHM shared memory, so that it can be read
// again and again at little cost and compared with an earlier reading of itself.
#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include <vector>

#include "x_session.h"

struct screen_region {
  int x = 0, y = 0, width = 0, height = 0;  // on the root window
  XImage *image = nullptr;
  XShmSegmentInfo shm = {};
  std::vector<char> kept;  // the reading compared against
};

bool region_open(x_session *x, screen_region *r, int left, int top, int width, int height);
void region_close(x_session *x, screen_region *r);
// Reads the rectangle into r->image.
bool region_read(x_session *x, screen_region *r);
// Keeps the latest reading for region_differs.
void region_keep(screen_region *r);
bool region_differs(const screen_region *r);
// Reads every 50 ms until the rectangle has stayed the same for quiet_ms (true), or
// limit_ms have passed (false); the last reading is kept.
bool region_settle(x_session *x, screen_region *r, int quiet_ms, int limit_ms);
// Reads every poll_us until the rectangle differs from the kept reading; the
// CLOCK_MONOTONIC ms of the read that first saw it differ, or -1 after limit_ms.
double region_wait_change(x_session *x, screen_region *r, int poll_us, int limit_ms);
// Writes the latest reading as a PPM picture (to see what a read saw).
bool region_save(const screen_region *r, const char *path);
