#!/usr/bin/env bash
# The Debian package's contents and metadata: the desktop entry and the AppStream file pass
# their validators, the AppStream file lists every version of docs/releases, every file a
# desktop needs is in the package where it looks for it, the dependencies were worked out
# from the program's libraries and a colour emoji font is recommended.
#   deb_contents_test.sh BUILD_DIR VERSION SOURCE_DIR
set -euo pipefail
build=$1 version=$2 src=$3
deb=$(ls "$build"/mosswire_"$version"_*.deb 2>/dev/null | head -1 || true)
[[ -f $deb ]] || { echo "no mosswire_*.deb in $build (cmake --build $build --target package)"; exit 1; }
id=io.github.mosswire.Mosswire
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
root=$work/root
failed=0
fail() { echo "FAIL: $*"; failed=1; }

desktop=$root/usr/share/applications/$id.desktop
metainfo=$root/usr/share/metainfo/$id.metainfo.xml
desktop-file-validate "$desktop" || fail "desktop-file-validate"
# --no-net: the home page is not fetched; every other check applies and warnings fail.
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"

entry() { sed -n "s/^$1=//p" "$desktop"; }
[[ -x $root/usr/bin/mosswire ]] || fail "/usr/bin/mosswire missing or not executable"
file -b "$root/usr/bin/mosswire" | grep -q 'ELF 64-bit.*stripped' || fail "the program is not a stripped executable"
[[ $(entry Exec) == mosswire ]] || fail "Exec is '$(entry Exec)', not the installed program"
[[ $(entry Icon) == "$id" ]] || fail "Icon names '$(entry Icon)'"
[[ $(entry Categories) == "Network;InstantMessaging;Chat;" ]] || fail "Categories"
[[ $(entry StartupNotify) == true ]] || fail "StartupNotify"
[[ -n $(entry StartupWMClass) ]] || fail "no StartupWMClass"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "metainfo launches another desktop file"
grep -q "<release version=\"$(dpkg-deb -f "$deb" Version)\"" "$metainfo" || fail "metainfo has no release entry for the package's version"
# Every version's notes, newest first, each dated and described.
notes=$(cd "$src/docs/releases" && ls v*.md | sed 's/^v//; s/\.md$//' | sort -t. -k1,1nr -k2,2nr -k3,3nr)
listed=$(sed -n 's/.*<release version="\([^"]*\)" date="[0-9]\{4\}-[0-9]\{2\}-[0-9]\{2\}">.*/\1/p' "$metainfo")
[[ -n $notes && $listed == "$notes" ]] || fail "metainfo releases '$(echo $listed)', docs/releases has '$(echo $notes)'"
(( $(grep -c '<description><' "$metainfo") == $(wc -l <<<"$notes") )) || fail "a release has no description"

icons=$root/usr/share/icons/hicolor
for size in 16 22 24 32 48 64 128 256 512; do
  png=$icons/${size}x${size}/apps/$id.png
  file -b "$png" 2>/dev/null | grep -q "PNG image data, $size x $size, 8-bit/color RGBA" ||
    fail "icon ${size}x${size}: $(file -b "$png" 2>&1)"
done
grep -q '<svg' "$icons/scalable/apps/$id.svg" 2>/dev/null || fail "no scalable icon"

# Nothing outside the program, its entry, its icons and its metainfo.
extra=$(cd "$root" && find . -type f | grep -v -E "^\./usr/(bin/mosswire|share/applications/$id\.desktop|share/metainfo/$id\.metainfo\.xml|share/icons/hicolor/([0-9]+x[0-9]+/apps/$id\.png|scalable/apps/$id\.svg))$" || true)
[[ -z $extra ]] || fail "unexpected files: $extra"

# dpkg-shlibdeps turns every linked library into a versioned dependency.
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libwebkit2gtk-4.1-0 libgtk-3-0 libsecret-1-0 libnotify4 libcurl4 libssl3 libayatana-appindicator3-1 libc6; do
  grep -q -E "(^|, )$lib( |,|$)" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
[[ $(dpkg-deb -f "$deb" Recommends) == *fonts-noto-color-emoji* ]] ||
  fail "no colour emoji font recommended: '$(dpkg-deb -f "$deb" Recommends)'"
[[ $(dpkg-deb -f "$deb" Package) == mosswire && $(dpkg-deb -f "$deb" Architecture) == "$(dpkg --print-architecture)" ]] ||
  fail "package name or architecture"

((failed == 0)) && echo "package contents and metadata OK: $deb"
exit $failed
