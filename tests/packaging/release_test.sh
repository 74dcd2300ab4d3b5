#!/usr/bin/env bash
# The release command's output against the program's own update path: scripts/release.sh,
# given a network's settings and the tests' owner key (tests/keys), makes the asset, its
# checksum list and the owner's signature of it in a release build folder of its own inside
# BUILD_DIR; a local release host serves exactly those files, and a copy of the update test
# program (the real update and install code, trusting the tests' owner key) takes the
# update from there. The copy that replaces it is then the release asset itself, which
# must start as mosswire, show its window and remove the copy it replaced.
#   release_test.sh SOURCE_DIR BUILD_DIR UPDATE_PROBE RELEASE_SERVER_PY
set -euo pipefail
src=$1 build=$2 probe=$3 release_server=$4
asset=mosswire-linux-x86_64
work=$(mktemp -d)
server_pid='' xvfb_pid=''
cleanup() {
  if [[ -n $server_pid ]]; then kill "$server_pid" 2>/dev/null || true; fi
  if [[ -n $xvfb_pid ]]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  # The relaunched release copy, found by its own executable's path.
  for exe in /proc/[0-9]*/exe; do
    if [[ $(readlink "$exe" 2>/dev/null) == "$work/installed/mosswire"* ]]; then
      pid=${exe#/proc/}; kill -KILL "${pid%/exe}" 2>/dev/null || true
    fi
  done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

out=$work/release
relay=wss://relay.mosswire-network.net
mkdir -p "$work/owner/.mosswire"
cp "$src/tests/keys/release-owner.json" "$work/owner/.mosswire/owner.json"
HOME=$work/owner MOSSWIRE_OWNER_CERT_FILE=$work/cert.json node "$src/tools/owner.js" cert >/dev/null
owner_key=$(HOME=$work/owner node "$src/tools/owner.js" key)
# The release build folder stays between runs, so a later run builds only what changed;
# release.sh configures it afresh every time.
HOME=$work/owner MOSSWIRE_OWNER_CERT_FILE=$work/cert.json MOSSWIRE_SERVER=$relay \
  MOSSWIRE_UPDATES=https://api.github.com/repos/someone/mosswire/releases \
  MOSSWIRE_DOWNLOAD_BASE=https://github.com/someone/mosswire \
  MOSSWIRE_RELEASE_PLATFORMS=linux MOSSWIRE_RELEASE_BUILD_DIR=$build/release-build \
  bash "$src/scripts/release.sh" "$out" >"$work/release.log" 2>&1 ||
  { cat "$work/release.log"; fail "scripts/release.sh"; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/release-build/CMakeCache.txt")
grep -qF "Built with:" "$work/release.log" && grep -qF "relay:        $relay" "$work/release.log" ||
  fail "release.sh did not show the settings it built with: $(cat "$work/release.log")"
[[ -x $out/$asset ]] || fail "no executable $asset"
(cd "$out" && sha256sum --check --strict --quiet SHA256SUMS.txt) || fail "SHA256SUMS.txt does not check with sha256sum"
grep -q "  $asset\$" "$out/SHA256SUMS.txt" || fail "no line for $asset: $(cat "$out/SHA256SUMS.txt")"
[[ $(wc -l <"$out/SHA256SUMS.txt") == 2 ]] || fail "expected the asset and the package in SHA256SUMS.txt"
[[ $(wc -l <"$out/SHA256SUMS.txt.sig") == 1 ]] || fail "SHA256SUMS.txt.sig is not one line"
# The program carries the settings it was checked against: the relay in its page, the
# owner's key in its update check.
grep -qaF "$relay" "$out/$asset" || fail "the released program does not name the relay $relay"
grep -qaF "$owner_key" "$out/$asset" || fail "the released program does not carry the owner key"

# The release host: the files exactly as release.sh left them, under the tag's path.
mkdir -p "$work/host/releases/download"
cp -a "$out" "$work/host/releases/download/v$version"
coproc SERVER { exec python3 "$release_server" "$work/host"; }
server_pid=$SERVER_PID
read -r -t 10 port <&"${SERVER[0]}" || fail "the release host did not start"

# The running copy: the update test program in a folder of its own, a fresh user.
mkdir -p "$work/installed" "$work/home" "$work/config" "$work/run"
chmod 700 "$work/run"
cp "$probe" "$work/installed/mosswire"
chmod 755 "$work/installed/mosswire"
exec 9>"$work/display"
Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 9>&-
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
[[ -s $work/display ]] || fail "Xvfb did not start"

cat >"$work/session.sh" <<'INNER'
program=$WORK/installed/mosswire
"$program" update "http://127.0.0.1:$PORT" "v$VERSION" >"$WORK/probe.out" 2>"$WORK/probe.err"
# The install step started the new copy with --after-update; at start it removes the old
# one and shows its window.
wait_for_program() {
  for _ in $(seq 300); do
    [[ -e $program.old ]] || break
    sleep 0.1
  done
  for _ in $(seq 300); do
    window=$(xdotool search --onlyvisible --class Mosswire 2>/dev/null | head -1) && [[ -n $window ]] && break
    sleep 0.1
  done
}
wait_for_program
# On a machine under heavy load GTK has now and then failed to open a display that is
# there (the program says so on the stderr it shares with the update program, and ends):
# then the new copy is started once more by hand.
if [[ -z ${window:-} ]] && grep -q 'no display was found' "$WORK/probe.err"; then
  echo "(the relaunched copy found no display; starting it again)"
  "$program" 2>>"$WORK/probe.err" &
  wait_for_program
fi
# Whose window it is, asked while the session (and so the program) still runs.
if [[ -n ${window:-} ]]; then
  pid=$(xprop -id "$window" _NET_WM_PID | sed -n 's/.* = //p')
  readlink "/proc/$pid/exe" >"$WORK/window_exe"
fi
exit 0
INNER
env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$work/home" XDG_CONFIG_HOME="$work/config" \
  XDG_DATA_HOME="$work/home/data" XDG_RUNTIME_DIR="$work/run" DISPLAY=":$(cat "$work/display")" \
  WORK="$work" PORT="$port" VERSION="$version" LANG=C.UTF-8 \
  dbus-run-session -- bash "$work/session.sh" 2>"$work/dbus.log"

mapfile -t answer <"$work/probe.out"
[[ ${answer[0]:-} == '{"ok":true}' ]] || fail "the update answered '${answer[0]:-}' ($(cat "$work/probe.err"))"
[[ ${answer[1]:-} == '"quit"' ]] || fail "installing answered '${answer[1]:-}'"
cmp -s "$work/installed/mosswire" "$out/$asset" || fail "the installed program is not the release asset"
[[ ! -e $work/installed/mosswire.old ]] || fail "the replaced copy is still there: the release asset did not start"
[[ ! -e $work/config/mosswire/$asset ]] || fail "the verified download was left in the app data folder"
[[ -s $work/window_exe ]] || fail "the release asset showed no window after the update"
[[ $(cat "$work/window_exe") == "$work/installed/mosswire" ]] || fail "the window belongs to $(cat "$work/window_exe")"
echo "release v$version: checksum list accepted, asset installed and started as the program"
