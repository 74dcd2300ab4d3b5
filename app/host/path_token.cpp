#include "path_token.h"

#include <stdio.h>

#include "app/platform/random.h"

int make_path_token(char out[33]) {
  unsigned char bytes[16];
  if (!random_bytes(bytes, sizeof bytes)) return -1;
  for (int i = 0; i < 16; i++) snprintf(out + 2 * i, 3, "%02x", bytes[i]);
  return 0;
}
