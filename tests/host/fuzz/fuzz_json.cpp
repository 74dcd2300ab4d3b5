// libFuzzer target: the JSON codec (arguments, call messages, the check of results) on
// arbitrary bytes. Besides the sanitizers' checks it holds the routines to their
// promises: no output outgrows its input's bound, and quoting then reading gives back
// the bytes.
#include <assert.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "utf8.h"
#include "json_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text((const char *)data, size);  // NUL-terminated copy for json_arg
  int index = size ? data[0] % 8 : 0;

  char *arg = json_arg(text.c_str(), index);
  if (arg) assert(strlen(arg) <= size);
  // Decoding over the input itself gives exactly what decoding into a new buffer does.
  std::string in_place(text.c_str());
  bool found = json_arg_in_place(&in_place, index);
  assert(found == (arg != nullptr));
  if (arg) assert(in_place == arg);
  free(arg);

  char *plain = json_unescape(text.data(), text.data() + size);
  assert(plain);
  free(plain);

  char *quoted = json_quote(text.data(), size);
  assert(quoted);
  std::string array = std::string("[") + quoted + "]";
  free(quoted);
  char *back = json_arg(array.c_str(), 0);
  assert(back);
  if (!memchr(data, 0, size)) assert(strlen(back) == size && memcmp(back, data, size) == 0);
  free(back);

  for (const char *key : {"id", "method", "params"}) {
    // The span of a member holds what json_member answers: its raw text, or a string
    // that decodes to it.
    char *value = json_member(text.c_str(), key);
    const char *begin = nullptr, *end = nullptr;
    bool spanned = json_member_span(text.c_str(), key, &begin, &end);
    assert(spanned == (value != nullptr));
    if (value) {
      assert(begin >= text.c_str() && begin <= end && end <= text.c_str() + strlen(text.c_str()));
      if (begin < end && *begin == '"') {
        char *decoded = json_unescape(begin + 1, end - 1);
        assert(decoded && strcmp(decoded, value) == 0);
        free(decoded);
      } else {
        assert(std::string(begin, end) == value);
      }
    }
    free(value);
  }
  json_valid(text);
  std::string repaired = utf8_repair(text);
  assert(utf8_valid(repaired));
  assert(json_valid(json_quoted(text)));
  return 0;
}
