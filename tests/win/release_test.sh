#!/usr/bin/env bash
# The release command's Windows asset: scripts/release.sh, asked for Windows only, given a
# network's settings and the tests' owner key (tests/keys), and a release build folder of
# its own inside this build folder, leaves mosswire.exe (stripped, a GUI x86-64 program
# that imports only system libraries), SHA256SUMS.txt with its line and the owner's
# signature of it, and the Windows self-update's own checks (release_asset_check, under
# Wine: the signature with BCrypt, then the checksum) accept them.
#   release_test.sh SOURCE_DIR WIN_BUILD_DIR RELEASE_ASSET_CHECK OBJDUMP
set -euo pipefail
src=$1 build=$2 check=$3 objdump=$4
# Inside the build folder, so that Wine reaches it by a relative path.
out_name=release-test-$$
out=$PWD/$out_name
owner=$PWD/release-test-owner-$$
trap 'rm -rf "$out" "$out.log" "$owner"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir -p "$owner/.mosswire"
cp "$src/tests/keys/release-owner.json" "$owner/.mosswire/owner.json"
HOME=$owner MOSSWIRE_OWNER_CERT_FILE=$owner/cert.json node "$src/tools/owner.js" cert >/dev/null
owner_key=$(HOME=$owner node "$src/tools/owner.js" key)
# The release build folder stays between runs (release.sh configures it afresh each time).
HOME=$owner MOSSWIRE_OWNER_CERT_FILE=$owner/cert.json MOSSWIRE_SERVER=wss://relay.mosswire-network.net \
  MOSSWIRE_UPDATES=https://api.github.com/repos/someone/mosswire/releases \
  MOSSWIRE_DOWNLOAD_BASE=https://github.com/someone/mosswire \
  MOSSWIRE_RELEASE_PLATFORMS=windows MOSSWIRE_RELEASE_WIN_BUILD_DIR=$build/release-build-win \
  bash "$src/scripts/release.sh" "$out" >"$out.log" 2>&1 || { cat "$out.log"; fail "scripts/release.sh"; }
[[ -f $out/mosswire.exe ]] || fail "no mosswire.exe"
[[ $(ls "$out") == $'SHA256SUMS.txt\nSHA256SUMS.txt.sig\nmosswire.exe' ]] || fail "unexpected files: $(ls "$out" | tr '\n' ' ')"
[[ $(wc -l <"$out/SHA256SUMS.txt") == 1 ]] || fail "expected one line: $(cat "$out/SHA256SUMS.txt")"
grep -Eq '^[0-9a-f]{64}  mosswire.exe$' "$out/SHA256SUMS.txt" || fail "not sha256sum's line: $(cat "$out/SHA256SUMS.txt")"
(cd "$out" && sha256sum --check --strict --quiet SHA256SUMS.txt) || fail "SHA256SUMS.txt does not check with sha256sum"
"$objdump" -h "$out/mosswire.exe" | grep -q '\.debug' && fail "mosswire.exe is not stripped"
sh "$src/tests/win/imports_test.sh" "$objdump" "$out/mosswire.exe" || fail "mosswire.exe needs more than system libraries"

grep -qaF "$owner_key" "$out/mosswire.exe" || fail "mosswire.exe does not carry the owner key"

sh "$src/tests/win/in_wine.sh" "$check" "$out_name" "$owner_key" || fail "the self-update's check refuses the release"

# A list changed after signing, or a file whose bytes are not the listed ones, is refused
# by the same checks.
cp "$out/SHA256SUMS.txt" "$out/list.kept"
sed -i 's/  mosswire.exe/ *mosswire.exe/' "$out/SHA256SUMS.txt"
if sh "$src/tests/win/in_wine.sh" "$check" "$out_name" "$owner_key" >/dev/null; then fail "a changed list still checks"; fi
mv "$out/list.kept" "$out/SHA256SUMS.txt"
printf 'x' >>"$out/mosswire.exe"
if sh "$src/tests/win/in_wine.sh" "$check" "$out_name" "$owner_key" >/dev/null; then fail "a changed mosswire.exe still checks"; fi
echo "release: mosswire.exe, its SHA256SUMS.txt line and the owner's signature, accepted by the self-update's checks"
