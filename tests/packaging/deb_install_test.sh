#!/usr/bin/env bash
# Installs the Debian package with apt, starts the installed program the way its desktop
# entry does under a private X server and session bus (no tray host, keyring or
# notification server there), checks that its window shows with the WM_CLASS the entry
# names, then removes the package and checks that nothing of it is left.
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
Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 8>&- &
xvfb_pid=$!
exec 9>&-
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
[[ -s $work/display ]] || { cat "$work/xvfb.log"; echo "FAIL: Xvfb did not start"; exit 1; }

cat >"$work/session.sh" <<'INNER'
# Runs inside the private session bus: starts the program by name, as the entry's Exec
# does, and waits for its window.
mosswire >"$WORK/app.log" 2>&1 &
echo $! >"$WORK/app.pid"
for _ in $(seq 300); do
  window=$(xdotool search --onlyvisible --pid "$(cat "$WORK/app.pid")" 2>/dev/null | head -1) && [[ -n $window ]] && break
  kill -0 "$(cat "$WORK/app.pid")" 2>/dev/null || break
  sleep 0.1
done
[[ -n ${window:-} ]] || { echo "FAIL: no window from the installed program"; cat "$WORK/app.log"; exit 1; }
xprop -id "$window" WM_CLASS >"$WORK/wm_class"
xwininfo -id "$window" >"$WORK/wininfo"
pid=$(cat "$WORK/app.pid")
kill -TERM "$pid"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then echo "FAIL: the program did not end on SIGTERM"; exit 1; fi
INNER
set +e
env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$work/home" XDG_RUNTIME_DIR="$work/run" \
  DISPLAY=":$(cat "$work/display")" WORK="$work" LANG=C.UTF-8 \
  dbus-run-session -- bash "$work/session.sh" 2>"$work/dbus.log" 8>&-
status=$?
set -e
app_pid=$(cat "$work/app.pid" 2>/dev/null || true)
((status == 0)) || exit 1
grep -q 'Map State: IsViewable' "$work/wininfo" || { cat "$work/wininfo"; echo "FAIL: window not viewable"; exit 1; }
# WM_CLASS(STRING) = "instance", "class": desktops match the entry's StartupWMClass to the class.
class=$(sed -n 's/^WM_CLASS(STRING) = "[^"]*", "\([^"]*\)"$/\1/p' "$work/wm_class")
[[ -n $wm_class && $class == "$wm_class" ]] ||
  { echo "FAIL: window class '$class' ($(cat "$work/wm_class")) but the entry says StartupWMClass=$wm_class"; exit 1; }
grep -q -E 'Segmentation|Aborted|CRITICAL' "$work/app.log" && { cat "$work/app.log"; echo "FAIL: the program reported a crash"; exit 1; }

apt_get purge mosswire >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; echo "FAIL: apt-get purge"; exit 1; }
installed && { echo "FAIL: still installed after purge"; exit 1; }
left=()
for f in "${owned[@]}"; do [[ -e $f ]] && left+=("$f"); done
((${#left[@]} == 0)) || { echo "FAIL: left behind: ${left[*]}"; exit 1; }
command -v mosswire >/dev/null && { echo "FAIL: mosswire still on PATH"; exit 1; }
echo "installed (${#owned[@]} files), window shown with class $class, removed cleanly"
