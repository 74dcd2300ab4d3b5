#!/usr/bin/env bash
# Runs mosswire on this machine as a one-computer network: installs what is missing,
# makes the owner key on first use, builds (so that config.js carries the owner's
# certificate), starts the relay on 127.0.0.1:8787, prints an invite code for the
# first-run screen and opens the desktop app. The relay stops when the app ends.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "run.sh: there is no graphical session here (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
  echo "Run it from a desktop session, or start only the relay: OWNER_KEY=\$(node tools/owner.js key) node relay/server.js" >&2
  exit 1
fi

bash scripts/deps.sh

# The owner key lives in ~/.mosswire/owner.json; the build reads the owner certificate
# from config/owner-cert.json, which `cert` keeps in step with the key. Both come before
# the build: a program keeps the certificate it was built with (its page accepts this
# network's short invite codes and its update check this owner's releases only then), and
# a certificate that changed makes the build below configure and build again by itself.
export MOSSWIRE_OWNER_CERT_FILE="${PWD}/config/owner-cert.json"
if [[ ! -f "${HOME}/.mosswire/owner.json" ]]; then
  node tools/owner.js init >/dev/null
  echo "Made the owner key ~/.mosswire/owner.json (keep a backup of it somewhere safe) and the owner certificate."
else
  node tools/owner.js cert >/dev/null
fi
owner_key="$(node tools/owner.js key)"

echo "Building mosswire for this network (owner certificate ${MOSSWIRE_OWNER_CERT_FILE})"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMOSSWIRE_OWNER_CERT_FILE="${MOSSWIRE_OWNER_CERT_FILE}" >/dev/null
cmake --build build

relay_log="build/relay.log"
PORT=8787 HOST=127.0.0.1 OWNER_KEY="${owner_key}" node relay/server.js >"${relay_log}" 2>&1 &
relay_pid=$!
stop_relay() {
  if kill -0 "${relay_pid}" 2>/dev/null; then
    kill "${relay_pid}" 2>/dev/null || true
    wait "${relay_pid}" 2>/dev/null || true
  fi
}
trap stop_relay EXIT INT TERM

for _ in $(seq 1 100); do
  grep -q 'listening on' "${relay_log}" 2>/dev/null && break
  if ! kill -0 "${relay_pid}" 2>/dev/null; then
    echo "run.sh: the relay did not start:" >&2
    cat "${relay_log}" >&2
    exit 1
  fi
  sleep 0.1
done
grep -q 'listening on' "${relay_log}" || { echo "run.sh: the relay did not start in time (see ${relay_log})" >&2; exit 1; }
echo "Relay running on ws://127.0.0.1:8787 (log: ${relay_log})"

echo
echo "Invite code for the first-run screen (works once, lasts 90 days):"
echo
node tools/owner.js invite
echo

./build/mosswire || echo "mosswire ended with status $?"
