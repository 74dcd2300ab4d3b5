#include "app/services/update_signature.h"

#include <string.h>

#include "app/common/base64.h"
#include "app/platform/crypto.h"

bool owner_key_point(const std::string &key, unsigned char point[65]) {
  std::string bytes;
  if (key.size() != 88 || !base64_decode(key, &bytes) || bytes.size() != 65 || bytes[0] != 0x04) return false;
  memcpy(point, bytes.data(), 65);
  return true;
}

// One line: the Base64 text, then at most the line's end (an editor may have added one).
static bool signature_bytes(const std::string &text, unsigned char signature[64]) {
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r' || text[end - 1] == ' ' || text[end - 1] == '\t'))
    end--;
  std::string bytes;
  if (!base64_decode(text.substr(0, end), &bytes) || bytes.size() != 64) return false;
  memcpy(signature, bytes.data(), 64);
  return true;
}

signature_verdict check_release_signature(const std::string &list, const std::string &sig_text,
                                          const unsigned char owner_point[65]) {
  unsigned char signature[64];
  if (!signature_bytes(sig_text, signature)) return signature_damaged;
  return ecdsa_p256_verify(owner_point, list.data(), list.size(), signature) ? signature_good : signature_wrong;
}
