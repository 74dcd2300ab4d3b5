#!/bin/sh
# Runs a test program inside a private D-Bus session in which gnome-keyring, unlocked
# with a throw-away password, answers as the Secret Service. Its keyrings live in a
# temporary folder that is removed afterwards; the daemon ends with the session.
set -u
tmp=$(mktemp -d /tmp/msw-keyring-XXXXXX)
mkdir -m 700 "$tmp/run"
HOME=$tmp XDG_DATA_HOME=$tmp/data XDG_RUNTIME_DIR=$tmp/run \
  dbus-run-session -- sh -c '
    printf secret | gnome-keyring-daemon --unlock --components=secrets >/dev/null || exit 70
    exec "$@"' keyring "$@"
status=$?
sleep 0.2
rm -rf "$tmp"
exit $status
