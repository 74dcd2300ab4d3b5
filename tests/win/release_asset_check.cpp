// Checks a release folder the way the Windows self-update does: SHA256SUMS.txt.sig must be
// the owner's signature of SHA256SUMS.txt, which must name this platform's asset
// (release_asset_name) with the SHA-256 of the asset's bytes.
//
//   release_asset_check FOLDER OWNER_KEY   (exit 0 when the asset checks, 1 otherwise)
#include <stdio.h>
#include <string.h>

#include <fstream>
#include <iterator>
#include <string>

#include "app/platform/crypto.h"
#include "app/platform/process.h"
#include "app/services/update_check.h"
#include "app/services/update_signature.h"

static std::string read_all(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int main(int argc, char **argv) {
  unsigned char owner[65];
  if (argc != 3 || !owner_key_point(argv[2], owner)) {
    fprintf(stderr, "usage: release_asset_check FOLDER OWNER_KEY\n");
    return 2;
  }
  std::string folder = argv[1];
  std::string list = read_all(folder + "\\SHA256SUMS.txt");
  if (check_release_signature(list, read_all(folder + "\\SHA256SUMS.txt.sig"), owner) != signature_good) {
    printf("FAIL: SHA256SUMS.txt.sig is not the owner's signature of SHA256SUMS.txt\n");
    return 1;
  }
  unsigned char listed[32], actual[32];
  if (!find_checksum(list.data(), list.size(), release_asset_name, listed)) {
    printf("FAIL: SHA256SUMS.txt has no line for %s\n", release_asset_name);
    return 1;
  }
  if (!sha256_file(folder + "\\" + release_asset_name, actual)) {
    printf("FAIL: %s can't be read\n", release_asset_name);
    return 1;
  }
  if (memcmp(listed, actual, sizeof actual) != 0) {
    printf("FAIL: the listed SHA-256 is not the one of %s\n", release_asset_name);
    return 1;
  }
  printf("%s checks against SHA256SUMS.txt, which the owner signed\n", release_asset_name);
  return 0;
}
