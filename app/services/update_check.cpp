#include "app/services/update_check.h"

#include <string.h>

bool release_tag_ok(const char *tag) {
  if (tag[0] != 'v') return false;
  const char *p = tag + 1;
  for (int group = 0; group < 3; group++) {
    int digits = 0;
    while (*p >= '0' && *p <= '9') p++, digits++;
    if (digits < 1 || digits > 4) return false;
    if (group < 2 && *p++ != '.') return false;
  }
  return *p == '\0';
}

static int hex_nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool find_checksum(const char *text, size_t length, const char *name, unsigned char digest[32]) {
  size_t name_length = strlen(name);
  const char *end = text + length;
  for (const char *line = text; line < end;) {
    const char *stop = line;
    while (stop < end && *stop != '\r' && *stop != '\n') stop++;
    size_t line_length = (size_t)(stop - line);
    if (line_length >= 64 + 2 + name_length && line[64] == ' ') {
      const char *p = line + 64;
      while (p < stop && (*p == ' ' || *p == '*')) p++;
      if ((size_t)(stop - p) == name_length && memcmp(p, name, name_length) == 0 &&
          p - (line + 64) >= 2) {
        for (int i = 0; i < 32; i++) {
          int hi = hex_nibble(line[2 * i]), lo = hex_nibble(line[2 * i + 1]);
          if (hi < 0 || lo < 0) return false;
          digest[i] = (unsigned char)(hi << 4 | lo);
        }
        return true;
      }
    }
    line = stop;
    while (line < end && (*line == '\r' || *line == '\n')) line++;
  }
  return false;
}
