#!/usr/bin/env bash
# Installs the Debian package with apt, starts the installed program the way its desktop
# entry does under a private X server, once with a private session bus that has no tray
# host, keyring or notification server and once with no session bus at all, checks that
# its window shows with the WM_CLASS the entry names and that it ends cleanly, then
# removes the package and checks that nothing of it is left.
#   deb_install_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2
deb=$(ls "$build"/mosswire_"$version"_*.deb 2>/dev/null | head -1 || true)
[[ -f $deb ]] || { echo "no mosswire_*.deb in $build (cmake --build $build --target package)"; exit 1; }
if [[ $(id -u) != 0 ]]; then
  echo "installing a package needs root; skipped"
  exit 77
fi
id=io.github.mosswire.Mosswire
apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -y -q "$@"; }
installed() { dpkg-query -W -f='${Status}' mosswire 2>/dev/null | grep -q 'install ok installed'; }

# One run at a time on this machine: another checkout's test must not remove the package
# while this one is using it.
exec 8>/tmp/mosswire-package-test.lock
flock 8

work=$(mktemp -d)
chmod 755 "$work"
xvfb_pid='' app_pid=''
cleanup() {
  if [[ -n $app_pid ]]; then kill -KILL "$app_pid" 2>/dev/null || true; fi
  if [[ -n $xvfb_pid ]]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  if installed; then apt_get purge mosswire >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

if installed; then apt_get purge mosswire >/dev/null; fi  # left by an interrupted run
# apt reads the file as its own unprivileged user when it can; a copy it can read keeps
# it from warning.
cp "$deb" "$work/" && chmod 644 "$work/$(basename "$deb")"
apt_get install --no-install-recommends "$work/$(basename "$deb")" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; echo "FAIL: apt-get install"; exit 1; }
installed || { echo "FAIL: not installed after apt-get install"; exit 1; }
mapfile -t owned < <(dpkg-query -L mosswire | while read -r f; do [[ -f $f ]] && echo "$f"; done)
[[ $(command -v mosswire) == /usr/bin/mosswire ]] || { echo "FAIL: mosswire is not on PATH"; exit 1; }
wm_class=$(sed -n 's/^StartupWMClass=//p' /usr/share/applications/$id.desktop)

# A fresh user: empty home, private X server, private session bus with nothing on it.
mkdir -m 700 "$work/home" "$work/run"
exec 9>"$work/display"
Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 8>&- &
xvfb_pid=$!
exec 9>&-
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
[[ -s $work/display ]] || { cat "$work/xvfb.log"; echo "FAIL: Xvfb did not start"; exit 1; }

cat >"$work/session.sh" <<'INNER'
# Starts the program by name, as the entry's Exec does, waits for its window, notes the
# window's class and state, and ends the program as a session's logout would (SIGTERM).
# $1 names this start's files.
start() {
  mosswire >"$WORK/$1.log" 2>&1 &
  pid=$!
  echo "$pid" >"$WORK/app.pid"
  for _ in $(seq 300); do
    window=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -1) && [[ -n $window ]] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
}
start "$1"
# On a machine under heavy load GTK has now and then failed to open a display that is
# there (the program then says so and ends); that start is tried once more.
if [[ -z ${window:-} ]] && grep -q 'no display was found' "$WORK/$1.log"; then
  echo "($1: the program found no display on its first try; starting it again)"
  start "$1"
fi
[[ -n ${window:-} ]] || { echo "FAIL ($1): no window from the installed program"; cat "$WORK/$1.log"; exit 1; }
xprop -id "$window" WM_CLASS >"$WORK/$1.wm_class"
xwininfo -id "$window" >"$WORK/$1.wininfo"
kill -TERM "$pid"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then echo "FAIL ($1): the program did not end on SIGTERM"; exit 1; fi
wait "$pid"
status=$?
((status == 0)) || { echo "FAIL ($1): the program ended with status $status"; cat "$WORK/$1.log"; exit 1; }
INNER
session=(env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
  DISPLAY=":$(cat "$work/display")" WORK="$work" LANG=C.UTF-8)
check_start() {
  local name=$1
  grep -q 'Map State: IsViewable' "$work/$name.wininfo" || { cat "$work/$name.wininfo"; echo "FAIL ($name): window not viewable"; exit 1; }
  # WM_CLASS(STRING) = "instance", "class": desktops match the entry's StartupWMClass to the class.
  class=$(sed -n 's/^WM_CLASS(STRING) = "[^"]*", "\([^"]*\)"$/\1/p' "$work/$name.wm_class")
  [[ -n $wm_class && $class == "$wm_class" ]] ||
    { echo "FAIL ($name): window class '$class' ($(cat "$work/$name.wm_class")) but the entry says StartupWMClass=$wm_class"; exit 1; }
  # A programming error GLib caught in the program itself (the web engine's own processes
  # log under their own names and are not this test's business).
  if grep -q -E '^\(mosswire:[0-9]+\): [A-Za-z-]+-CRITICAL' "$work/$name.log"; then
    cat "$work/$name.log"; echo "FAIL ($name): the program hit a GLib critical error"; exit 1
  fi
}
# A session bus with nothing on it: no tray host, no keyring, no notification server.
status=0
"${session[@]}" dbus-run-session -- bash "$work/session.sh" bare-session 2>"$work/dbus.log" 8>&- || status=$?
app_pid=$(cat "$work/app.pid" 2>/dev/null || true)
((status == 0)) || exit 1
check_start bare-session
# No session bus at all, and the data the first start left in the same home.
"${session[@]}" DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" bash "$work/session.sh" no-bus 8>&- || status=$?
app_pid=$(cat "$work/app.pid" 2>/dev/null || true)
((status == 0)) || exit 1
check_start no-bus

apt_get purge mosswire >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; echo "FAIL: apt-get purge"; exit 1; }
installed && { echo "FAIL: still installed after purge"; exit 1; }
left=()
for f in "${owned[@]}"; do [[ -e $f ]] && left+=("$f"); done
((${#left[@]} == 0)) || { echo "FAIL: left behind: ${left[*]}"; exit 1; }
command -v mosswire >/dev/null && { echo "FAIL: mosswire still on PATH"; exit 1; }
echo "installed (${#owned[@]} files), window shown with class $class with an empty session bus and with none, removed cleanly"
