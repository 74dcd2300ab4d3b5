#!/bin/sh
# Runs a test program inside a private D-Bus session in which gnome-keyring answers as the
# Secret Service. By default its login keyring is made and unlocked with a throw-away
# password; with --no-keyring the daemon is only started on demand (D-Bus activation), so
# it answers but holds no usable keyring, as on a desktop where nobody set one up. Its
# files live in a temporary folder that is removed afterwards; the daemon ends with the
# session.
set -u
unlock=yes
if [ "${1:-}" = "--no-keyring" ]; then unlock=no; shift; fi
tmp=$(mktemp -d /tmp/msw-keyring-XXXXXX)
mkdir -m 700 "$tmp/run"
HOME=$tmp XDG_DATA_HOME=$tmp/data XDG_CACHE_HOME=$tmp/cache XDG_RUNTIME_DIR=$tmp/run \
MSW_UNLOCK=$unlock \
  dbus-run-session -- sh -c '
    if [ "$MSW_UNLOCK" = yes ]; then
      printf secret | gnome-keyring-daemon --unlock --components=secrets >/dev/null || exit 70
    fi
    exec "$@"' keyring "$@"
status=$?
sleep 0.2
rm -rf "$tmp"
exit $status
