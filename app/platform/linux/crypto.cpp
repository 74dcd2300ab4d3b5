#include "app/platform/crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <stdio.h>

#include <vector>

bool sha256_file(const std::string &path, unsigned char digest[32]) {
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return false;
  EVP_MD_CTX *ctx = EVP_MD_CTX_new();
  bool ok = ctx && EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) == 1;
  std::vector<unsigned char> block(65536);
  while (ok) {
    size_t n = fread(block.data(), 1, block.size(), f);
    if (n == 0) break;
    ok = EVP_DigestUpdate(ctx, block.data(), n) == 1;
  }
  unsigned int size = 0;
  if (ok && ferror(f)) ok = false;
  if (ok) ok = EVP_DigestFinal_ex(ctx, digest, &size) == 1 && size == 32;
  EVP_MD_CTX_free(ctx);
  fclose(f);
  return ok;
}

void memory_wipe(void *data, size_t length) { OPENSSL_cleanse(data, length); }
