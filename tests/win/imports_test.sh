#!/bin/sh
# Every Windows executable runs on a clean Windows as one file: it may import only the
# system's own DLLs, never a MinGW runtime (libstdc++, libgcc, libwinpthread).
# Usage: imports_test.sh OBJDUMP EXE...
set -u
objdump=$1
shift
status=0
for exe in "$@"; do
  dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
  [ -n "$dlls" ] || { echo "no import table read from $exe"; status=1; continue; }
  foreign=$(printf '%s\n' "$dlls" | grep -i -E '^lib|mingw|pthread' || true)
  if [ -n "$foreign" ]; then
    echo "$exe needs DLLs beside it: $foreign"
    status=1
  fi
done
exit $status
