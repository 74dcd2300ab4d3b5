#include "own_address.h"

std::string own_address_prefix(const std::string &loaded) {
  size_t authority = loaded.find("://");
  size_t path = authority == std::string::npos ? std::string::npos : loaded.find('/', authority + 3);
  return path == std::string::npos ? loaded : loaded.substr(0, loaded.rfind('/') + 1);
}

bool is_own_address(const std::string &prefix, const std::string &address) {
  if (prefix.empty()) return false;
  if (prefix.back() != '/') return prefix == address;
  return address.compare(0, prefix.size(), prefix) == 0;
}
