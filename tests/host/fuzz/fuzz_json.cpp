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

  for (const char *key : {"id", "method", "params"}) free(json_member(text.c_str(), key));
  json_valid(text);
  std::string repaired = utf8_repair(text);
  assert(utf8_valid(repaired));
  assert(json_valid(json_quoted(text)));
  return 0;
}
