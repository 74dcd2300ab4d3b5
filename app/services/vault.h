#pragma once
// The page's storage: its sealed vault file, and the wipe of this device's data.

void msw_read_vault(const char *id, const char *args, void *user);
void msw_write_vault(const char *id, const char *args, void *user);
void msw_wipe(const char *id, const char *args, void *user);
