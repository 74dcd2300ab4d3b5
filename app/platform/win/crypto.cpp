#include "app/platform/crypto.h"

#include <windows.h>
#include <bcrypt.h>

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
