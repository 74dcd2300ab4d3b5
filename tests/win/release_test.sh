#!/usr/bin/env bash
# The release command's Windows asset: scripts/release.sh, asked for Windows only and given
# this build folder, leaves mosswire.exe (stripped, a GUI x86-64 program that imports only
# system libraries) and SHA256SUMS.txt with its line, and the Windows self-update's own
# check (release_asset_check, under Wine) accepts the pair.
#   release_test.sh SOURCE_DIR WIN_BUILD_DIR RELEASE_ASSET_CHECK OBJDUMP
set -euo pipefail
src=$1 build=$2 check=$3 objdump=$4
# Inside the build folder, so that Wine reaches it by a relative path.
out_name=release-test-$$
out=$PWD/$out_name
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

MOSSWIRE_RELEASE_PLATFORMS=windows MOSSWIRE_RELEASE_WIN_BUILD_DIR=$build \
  bash "$src/scripts/release.sh" "$out" >"$out.log" 2>&1 || { cat "$out.log"; rm -f "$out.log"; fail "scripts/release.sh"; }
rm -f "$out.log"
[[ -f $out/mosswire.exe ]] || fail "no mosswire.exe"
[[ $(ls "$out") == $'SHA256SUMS.txt\nmosswire.exe' ]] || fail "unexpected files: $(ls "$out" | tr '\n' ' ')"
[[ $(wc -l <"$out/SHA256SUMS.txt") == 1 ]] || fail "expected one line: $(cat "$out/SHA256SUMS.txt")"
grep -Eq '^[0-9a-f]{64}  mosswire.exe$' "$out/SHA256SUMS.txt" || fail "not sha256sum's line: $(cat "$out/SHA256SUMS.txt")"
(cd "$out" && sha256sum --check --strict --quiet SHA256SUMS.txt) || fail "SHA256SUMS.txt does not check with sha256sum"
"$objdump" -h "$out/mosswire.exe" | grep -q '\.debug' && fail "mosswire.exe is not stripped"
sh "$src/tests/win/imports_test.sh" "$objdump" "$out/mosswire.exe" || fail "mosswire.exe needs more than system libraries"

sh "$src/tests/win/in_wine.sh" "$check" "$out_name" || fail "the self-update's check refuses the release"

# A list whose line belongs to another file's bytes is refused by the same check.
printf 'x' >>"$out/mosswire.exe"
if sh "$src/tests/win/in_wine.sh" "$check" "$out_name" >/dev/null; then fail "a changed mosswire.exe still checks"; fi
echo "release: mosswire.exe and its SHA256SUMS.txt line, accepted by the self-update's check"
