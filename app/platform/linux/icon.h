#pragma once
// The program's icon, drawn in code so the single-file executable needs no icon files.
#include <string>

typedef struct _GdkPixbuf GdkPixbuf;

// A new reference to the icon at `size` pixels square.
GdkPixbuf *app_icon_pixbuf(int size);

// Writes the icon as a PNG into the user's private runtime folder for tray hosts that
// load icons by name; answers the folder and the icon's name.
bool app_icon_file(std::string *folder, std::string *name);
