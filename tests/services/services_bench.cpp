// Prints how long the native file work takes on this machine: the vault save with its two
// syncs (the price of surviving a power cut), the vault read, the attempt counter's
// read-modify-write, and SHA-256 over a release-sized file. Figures only; nothing fails.
#include <stdio.h>

#include <chrono>
#include <string>

#include "app/platform/crypto.h"
#include "app/platform/files.h"
#include "app/services/app_files.h"
#include "app/services/update_check.h"
#include "tests/services/host_double.h"
#include "tests/services/test_env.h"

template <class F>
static double per_call_ms(int rounds, F work) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; i++) work();
  std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  return took.count() / rounds;
}

int main() {
  isolate_environment(false);
  std::string vault(64 * 1024, 'v');  // a vault of a busy member, about 64 KiB
  std::string args = "[\"" + vault + "\"]";
  printf("msw_write_vault, 64 KiB, fsync + rename + folder fsync: %.3f ms per save\n",
         per_call_ms(50, [&] { call_binding_answered("msw_write_vault", args.c_str()); }));
  printf("msw_read_vault, 64 KiB: %.3f ms per read\n",
         per_call_ms(200, [&] { call_binding_answered("msw_read_vault", "[]"); }));
  printf("msw_pin_result + msw_pin_start: %.3f ms per pair\n", per_call_ms(50, [&] {
           call_binding("msw_pin_result", "[false]");
           call_binding("msw_pin_start", "[]");
         }));
  std::string release = test_home() + "/release.bin";
  std::string bytes(64 * 1024 * 1024, '\0');
  for (size_t i = 0; i < bytes.size(); i += 4096) bytes[i] = (char)i;
  file_replace_atomic(release, release + ".tmp", bytes.data(), bytes.size(), 0600);
  unsigned char digest[32];
  double ms = per_call_ms(3, [&] { sha256_file(release, digest); });
  printf("sha256_file, 64 MiB in 64 KiB blocks: %.1f ms (%.0f MiB/s)\n", ms, 64 / (ms / 1000));
  return 0;
}
