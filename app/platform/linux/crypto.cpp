#include "app/platform/crypto.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <stdio.h>
#include <string.h>

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

// The DER header of a P-256 public key (SubjectPublicKeyInfo: id-ecPublicKey, prime256v1,
// a bit string of 66 bytes); the raw point follows it. Going through the DER form lets the
// library check the point the way it checks every key it reads.
static const unsigned char p256_key_header[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                                0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                                0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};

static EVP_PKEY *p256_public_key(const unsigned char point[65]) {
  unsigned char der[sizeof p256_key_header + 65];
  memcpy(der, p256_key_header, sizeof p256_key_header);
  memcpy(der + sizeof p256_key_header, point, 65);
  const unsigned char *p = der;
  return d2i_PUBKEY(nullptr, &p, sizeof der);
}

// The library checks DER signatures; r and s become one.
static bool der_signature(const unsigned char signature[64], std::vector<unsigned char> *der) {
  ECDSA_SIG *sig = ECDSA_SIG_new();
  BIGNUM *r = BN_bin2bn(signature, 32, nullptr), *s = BN_bin2bn(signature + 32, 32, nullptr);
  bool ok = sig && r && s && ECDSA_SIG_set0(sig, r, s) == 1;
  if (!ok) {
    BN_free(r);
    BN_free(s);
  }
  int n = ok ? i2d_ECDSA_SIG(sig, nullptr) : 0;
  if (n > 0) {
    der->resize((size_t)n);
    unsigned char *out = der->data();
    ok = i2d_ECDSA_SIG(sig, &out) == n;
  } else {
    ok = false;
  }
  ECDSA_SIG_free(sig);
  return ok;
}

bool ecdsa_p256_verify(const unsigned char public_point[65], const void *data, size_t length,
                       const unsigned char signature[64]) {
  if (public_point[0] != 0x04) return false;
  std::vector<unsigned char> der;
  if (!der_signature(signature, &der)) return false;
  EVP_PKEY *key = p256_public_key(public_point);
  EVP_MD_CTX *ctx = key ? EVP_MD_CTX_new() : nullptr;
  bool ok = ctx && EVP_DigestVerifyInit(ctx, nullptr, EVP_sha256(), nullptr, key) == 1 &&
            EVP_DigestVerify(ctx, der.data(), der.size(), (const unsigned char *)data, length) == 1;
  EVP_MD_CTX_free(ctx);
  EVP_PKEY_free(key);
  return ok;
}
