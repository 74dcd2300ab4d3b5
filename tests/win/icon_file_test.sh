#!/bin/sh
# The icon resource's file is the one packaging/windows/make_ico.py draws, so the
# executable, the tray and the Linux icons show the same picture. After a change to the
# drawing: python3 packaging/windows/make_ico.py app/platform/win/mosswire.ico
# Usage: icon_file_test.sh SOURCE_DIR
set -u
src=$1
out=$(mktemp -d) || exit 1
trap 'rm -rf "$out"' EXIT
python3 "$src/packaging/windows/make_ico.py" "$out/mosswire.ico" || exit 1
if ! cmp -s "$out/mosswire.ico" "$src/app/platform/win/mosswire.ico"; then
  echo "app/platform/win/mosswire.ico is not what make_ico.py draws; run it again"
  exit 1
fi
# The directory: reserved 0, type 1 (icon), and the eight sizes.
head -c 6 "$src/app/platform/win/mosswire.ico" | od -An -tu2 | tr -s ' ' | grep -qx ' 0 1 8' || {
  echo "mosswire.ico does not start with an icon directory of eight images"
  exit 1
}
