#include "path_token.h"

#include <errno.h>
#include <stdio.h>
#include <sys/random.h>

int make_path_token(char out[33]) {
  unsigned char bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    got += (size_t)n;
  }
  for (int i = 0; i < 16; i++) snprintf(out + 2 * i, 3, "%02x", bytes[i]);
  return 0;
}
