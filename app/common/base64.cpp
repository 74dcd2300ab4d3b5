#include "base64.h"

static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64_encode(const unsigned char *data, size_t length) {
  std::string out;
  out.reserve((length + 2) / 3 * 4);
  for (size_t i = 0; i < length; i += 3) {
    unsigned v = (unsigned)data[i] << 16;
    if (i + 1 < length) v |= (unsigned)data[i + 1] << 8;
    if (i + 2 < length) v |= data[i + 2];
    out.push_back(alphabet[v >> 18 & 63]);
    out.push_back(alphabet[v >> 12 & 63]);
    out.push_back(i + 1 < length ? alphabet[v >> 6 & 63] : '=');
    out.push_back(i + 2 < length ? alphabet[v & 63] : '=');
  }
  return out;
}

static int sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool base64_decode(const std::string &text, std::string *out) {
  out->clear();
  if (text.size() % 4 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 4) {
    bool last = i + 4 == text.size();
    int pad = 0;
    if (last && text[i + 3] == '=') pad = text[i + 2] == '=' ? 2 : 1;
    unsigned v = 0;
    for (int k = 0; k < 4; k++) {
      int s = k < 4 - pad ? sextet(text[i + k]) : 0;
      if (s < 0) return false;
      v = v << 6 | (unsigned)s;
    }
    // Bits a shorter text would not carry must be zero, or two texts decode the same.
    if ((pad == 1 && (v & 0xff)) || (pad == 2 && (v & 0xffff))) return false;
    out->push_back((char)(v >> 16));
    if (pad < 2) out->push_back((char)(v >> 8 & 0xff));
    if (pad < 1) out->push_back((char)(v & 0xff));
  }
  return true;
}
