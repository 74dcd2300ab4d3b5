#include "x_screen.h"

#include <X11/Xutil.h>
#include <stdio.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include "process_util.h"

bool region_open(x_session *x, screen_region *r, int left, int top, int width, int height) {
  if (!XShmQueryExtension(x->dpy) || width <= 0 || height <= 0) return false;
  int screen = DefaultScreen(x->dpy);
  r->x = left, r->y = top, r->width = width, r->height = height;
  r->image = XShmCreateImage(x->dpy, DefaultVisual(x->dpy, screen), DefaultDepth(x->dpy, screen), ZPixmap, nullptr,
                             &r->shm, width, height);
  if (!r->image) return false;
  r->shm.shmid = shmget(IPC_PRIVATE, (size_t)r->image->bytes_per_line * height, IPC_CREAT | 0600);
  if (r->shm.shmid < 0) {
    XDestroyImage(r->image);
    r->image = nullptr;
    return false;
  }
  r->shm.shmaddr = r->image->data = (char *)shmat(r->shm.shmid, nullptr, 0);
  r->shm.readOnly = False;
  bool attached = r->shm.shmaddr != (char *)-1 && XShmAttach(x->dpy, &r->shm);
  XSync(x->dpy, False);
  // Marked for removal now: the segment goes once both sides have detached, even if
  // the benchmark is killed.
  shmctl(r->shm.shmid, IPC_RMID, nullptr);
  if (!attached) {
    r->image->data = nullptr;
    XDestroyImage(r->image);
    r->image = nullptr;
    return false;
  }
  return true;
}

void region_close(x_session *x, screen_region *r) {
  if (!r->image) return;
  XShmDetach(x->dpy, &r->shm);
  XSync(x->dpy, False);
  shmdt(r->shm.shmaddr);
  r->image->data = nullptr;
  XDestroyImage(r->image);
  r->image = nullptr;
}

bool region_read(x_session *x, screen_region *r) {
  return XShmGetImage(x->dpy, DefaultRootWindow(x->dpy), r->image, r->x, r->y, AllPlanes);
}

void region_keep(screen_region *r) {
  r->kept.assign(r->image->data, r->image->data + (size_t)r->image->bytes_per_line * r->height);
}

bool region_differs(const screen_region *r) {
  return r->kept.size() != (size_t)r->image->bytes_per_line * r->height ||
         memcmp(r->kept.data(), r->image->data, r->kept.size()) != 0;
}

bool region_settle(x_session *x, screen_region *r, int quiet_ms, int limit_ms) {
  double end = monotonic_ms() + limit_ms;
  region_read(x, r);
  region_keep(r);
  double since = monotonic_ms();
  while (monotonic_ms() < end) {
    usleep(50000);
    region_read(x, r);
    if (region_differs(r)) {
      region_keep(r);
      since = monotonic_ms();
    } else if (monotonic_ms() - since >= quiet_ms) {
      return true;
    }
  }
  return false;
}

double region_wait_change(x_session *x, screen_region *r, int poll_us, int limit_ms) {
  double end = monotonic_ms() + limit_ms;
  for (;;) {
    region_read(x, r);
    double at = monotonic_ms();
    if (region_differs(r)) return at;
    if (at > end) return -1;
    if (poll_us > 0) usleep(poll_us);
  }
}

bool region_save(const screen_region *r, const char *path) {
  FILE *f = fopen(path, "wb");
  if (!f) return false;
  fprintf(f, "P6\n%d %d\n255\n", r->width, r->height);
  for (int y = 0; y < r->height; y++)
    for (int x = 0; x < r->width; x++) {
      unsigned long p = XGetPixel(r->image, x, y);
      unsigned char rgb[3] = {(unsigned char)(p >> 16), (unsigned char)(p >> 8), (unsigned char)p};
      fwrite(rgb, 1, 3, f);
    }
  return fclose(f) == 0;
}
