#pragma once
// The owner key file (owner_key_path), written by the owner's tools and only read here.
#include <stddef.h>

#include <string>

// The value of the string field name in the first 8191 bytes of content, found by plain
// text search (not a JSON parse), when its length lies within [shortest, longest].
bool find_owner_field(const std::string &content, const char *name, size_t shortest,
                      size_t longest, std::string *value);

void msw_owner_key(const char *id, const char *args, void *user);
void msw_owner_secret(const char *id, const char *args, void *user);
