#!/usr/bin/env bash
# Installs what building, running and testing mosswire needs on Debian 12.
# Idempotent and quiet when everything is already present.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake pkg-config ninja-build clang libclang-rt-14-dev
  libgtk-3-dev libwebkit2gtk-4.1-dev libayatana-appindicator3-dev libnotify-dev
  libsecret-1-dev libcurl4-openssl-dev libssl-dev libx11-dev libxtst-dev libxext-dev libgtest-dev googletest
  xvfb xauth xdotool x11-utils webkit2gtk-driver chromium dbus dbus-x11 gnome-keyring
  libsecret-tools openssl python3-cryptography python3-gi gir1.2-atspi-2.0 at-spi2-core ca-certificates nodejs npm strace
  python3 make g++ util-linux
  dpkg-dev file desktop-file-utils appstream systemd nginx
  g++-mingw-w64-x86-64-posix wine wine64
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# A machine that already carries a newer Node.js and npm outside Debian keeps them.
if command -v node >/dev/null && command -v npm >/dev/null; then
  keep=(); for p in "${missing[@]}"; do [[ $p == nodejs || $p == npm ]] || keep+=("$p"); done
  missing=("${keep[@]+"${keep[@]}"}")
fi
# better-sqlite3 is compiled at npm ci (see .npmrc) against the headers of the Node.js
# that runs it, found under /usr/include/node: Debian's own nodejs keeps them in
# libnode-dev, while other builds of Node.js installed as a Debian package ship them.
if [[ ! -f /usr/include/node/node.h ]]; then missing+=(libnode-dev); fi
if ((${#missing[@]})); then
  echo "Installing Debian packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [[ ! -d node_modules ]] || ! npm ls --silent >/dev/null 2>&1; then
  npm ci --silent --no-audit --no-fund
fi
