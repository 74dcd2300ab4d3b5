#!/usr/bin/env bash
# Makes a release: the program for the self-update as one file, mosswire-linux-x86_64 (the
# page files are built into it), the Debian package, and SHA256SUMS.txt listing both in
# sha256sum's format, which is what a running copy checks a download against.
#
#   bash scripts/release.sh [OUT_DIR]        (default: release/)
#
# The build is a Release build in build-release/ (MOSSWIRE_RELEASE_BUILD_DIR chooses
# another folder; an existing folder is built as it was configured). The build settings
# MOSSWIRE_SERVER, MOSSWIRE_OWNER_CERT_FILE, MOSSWIRE_UPDATES and MOSSWIRE_DOWNLOAD_BASE
# are taken from the environment when set. Upload the files of OUT_DIR to the release
# whose tag is "v" and the version in CMakeLists.txt.
set -euo pipefail
cd "$(dirname "$0")/.."

out=${1:-release}
build=${MOSSWIRE_RELEASE_BUILD_DIR:-build-release}
asset=mosswire-linux-x86_64

if [[ $(uname -m) != x86_64 ]]; then
  echo "release.sh: $asset is built on an x86_64 machine, not on $(uname -m)" >&2
  exit 1
fi
command -v cmake >/dev/null || bash scripts/deps.sh

if [[ ! -f $build/CMakeCache.txt ]]; then
  settings=(-DCMAKE_BUILD_TYPE=Release)
  for name in MOSSWIRE_SERVER MOSSWIRE_OWNER_CERT_FILE MOSSWIRE_UPDATES MOSSWIRE_DOWNLOAD_BASE; do
    [[ -n ${!name:-} ]] && settings+=("-D$name=${!name}")
  done
  generator=()
  command -v ninja >/dev/null && generator=(-G Ninja)
  cmake -S . -B "$build" "${generator[@]}" "${settings[@]}"
fi
# The package target builds the program (and everything else configured) first.
cmake --build "$build" -j2 --target package

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb="$build/mosswire_${version}_amd64.deb"
[[ -f $deb ]] || { echo "release.sh: the package $deb was not made" >&2; exit 1; }

# Written beside the old files and renamed into place, so an interrupted run never leaves
# a checksum list that does not match the files next to it.
mkdir -p "$out"
rm -f "$out/SHA256SUMS.txt"
strip --strip-all -o "$out/$asset.new" "$build/mosswire"
chmod 755 "$out/$asset.new"
mv -f "$out/$asset.new" "$out/$asset"
cp "$deb" "$out/$(basename "$deb").new"
mv -f "$out/$(basename "$deb").new" "$out/$(basename "$deb")"
file -b "$out/$asset" | grep -q 'ELF 64-bit LSB .*x86-64' ||
  { echo "release.sh: $out/$asset is not an x86-64 program: $(file -b "$out/$asset")" >&2; exit 1; }
# Names only, no folders: the self-update looks for a line that ends in exactly the asset name.
(cd "$out" && sha256sum "$asset" "$(basename "$deb")" >SHA256SUMS.txt.new && mv -f SHA256SUMS.txt.new SHA256SUMS.txt)

echo "Release v$version in $out/:"
(cd "$out" && cat SHA256SUMS.txt)
