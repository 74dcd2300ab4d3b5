#!/bin/sh
# Runs a test program on a private X display (Xvfb) inside a private D-Bus session, with
# a throw-away home so that nothing the session starts touches the real user's files.
# Accessibility services stay off; the Secret Service is not started here.
set -u
tmp=$(mktemp -d /tmp/msw-desktop-XXXXXX)
mkdir -m 700 "$tmp/run"
HOME=$tmp XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data XDG_CACHE_HOME=$tmp/cache \
XDG_RUNTIME_DIR=$tmp/run NO_AT_BRIDGE=1 \
  xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp -noreset" dbus-run-session -- "$@"
status=$?
rm -rf "$tmp"
exit $status
