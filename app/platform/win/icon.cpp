#include "app/platform/win/icon.h"

namespace {

HICON load_icon(int size_metric) {
  int size = GetSystemMetrics(size_metric);
  // LR_SHARED: the system keeps the one copy, which lives as long as the program.
  HICON icon = (HICON)LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(app_icon_resource),
                                 IMAGE_ICON, size, size, LR_DEFAULTCOLOR | LR_SHARED);
  return icon ? icon : LoadIconW(nullptr, IDI_APPLICATION);
}

}  // namespace

HICON app_icon(bool large) {
  static HICON big = nullptr, small = nullptr;
  HICON &icon = large ? big : small;
  if (!icon) icon = load_icon(large ? SM_CXICON : SM_CXSMICON);
  return icon;
}
