#include "json_text.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

// These routines read texts the page made with JSON.stringify, but they must never
// trust them: every scan stops at the terminating NUL, and no output can outgrow the
// buffer sized for it up front.

// Decodes the body of a JSON string into out, which may be the body itself; answers the
// end of what it wrote.
static char *unescape_to(const char *begin, const char *end, char *out);

static bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

static const char *skip_space(const char *p) {
  while (is_space(*p)) p++;
  return p;
}

// Steps over a string whose opening quote is at p; answers the closing quote, or null
// when the text ends first. A backslash hides the byte after it unless that is the end.
static const char *string_end(const char *p) {
  p++;
  while (*p && *p != '"') {
    if (*p == '\\' && p[1]) p += 2;
    else p++;
  }
  return *p ? p : nullptr;
}

static char *copy_bytes(const char *begin, const char *end) {
  size_t n = (size_t)(end - begin);
  char *out = (char *)malloc(n + 1);
  if (!out) return nullptr;
  memcpy(out, begin, n);
  out[n] = 0;
  return out;
}

// Steps over a raw (non-string) value from p: up to a comma or the closing bracket of the
// array (or, with `closer` '}', the object) it is in, at its own level. Answers its end, or
// null when a string inside it never ends.
static const char *raw_end(const char *p, char closer) {
  int depth = 0;
  while (*p) {
    char c = *p;
    if (depth == 0 && (c == ',' || c == closer)) break;
    if (c == '[' || c == '{') depth++;
    else if (c == ']' || c == '}') depth--;
    else if (c == '"') {
      const char *close = string_end(p);
      if (!close) return nullptr;
      p = close;
    }
    p++;
  }
  return p;
}

// The value at p (a string unescaped, anything else as its raw text without trailing
// white space), and where it ends in *after.
static char *read_value(const char *p, char closer, const char **after) {
  if (*p == '"') {
    const char *close = string_end(p);
    if (!close) return nullptr;
    *after = close + 1;
    return json_unescape(p + 1, close);
  }
  const char *end = raw_end(p, closer);
  if (!end) return nullptr;
  *after = end;
  while (end > p && is_space(end[-1])) end--;
  return copy_bytes(p, end);
}

// Where element `index` of the array text `args` begins, or null when there is none.
static const char *element_at(const char *args, int index) {
  if (!args || index < 0) return nullptr;
  const char *p = skip_space(args);
  if (*p != '[') return nullptr;
  p++;
  for (int counter = 0;; counter++) {
    p = skip_space(p);
    if (!*p || *p == ']') return nullptr;
    if (counter == index) return p;
    // Skipped elements are only stepped over, never copied.
    if (*p == '"') {
      const char *close = string_end(p);
      if (!close) return nullptr;
      p = close + 1;
    } else {
      p = raw_end(p, ']');
      if (!p) return nullptr;
    }
    p = skip_space(p);
    if (*p == ',') p++;
  }
}

char *json_arg(const char *args, int index) {
  const char *p = element_at(args, index);
  if (!p) return nullptr;
  const char *after = nullptr;
  return read_value(p, ']', &after);
}

bool json_arg_in_place(std::string *args, int index) {
  if (!args) return false;
  const char *text = args->c_str();
  const char *p = element_at(text, index);
  if (!p) return false;
  char *out = &(*args)[0];
  size_t length;
  if (*p == '"') {
    const char *close = string_end(p);
    if (!close) return false;
    // Decoding writes no further than it has read, so it may run over its own input.
    length = (size_t)(unescape_to(p + 1, close, out) - out);
  } else {
    const char *end = raw_end(p, ']');
    if (!end) return false;
    while (end > p && is_space(end[-1])) end--;
    length = (size_t)(end - p);
    memmove(out, p, length);
  }
  args->resize(length);
  return true;
}

char *json_member(const char *object, const char *key) {
  if (!object || !key) return nullptr;
  const char *p = skip_space(object);
  if (*p != '{') return nullptr;
  p++;
  for (;;) {
    p = skip_space(p);
    if (*p != '"') return nullptr;
    const char *close = string_end(p);
    if (!close) return nullptr;
    char *name = json_unescape(p + 1, close);
    if (!name) return nullptr;
    bool wanted = strcmp(name, key) == 0;
    free(name);
    p = skip_space(close + 1);
    if (*p != ':') return nullptr;
    p = skip_space(p + 1);
    if (!*p) return nullptr;
    const char *after = nullptr;
    char *value = read_value(p, '}', &after);
    if (!value || wanted) return value;
    free(value);
    p = skip_space(after);
    if (*p != ',') return nullptr;
    p++;
  }
}

bool json_member_span(const char *object, const char *key, const char **begin, const char **end) {
  if (!object || !key || !begin || !end) return false;
  const char *p = skip_space(object);
  if (*p != '{') return false;
  p++;
  size_t key_length = strlen(key);
  for (;;) {
    p = skip_space(p);
    if (*p != '"') return false;
    const char *close = string_end(p);
    if (!close) return false;
    // A name with escapes is decoded to compare it; a plain one is compared where it is.
    bool wanted;
    if (memchr(p + 1, '\\', (size_t)(close - p - 1))) {
      char *name = json_unescape(p + 1, close);
      if (!name) return false;
      wanted = strcmp(name, key) == 0;
      free(name);
    } else {
      wanted = (size_t)(close - p - 1) == key_length && memcmp(p + 1, key, key_length) == 0;
    }
    p = skip_space(close + 1);
    if (*p != ':') return false;
    p = skip_space(p + 1);
    if (!*p) return false;
    const char *value_end;
    if (*p == '"') {
      const char *value_close = string_end(p);
      if (!value_close) return false;
      value_end = value_close + 1;
    } else {
      value_end = raw_end(p, '}');
      if (!value_end) return false;
      while (value_end > p && is_space(value_end[-1])) value_end--;
    }
    if (wanted) {
      *begin = p;
      *end = value_end;
      return true;
    }
    p = skip_space(value_end);
    if (*p != ',') return false;
    p++;
  }
}

static int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The four hex digits at p, or -1 when one of them is not a hex digit.
static long hex4(const char *p) {
  long v = 0;
  for (int i = 0; i < 4; i++) {
    int d = hex_value(p[i]);
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

static char *put_utf8(char *o, uint32_t cp) {
  if (cp < 0x80) {
    *o++ = (char)cp;
  } else if (cp < 0x800) {
    *o++ = (char)(0xC0 | (cp >> 6));
    *o++ = (char)(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *o++ = (char)(0xE0 | (cp >> 12));
    *o++ = (char)(0x80 | ((cp >> 6) & 0x3F));
    *o++ = (char)(0x80 | (cp & 0x3F));
  } else {
    *o++ = (char)(0xF0 | (cp >> 18));
    *o++ = (char)(0x80 | ((cp >> 12) & 0x3F));
    *o++ = (char)(0x80 | ((cp >> 6) & 0x3F));
    *o++ = (char)(0x80 | (cp & 0x3F));
  }
  return o;
}

char *json_unescape(const char *begin, const char *end) {
  if (!begin || !end || end < begin) return nullptr;
  // Every escape decodes to no more bytes than it takes up, so the input's length is
  // enough for the output.
  char *out = (char *)malloc((size_t)(end - begin) + 1);
  if (!out) return nullptr;
  *unescape_to(begin, end, out) = 0;
  return out;
}

static char *unescape_to(const char *begin, const char *end, char *out) {
  char *o = out;
  const char *p = begin;
  while (p < end) {
    if (*p != '\\') {
      *o++ = *p++;
      continue;
    }
    if (end - p < 2) break;  // a lone backslash at the very end carries nothing
    char e = p[1];
    switch (e) {
      case 'b': *o++ = '\b'; p += 2; continue;
      case 'f': *o++ = '\f'; p += 2; continue;
      case 'n': *o++ = '\n'; p += 2; continue;
      case 'r': *o++ = '\r'; p += 2; continue;
      case 't': *o++ = '\t'; p += 2; continue;
      case 'u': break;
      default: *o++ = e; p += 2; continue;
    }
    if (end - p < 6) break;  // a cut-off \u escape ends the text at its backslash
    long unit = hex4(p + 2);
    p += 6;
    if (unit < 0) {
      o = put_utf8(o, 0xFFFD);
      continue;
    }
    uint32_t cp = (uint32_t)unit;
    if (unit >= 0xD800 && unit <= 0xDBFF && end - p >= 6 && p[0] == '\\' && p[1] == 'u') {
      long low = hex4(p + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + (uint32_t)((unit - 0xD800) * 1024 + (low - 0xDC00));
        p += 6;
      }
    }
    o = put_utf8(o, cp);
  }
  return o;
}

char *json_quote(const char *bytes, size_t length) {
  if (!bytes && length) return nullptr;
  if (length > (SIZE_MAX - 3) / 6) return nullptr;
  char *out = (char *)malloc(6 * length + 3);
  if (!out) return nullptr;
  static const char digits[] = "0123456789abcdef";
  char *o = out;
  *o++ = '"';
  for (size_t i = 0; i < length; i++) {
    unsigned char c = (unsigned char)bytes[i];
    if (c == '"' || c == '\\') {
      *o++ = '\\';
      *o++ = (char)c;
    } else if (c < 0x20) {
      *o++ = '\\';
      *o++ = 'u';
      *o++ = '0';
      *o++ = '0';
      *o++ = digits[c >> 4];
      *o++ = digits[c & 15];
    } else {
      *o++ = (char)c;
    }
  }
  *o++ = '"';
  *o = 0;
  return out;
}

std::string json_quoted(const std::string &text) {
  char *quoted = json_quote(text.data(), text.size());
  if (!quoted) return "null";
  std::string out(quoted);
  free(quoted);
  return out;
}

namespace {

// A strict reader that only answers whether the text is JSON; depth bounds the recursion.
struct validator {
  const char *p, *end;

  void space() {
    while (p < end && is_space(*p)) p++;
  }
  bool literal(const char *word) {
    size_t n = strlen(word);
    if ((size_t)(end - p) < n || memcmp(p, word, n) != 0) return false;
    p += n;
    return true;
  }
  bool digits() {
    const char *start = p;
    while (p < end && *p >= '0' && *p <= '9') p++;
    return p > start;
  }
  bool number() {
    if (p < end && *p == '-') p++;
    if (p < end && *p == '0') p++;
    else if (!digits()) return false;
    if (p < end && *p == '.') {
      p++;
      if (!digits()) return false;
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
      p++;
      if (p < end && (*p == '+' || *p == '-')) p++;
      if (!digits()) return false;
    }
    return true;
  }
  bool string() {
    p++;  // the opening quote
    while (p < end) {
      unsigned char c = (unsigned char)*p++;
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c != '\\') continue;
      if (p >= end) return false;
      char e = *p++;
      if (e == 'u') {
        if (end - p < 4 || hex4(p) < 0) return false;
        p += 4;
      } else if (!strchr("\"\\/bfnrt", e) || !e) {
        return false;
      }
    }
    return false;
  }
  bool value(int depth) {
    if (depth > 256) return false;
    space();
    if (p >= end) return false;
    char c = *p;
    if (c == '"') return string();
    if (c == '{' || c == '[') {
      char close = c == '{' ? '}' : ']';
      p++;
      space();
      if (p < end && *p == close) return p++, true;
      for (;;) {
        if (c == '{') {
          space();
          if (p >= end || *p != '"' || !string()) return false;
          space();
          if (p >= end || *p++ != ':') return false;
        }
        if (!value(depth + 1)) return false;
        space();
        if (p >= end) return false;
        if (*p == close) return p++, true;
        if (*p++ != ',') return false;
      }
    }
    if (c == 't') return literal("true");
    if (c == 'f') return literal("false");
    if (c == 'n') return literal("null");
    return number();
  }
};

}  // namespace

bool json_valid(const std::string &text) {
  validator v{text.data(), text.data() + text.size()};
  if (!v.value(0)) return false;
  v.space();
  return v.p == v.end;
}
