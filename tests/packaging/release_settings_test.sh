#!/usr/bin/env bash
# The release command refuses to build a release that would send members to the wrong
# place or that no program could trust: each missing or wrong setting ends it with status
# 1, a line saying what to set, and nothing built; with every setting right it prints them.
#   release_settings_test.sh SOURCE_DIR
set -euo pipefail
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

# The tests' owner key and its certificate, and another owner's certificate.
owner_home() { mkdir -p "$work/$1/.mosswire"; echo "$work/$1"; }
cp "$src/tests/keys/release-owner.json" "$(owner_home owner)/.mosswire/owner.json"
HOME=$work/owner MOSSWIRE_OWNER_CERT_FILE=$work/cert.json node "$src/tools/owner.js" cert >/dev/null
HOME=$(owner_home stranger) MOSSWIRE_OWNER_CERT_FILE=$work/stranger-cert.json node "$src/tools/owner.js" init >/dev/null

good=(HOME="$work/owner" MOSSWIRE_SERVER=wss://relay.mosswire-network.net MOSSWIRE_OWNER_CERT_FILE="$work/cert.json"
  MOSSWIRE_UPDATES=https://api.github.com/repos/someone/mosswire/releases
  MOSSWIRE_DOWNLOAD_BASE=https://github.com/someone/mosswire
  MOSSWIRE_RELEASE_BUILD_DIR="$work/build" MOSSWIRE_RELEASE_WIN_BUILD_DIR="$work/build-win" PATH="$PATH")

# refuses WHAT EXPECTED_TEXT SETTING... : release.sh with the good settings changed by
# SETTING (NAME=VALUE, or NAME= to leave it unset) ends at once with EXPECTED_TEXT.
refuses() {
  local what=$1 expected=$2
  shift 2
  local env=("${good[@]}") s
  for s in "$@"; do
    local name=${s%%=*} kept=()
    for e in "${env[@]}"; do [[ ${e%%=*} == "$name" ]] || kept+=("$e"); done
    env=("${kept[@]}")
    [[ $s == "$name=" ]] || env+=("$s")
  done
  local status=0
  env -i "${env[@]}" bash "$src/scripts/release.sh" "$work/out" >"$work/out.log" 2>"$work/err.log" || status=$?
  if ((status != 1)); then fail "$what: exit status $status, not 1"; fi
  grep -qF "release.sh: $expected" "$work/err.log" || fail "$what: no line '$expected' in: $(cat "$work/err.log")"
  [[ $(tail -1 "$work/err.log") == "release.sh: no release was made." ]] || fail "$what: not told that no release was made"
  if [[ -e $work/build || -e $work/build-win || -e $work/out ]]; then fail "$what: something was built"; fi
}

refuses "no relay" "MOSSWIRE_SERVER is not set" MOSSWIRE_SERVER=
refuses "a plain ws:// relay" "MOSSWIRE_SERVER does not start with wss://" MOSSWIRE_SERVER=ws://relay.mosswire-network.net
refuses "the local relay" "MOSSWIRE_SERVER names this computer" MOSSWIRE_SERVER=wss://127.0.0.1:8787
refuses "localhost" "MOSSWIRE_SERVER names this computer" MOSSWIRE_SERVER=wss://localhost/relay
refuses "the README's example host" "MOSSWIRE_SERVER names a placeholder host" MOSSWIRE_SERVER=wss://relay.example.org
refuses "not an address" "MOSSWIRE_SERVER is not an address" "MOSSWIRE_SERVER=relay here"
refuses "no release list" "MOSSWIRE_UPDATES is not set" MOSSWIRE_UPDATES=
refuses "a release list over http" "MOSSWIRE_UPDATES is not an https:// address" MOSSWIRE_UPDATES=http://api.github.com/x
refuses "no download address" "MOSSWIRE_DOWNLOAD_BASE is not set" MOSSWIRE_DOWNLOAD_BASE=
refuses "the owner's commands' placeholder" "MOSSWIRE_DOWNLOAD_BASE still names the placeholder OWNER/REPO" \
  MOSSWIRE_DOWNLOAD_BASE=https://github.com/OWNER/REPO
refuses "no owner key" "No owner key to sign the release with" HOME="$work/nobody"
refuses "no owner certificate" "No owner certificate at $work/missing.json" MOSSWIRE_OWNER_CERT_FILE="$work/missing.json"
refuses "the default certificate missing" "No owner certificate at $src/config/owner-cert.json" MOSSWIRE_OWNER_CERT_FILE=
refuses "another owner's certificate" "The owner certificate $work/stranger-cert.json is not this owner key's" \
  MOSSWIRE_OWNER_CERT_FILE="$work/stranger-cert.json"
# Everything missing at once: every problem is told, not only the first.
refuses "nothing set" "MOSSWIRE_DOWNLOAD_BASE is not set" MOSSWIRE_SERVER= MOSSWIRE_UPDATES= MOSSWIRE_DOWNLOAD_BASE=
(( $(grep -c '^release.sh: ' "$work/err.log") == 4 )) || fail "not every problem told: $(cat "$work/err.log")"

# With every setting right, the check passes and names what the release is built with.
env -i "${good[@]}" node "$src/scripts/release-settings.js" >"$work/ok.log" 2>&1 || fail "good settings refused: $(cat "$work/ok.log")"
for text in "relay:        wss://relay.mosswire-network.net" "downloads:    https://github.com/someone/mosswire" \
  "owner:        $work/cert.json (owner key $(HOME=$work/owner node "$src/tools/owner.js" key))"; do
  grep -qF "$text" "$work/ok.log" || fail "the settings do not show '$text': $(cat "$work/ok.log")"
done
((failed == 0)) && echo "release.sh refuses each missing or wrong setting and shows the ones it builds with"
exit $failed
