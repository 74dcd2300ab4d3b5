#include "app/platform/random.h"

#include <errno.h>
#include <sys/random.h>
#include <sys/types.h>

bool random_bytes(unsigned char *out, size_t length) {
  size_t done = 0;
  while (done < length) {
    ssize_t n = getrandom(out + done, length - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += (size_t)n;
  }
  return true;
}
