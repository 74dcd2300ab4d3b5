#!/bin/sh
# Runs one Windows program under Wine in a fresh private Wine prefix, removed afterwards,
# so no run sees another's registry or files. Console output only, no Wine chatter.
# With MSW_WINE_DISPLAY=1 the program gets its own Xvfb display.
set -u
prefix=$(mktemp -d "${TMPDIR:-/tmp}/msw-wine-XXXXXX") || exit 1
# Ends this prefix's wine server only (it is keyed by the prefix), then removes the prefix;
# also when the run is cut short by a time-out.
cleanup() {
  WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1
  rm -rf "$prefix"
}
trap 'cleanup; exit 124' INT TERM HUP
export WINEPREFIX="$prefix" WINEDEBUG=-all
# No Mono or Gecko install prompts while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ "${MSW_WINE_DISPLAY:-0}" = 1 ]; then
  nice -n 19 xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" wine "$@"
else
  nice -n 19 wine "$@"
fi
rc=$?
cleanup
exit $rc
