#!/usr/bin/env bash
# Makes a release: the program for the self-update as one file per platform (the page
# files are built into each), mosswire-linux-x86_64 and mosswire.exe for Windows x86-64,
# the Debian package, SHA256SUMS.txt listing them in sha256sum's format, which is what a
# running copy checks a download against, and SHA256SUMS.txt.sig, the owner's signature of
# that list (node tools/owner.js sign), without which no copy installs anything.
#
#   bash scripts/release.sh [OUT_DIR]        (default: release/)
#
# Every member's program installs what a release holds, so it is made only for a real
# network: MOSSWIRE_SERVER (the relay's wss:// address on a real host), MOSSWIRE_UPDATES
# (the release list), MOSSWIRE_DOWNLOAD_BASE (where releases are downloaded from) must be
# set, and the owner certificate (MOSSWIRE_OWNER_CERT_FILE, config/owner-cert.json by
# default) must belong to the owner key in ~/.mosswire/owner.json, which signs the list.
# Otherwise nothing is built and the exit status is 1 (scripts/release-settings.js says
# what is missing). The settings are printed before the build and with the result.
#
# The Linux build is a Release build in build-release/, the Windows one is cross-built
# with MinGW-w64 in build-release-win/ (MOSSWIRE_RELEASE_BUILD_DIR and
# MOSSWIRE_RELEASE_WIN_BUILD_DIR choose other folders); each is configured afresh with
# these settings on every run, so nothing of an earlier configuration is carried over.
# MOSSWIRE_RELEASE_PLATFORMS ("linux windows" by default) names the platforms to make.
# Upload the files of OUT_DIR to the release whose tag is "v" and the version in
# CMakeLists.txt.
set -euo pipefail
# Made absolute where it was given (the build reads it from its own folder).
if [[ -n ${MOSSWIRE_OWNER_CERT_FILE:-} ]]; then MOSSWIRE_OWNER_CERT_FILE=$(realpath -m "$MOSSWIRE_OWNER_CERT_FILE"); fi
cd "$(dirname "$0")/.."
export MOSSWIRE_OWNER_CERT_FILE=${MOSSWIRE_OWNER_CERT_FILE:-$PWD/config/owner-cert.json}

out=${1:-release}
build=${MOSSWIRE_RELEASE_BUILD_DIR:-build-release}
win_build=${MOSSWIRE_RELEASE_WIN_BUILD_DIR:-build-release-win}
platforms=${MOSSWIRE_RELEASE_PLATFORMS:-linux windows}
asset=mosswire-linux-x86_64
win_asset=mosswire.exe

want() { [[ " $platforms " == *" $1 "* ]]; }
want linux || want windows || { echo "release.sh: no platform in '$platforms'" >&2; exit 1; }

command -v node >/dev/null || bash scripts/deps.sh
settings_text=$(node scripts/release-settings.js) || exit 1
echo "Release settings:"
echo "$settings_text"

if [[ $(uname -m) != x86_64 ]]; then
  echo "release.sh: $asset is built on an x86_64 machine, not on $(uname -m)" >&2
  exit 1
fi
command -v cmake >/dev/null || bash scripts/deps.sh
if want windows && ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then bash scripts/deps.sh; fi

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
settings=(-DCMAKE_BUILD_TYPE=Release -DMOSSWIRE_TESTS=OFF)
for name in MOSSWIRE_SERVER MOSSWIRE_OWNER_CERT_FILE MOSSWIRE_UPDATES MOSSWIRE_DOWNLOAD_BASE; do
  settings+=("-D$name=${!name}")
done

# A fresh configuration: a cache left from an earlier run keeps every setting it was given,
# and a release must carry exactly the ones checked above. Built files stay for reuse.
configure() {
  local dir=$1
  shift
  rm -f "$dir/CMakeCache.txt"
  cmake -S . -B "$dir" "${generator[@]}" "$@" "${settings[@]}" >/dev/null
}

files=()
mkdir -p "$out"
# Written beside the old files and renamed into place, so an interrupted run never leaves
# a checksum list (or signature) that does not match the files next to it.
rm -f "$out/SHA256SUMS.txt" "$out/SHA256SUMS.txt.sig"

if want linux; then
  configure "$build"
  # The package target builds the program (and everything else configured) first.
  cmake --build "$build" -j2 --target package
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  deb="$build/mosswire_${version}_amd64.deb"
  [[ -f $deb ]] || { echo "release.sh: the package $deb was not made" >&2; exit 1; }
  strip --strip-all -o "$out/$asset.new" "$build/mosswire"
  chmod 755 "$out/$asset.new"
  mv -f "$out/$asset.new" "$out/$asset"
  cp "$deb" "$out/$(basename "$deb").new"
  mv -f "$out/$(basename "$deb").new" "$out/$(basename "$deb")"
  file -b "$out/$asset" | grep -q 'ELF 64-bit LSB .*x86-64' ||
    { echo "release.sh: $out/$asset is not an x86-64 program: $(file -b "$out/$asset")" >&2; exit 1; }
  files+=("$asset" "$(basename "$deb")")
fi

if want windows; then
  configure "$win_build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
  cmake --build "$win_build" -j2 --target mosswire
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$win_build/CMakeCache.txt")
  x86_64-w64-mingw32-strip --strip-all -o "$out/$win_asset.new" "$win_build/mosswire.exe"
  mv -f "$out/$win_asset.new" "$out/$win_asset"
  file -b "$out/$win_asset" | grep -q 'PE32+ executable (GUI) x86-64' ||
    { echo "release.sh: $out/$win_asset is not a Windows x86-64 program: $(file -b "$out/$win_asset")" >&2; exit 1; }
  files+=("$win_asset")
fi

# Names only, no folders: the self-update looks for a line that ends in exactly the asset
# name. The list is signed before it takes its name, so a list is never there unsigned.
(cd "$out" && sha256sum "${files[@]}" >SHA256SUMS.txt.new)
node tools/owner.js sign "$out/SHA256SUMS.txt.new" >/dev/null
mv -f "$out/SHA256SUMS.txt.new.sig" "$out/SHA256SUMS.txt.sig"
mv -f "$out/SHA256SUMS.txt.new" "$out/SHA256SUMS.txt"

echo "Release v$version in $out/ (upload all of these to the release tagged v$version):"
(cd "$out" && cat SHA256SUMS.txt && echo "SHA256SUMS.txt" && echo "SHA256SUMS.txt.sig")
echo "Built with:"
echo "$settings_text"
