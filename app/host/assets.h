#pragma once
// The page files built into the program: one row per file, in the order the page needs
// them. The build generates the table from web/ (lengths are the files' real lengths).
#include <stddef.h>

struct asset {
  const char *name;          // file name, matched exactly and case-sensitively
  const char *content_type;  // value of the Content-Type header
  const unsigned char *bytes;
  size_t length;
};

extern const asset msw_assets[];
extern const int msw_asset_count;
