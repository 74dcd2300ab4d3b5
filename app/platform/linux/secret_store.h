#pragma once
// The Linux secret store behind secret_protect/secret_unprotect, with the machine and user
// binding spelled out so tests can stand in another computer or account.
#include <stddef.h>

#include <string>

#include "app/platform/linux/device_key.h"

// Seals under the Secret Service's wrapping key (made and stored on first use), else under
// the key bound to the machine and user.
bool secret_protect_for(const device_binding &binding, const unsigned char *data, size_t length,
                        std::string *sealed);

// Opens a blob sealed by either method for this binding.
bool secret_unprotect_for(const device_binding &binding, const std::string &sealed, std::string *data);
