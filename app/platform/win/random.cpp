#include "app/platform/random.h"

#include <windows.h>
#include <bcrypt.h>

bool random_bytes(unsigned char *out, size_t length) {
  size_t done = 0;
  while (done < length) {
    ULONG piece = length - done > 0x40000000 ? 0x40000000 : (ULONG)(length - done);
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, out + done, piece, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
      return false;
    done += piece;
  }
  return true;
}
