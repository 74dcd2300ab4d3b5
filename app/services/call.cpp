#include "app/services/call.h"

#include <stdlib.h>
#include <string.h>

#include "app/common/json_text.h"
#include "app/services/host_link.h"

bool arg_text(const char *args, int index, std::string *out) {
  char *text = json_arg(args ? args : "", index);
  if (!text) return false;
  out->assign(text);
  free(text);
  return true;
}

bool arg_bool(const char *args, int index) {
  std::string text;
  return arg_text(args, index, &text) && text == "true";
}

void reply_raw(const char *id, const char *result) { the_host().reply(id, result); }

void reply_string(const char *id, const char *bytes, size_t length) {
  char *quoted = json_quote(bytes, length);
  the_host().reply(id, quoted ? quoted : "null");
  free(quoted);
}
