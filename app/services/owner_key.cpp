#include "app/services/owner_key.h"

#include <string.h>

#include "app/platform/files.h"
#include "app/services/call.h"

static const size_t owner_file_limit = 8191;

/*
 * A plain text search rather than a JSON parse: the two values are Base64, which holds
 * neither quotes nor backslashes, and the name must be followed directly by its closing
 * quote, so "sigPubOld" never matches "sigPub". Whatever lies between the name and the
 * value's opening quote is skipped unread.
 */
bool find_owner_field(const std::string &content, const char *name, size_t shortest,
                      size_t longest, std::string *value) {
  // Like a C string search, the content ends at its first zero byte.
  std::string text = content.substr(0, owner_file_limit);
  text = text.substr(0, strlen(text.c_str()));
  std::string key = std::string("\"") + name + "\"";
  size_t at = text.find(key);
  if (at == std::string::npos) return false;
  size_t open = text.find('"', at + key.size());
  if (open == std::string::npos) return false;
  size_t close = text.find('"', open + 1);
  if (close == std::string::npos) return false;
  size_t length = close - open - 1;
  if (length < shortest || length > longest) return false;
  *value = text.substr(open + 1, length);
  return true;
}

static void reply_owner_field(const char *id, const char *name, size_t shortest,
                              size_t longest) {
  std::string path, content, value;
  if (owner_key_path(&path)) file_read_head(path, owner_file_limit, &content);
  if (!find_owner_field(content, name, shortest, longest, &value)) return reply_null(id);
  reply_string(id, value.data(), value.size());
}

void msw_owner_key(const char *id, const char *, void *) {
  reply_owner_field(id, "sigPub", 88, 88);
}

void msw_owner_secret(const char *id, const char *, void *) {
  reply_owner_field(id, "sigPriv", 100, 400);
}
