#include "utf8.h"

// Length of the valid UTF-8 sequence at s[i], or 0.
static size_t utf8_sequence(const std::string &s, size_t i) {
  unsigned char c = (unsigned char)s[i];
  if (c < 0x80) return 1;
  size_t n;
  unsigned lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c == 0xE0) n = 3, lo = 0xA0;
  else if (c == 0xED) n = 3, hi = 0x9F;
  else if (c >= 0xE1 && c <= 0xEF) n = 3;
  else if (c == 0xF0) n = 4, lo = 0x90;
  else if (c >= 0xF1 && c <= 0xF3) n = 4;
  else if (c == 0xF4) n = 4, hi = 0x8F;
  else return 0;
  if (i + n > s.size()) return 0;
  unsigned char c1 = (unsigned char)s[i + 1];
  if (c1 < lo || c1 > hi) return 0;
  for (size_t k = 2; k < n; k++) {
    unsigned char ck = (unsigned char)s[i + k];
    if (ck < 0x80 || ck > 0xBF) return 0;
  }
  return n;
}

bool utf8_valid(const std::string &text) {
  for (size_t i = 0; i < text.size();) {
    size_t n = utf8_sequence(text, i);
    if (!n) return false;
    i += n;
  }
  return true;
}

std::string utf8_repair(const std::string &text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    size_t n = utf8_sequence(text, i);
    if (n) {
      out.append(text, i, n);
      i += n;
    } else {
      out += "\xEF\xBF\xBD";
      i += 1;
    }
  }
  return out;
}
