#pragma once
// The program's icon: icon resource 1 of the executable, at the system's large
// (SM_CXICON) or small (SM_CXSMICON) icon size, loaded once and kept for the run; the
// system's default application icon when the executable carries none.
#include <windows.h>

constexpr int app_icon_resource = 1;

HICON app_icon(bool large);
