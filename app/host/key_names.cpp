#include "key_names.h"

#include <string.h>

#include "bridge_contract.h"

int blackout_key_code(const char *name) {
  if (!name || !*name) return 0;
  for (const contract_key &key : contract_keys)
    if (strcmp(key.name, name) == 0) return key.code;
  return 0;
}
