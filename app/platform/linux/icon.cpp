#include "app/platform/linux/icon.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <math.h>

#include "app/platform/linux/folders.h"

// A moss-green disc with a lighter ring: recognisable in a tray at 16 pixels.
GdkPixbuf *app_icon_pixbuf(int size) {
  GdkPixbuf *pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, size, size);
  if (!pb) return nullptr;
  int stride = gdk_pixbuf_get_rowstride(pb);
  guchar *pixels = gdk_pixbuf_get_pixels(pb);
  double c = (size - 1) / 2.0, r = size / 2.0;
  for (int y = 0; y < size; y++) {
    for (int x = 0; x < size; x++) {
      guchar *p = pixels + y * stride + x * 4;
      double d = sqrt((x - c) * (x - c) + (y - c) * (y - c));
      double alpha = d <= r - 1 ? 1.0 : d >= r ? 0.0 : r - d;
      bool ring = d > r * 0.62 && d < r * 0.78;
      p[0] = ring ? 0xB8 : 0x3E;
      p[1] = ring ? 0xE0 : 0x7B;
      p[2] = ring ? 0x8A : 0x3A;
      p[3] = (guchar)(alpha * 255);
    }
  }
  return pb;
}

bool app_icon_file(std::string *folder, std::string *name) {
  std::string dir = runtime_folder();
  if (dir.empty()) return false;
  GdkPixbuf *pb = app_icon_pixbuf(64);
  if (!pb) return false;
  std::string path = dir + "/mosswire-tray.png";
  gboolean saved = gdk_pixbuf_save(pb, path.c_str(), "png", nullptr, nullptr);
  g_object_unref(pb);
  if (!saved) return false;
  *folder = dir;
  *name = "mosswire-tray";
  return true;
}
