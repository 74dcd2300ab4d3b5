#!/bin/sh
# Runs one Windows program under Wine in a fresh private Wine prefix, removed afterwards,
# so no run sees another's registry or files. Console output only, no Wine chatter.
# With MSW_WINE_DISPLAY=1 the program gets its own Xvfb display.
set -u
prefix=$(mktemp -d "${TMPDIR:-/tmp}/msw-wine-XXXXXX") || exit 1
# Ends this prefix's wine server only (it is keyed by the prefix), then removes the prefix;
# also when the run is cut short by a time-out. The server writes the prefix's registry as
# it ends, so it is waited for first; otherwise the removal can race it and leave the
# prefix behind. Its socket folder, named after the prefix's device and inode, goes too,
# while that inode is still ours.
xvfb_pid=
cleanup() {
  remove_prefix
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
}
remove_prefix() {
  WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1
  WINEPREFIX="$prefix" timeout 30 wineserver -w >/dev/null 2>&1
  server=$(stat -c '%d %i' "$prefix" 2>/dev/null | awk '{printf "server-%x-%x", $1, $2}')
  if [ -n "$server" ]; then
    for folder in /tmp/wine-*/"$server" "/tmp/.wine-$(id -u)/$server"; do
      [ -d "$folder" ] || continue
      rm -rf "$folder"
      rmdir "$(dirname "$folder")" 2>/dev/null
    done
  fi
  rm -rf "$prefix"
}
trap 'cleanup; exit 124' INT TERM HUP
export WINEPREFIX="$prefix" WINEDEBUG=-all
# No Mono or Gecko install prompts while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="
# The X server picks a free display number itself and writes it to the file (-displayfd),
# so test programs running at once never race for one.
if [ "${MSW_WINE_DISPLAY:-0}" = 1 ]; then
  Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp -noreset 9>"$prefix.display" >/dev/null 2>&1 &
  xvfb_pid=$!
  tries=0
  until [ -s "$prefix.display" ] || [ $tries -ge 300 ]; do sleep 0.1; tries=$((tries + 1)); done
  number=$(cat "$prefix.display" 2>/dev/null)
  rm -f "$prefix.display"
  if [ -z "$number" ]; then
    echo "in_wine.sh: Xvfb did not start"
    cleanup
    exit 1
  fi
  export DISPLAY=":$number"
fi
# A prefix whose first start failed to set up Wine itself ("could not load kernel32.dll",
# seen now and then on a loaded machine) ran no test at all: the run gets one more prefix.
for attempt in 1 2; do
  nice -n 19 wine "$@" 2>"$prefix.err"
  rc=$?
  cat "$prefix.err" >&2
  if [ "$attempt" = 1 ] && [ "$rc" != 0 ] && grep -q 'could not load kernel32.dll' "$prefix.err"; then
    echo "in_wine.sh: Wine did not start in its new prefix; trying once more in a fresh one" >&2
    rm -f "$prefix.err"
    remove_prefix
    mkdir "$prefix" || break
    continue
  fi
  break
done
rm -f "$prefix.err"
cleanup
exit $rc
