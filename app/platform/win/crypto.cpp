#include "app/platform/crypto.h"

#include <windows.h>
#include <bcrypt.h>
#include <string.h>

#include <vector>

#include "app/platform/win/wide.h"

bool sha256_file(const std::string &path, unsigned char digest[32]) {
  HANDLE file = CreateFileW(widen(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
            BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
  std::vector<unsigned char> block(65536);
  while (ok) {
    DWORD n = 0;
    if (!ReadFile(file, block.data(), (DWORD)block.size(), &n, nullptr)) ok = false;
    else if (n == 0) break;
    else ok = BCRYPT_SUCCESS(BCryptHashData(hash, block.data(), n, 0));
  }
  if (ok) ok = BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, 32, 0));
  if (hash) BCryptDestroyHash(hash);
  if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
  CloseHandle(file);
  return ok;
}

void memory_wipe(void *data, size_t length) { SecureZeroMemory(data, length); }

static bool sha256_bytes(const void *data, size_t length, unsigned char digest[32]) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = length <= 0xffffffffu &&
            BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
            BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)) &&
            BCRYPT_SUCCESS(BCryptHashData(hash, (PUCHAR)data, (ULONG)length, 0)) &&
            BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, 32, 0));
  if (hash) BCryptDestroyHash(hash);
  if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
  return ok;
}

bool ecdsa_p256_verify(const unsigned char public_point[65], const void *data, size_t length,
                       const unsigned char signature[64]) {
  if (public_point[0] != 0x04) return false;
  unsigned char digest[32];
  if (!sha256_bytes(data, length, digest)) return false;
  // The key blob: its header, then x and y as they follow the point's 0x04.
  unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
  BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  memcpy(blob, &header, sizeof header);
  memcpy(blob + sizeof header, public_point + 1, 64);
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_KEY_HANDLE key = nullptr;
  bool ok = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)) &&
            BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob,
                                               (ULONG)sizeof blob, 0)) &&
            BCryptVerifySignature(key, nullptr, digest, sizeof digest, (PUCHAR)signature, 64, 0) == 0;
  if (key) BCryptDestroyKey(key);
  if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
  return ok;
}
