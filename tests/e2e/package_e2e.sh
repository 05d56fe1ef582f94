#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The Debian package as scripts/package builds it:
#   1. its contents are exactly the program folder (installer and source database), the
#      launcher link, vidange, the desktop entry, the AppStream metadata, the icons (five sizes
#      and scalable), the two manual pages (French: under fr/man1, and under man1 for every
#      locale), vidange's bash completion, the documents they point to and the documents
#      Debian asks for: nothing more (no build or test file), nothing less; each icon has its
#      folder's size; the desktop entry passes desktop-file-validate and the metadata
#      appstreamcli validate;
#   2. its control data: name, a version made from the commit (1.00+gitYYYYMMDD.N-1), the same
#      in the file's name and atop the changelog, Qt's French translations among the dependencies;
#   3. unpacked with dpkg-deb -x into a temporary root, the unpacked vidange answers
#      --version, and the unpacked installer started through its launcher finds its database
#      beside itself and shows its window (513 x 237) on a private Xvfb; Alt+A ends it, status 0;
#   4. lintian finds no error in it, and, pedantic, only the tags docs/packaging.md explains.
# Usage: package_e2e.sh PACKAGE.deb
set -u

package=${1:?usage: package_e2e.sh PACKAGE.deb}
readonly screen_width=1024 screen_height=768
readonly wait_seconds=20

# shellcheck source=x_session.sh
source "$(dirname "$0")/x_session.sh"

readonly name=installateur-conventions
expected_contents=(
  ./usr/bin/install-conventions
  ./usr/bin/vidange
  ./usr/lib/"$name"/CONVENTIONS_TEST_KVEL.mdb
  ./usr/lib/"$name"/install-conventions
  ./usr/share/applications/"$name".desktop
  ./usr/share/bash-completion/completions/vidange
  ./usr/share/doc/"$name"/changelog.Debian.gz
  ./usr/share/doc/"$name"/copyright
  ./usr/share/doc/"$name"/dialect.md.gz
  ./usr/share/doc/"$name"/transfer-format.md.gz
  ./usr/share/icons/hicolor/128x128/apps/"$name".png
  ./usr/share/icons/hicolor/16x16/apps/"$name".png
  ./usr/share/icons/hicolor/256x256/apps/"$name".png
  ./usr/share/icons/hicolor/48x48/apps/"$name".png
  ./usr/share/icons/hicolor/64x64/apps/"$name".png
  ./usr/share/icons/hicolor/scalable/apps/"$name".svg
  ./usr/share/man/fr/man1/install-conventions.1.gz
  ./usr/share/man/fr/man1/vidange.1.gz
  ./usr/share/man/man1/install-conventions.1.gz
  ./usr/share/man/man1/vidange.1.gz
  ./usr/share/metainfo/example.seed_1585983e.installateur_conventions.metainfo.xml
)

# 1. Contents: every entry that is not a folder, sorted.
contents=$(dpkg-deb --fsys-tarfile "$package" | tar -t | grep -v '/$' | sort) ||
  fail "cannot read $package"
[[ $contents == "$(printf '%s\n' "${expected_contents[@]}")" ]] ||
  fail "contents differ from the expected list:
$(diff <(printf '%s\n' "${expected_contents[@]}") <(echo "$contents"))"
echo "ok: contents are the ${#expected_contents[@]} expected files"
root=$work/root
dpkg-deb -x "$package" "$root" || fail "dpkg-deb -x failed"

for size in 16 48 64 128 256; do
  [[ $(identify -format %wx%h "$root/usr/share/icons/hicolor/${size}x${size}/apps/$name.png") == \
    "${size}x${size}" ]] || fail "the ${size}x${size} icon has another size"
done
desktop-file-validate "$root/usr/share/applications/$name.desktop" ||
  fail "desktop-file-validate rejects the desktop entry"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml ||
  fail "appstreamcli rejects the AppStream metadata"
echo "ok: icon sizes, desktop entry and AppStream metadata"

# 2. Control data.
[[ $(dpkg-deb -f "$package" Package) == "$name" ]] || fail "package name"
version=$(dpkg-deb -f "$package" Version)
[[ $version =~ ^1\.00\+git[0-9]{8}\.[0-9]+-1$ ]] || fail "version $version"
[[ $(basename "$package") == "${name}_${version}_$(dpkg-deb -f "$package" Architecture).deb" ]] ||
  fail "the file's name $(basename "$package") does not carry the version $version"
[[ $(zcat "$root/usr/share/doc/$name/changelog.Debian.gz" | head -n1) == "$name ($version) "* ]] ||
  fail "the changelog's first entry is not $version"
depends=$(dpkg-deb -f "$package" Depends)
for dependency in fonts-liberation qt6-translations-l10n libqt6widgets6 libsqlite3-0; do
  [[ ", $depends," == *", $dependency "* || ", $depends," == *", $dependency,"* ]] ||
    fail "$dependency missing from Depends: $depends"
done
echo "ok: control data ($depends)"

# 3. The unpacked programs.
[[ $(readlink "$root/usr/bin/install-conventions") == ../lib/$name/install-conventions ]] ||
  fail "the launcher points to $(readlink "$root/usr/bin/install-conventions")"
version=$("$root/usr/bin/vidange" --version) || fail "vidange --version failed"
[[ $version == "vidange 1.00" ]] || fail "vidange --version printed '$version'"
echo "ok: the unpacked vidange answers '$version'"

start_xvfb
(cd / && exec "$root/usr/bin/install-conventions") >"$work/program.log" 2>&1 &
app_pid=$!
visible_windows() { xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null; }
poll visible_windows >/dev/null || fail "no window appeared ($(cat "$work/program.log"))"
window=$(visible_windows)
[[ $(wc -l <<<"$window") -eq 1 ]] || fail "more than one window is shown: $window"
title=$(xdotool getwindowname "$window")
[[ $title != "Installation impossible " ]] || fail "the installer did not find its database"
size=$(xwininfo -id "$window" | awk -F: '/Width|Height/ { gsub(/ /, "", $2); printf "%s ", $2 }')
[[ $size == "513 237 " ]] || fail "the window is ${size}, expected 513 x 237"
echo "ok: the unpacked installer shows its window"
xdotool windowfocus --sync "$window"
xdotool key --clearmodifiers alt+a
poll eval '! kill -0 "$app_pid" 2>/dev/null' || fail "the installer did not end"
wait "$app_pid"
status=$?
app_pid=
((status == 0)) || fail "the installer ended with status $status"
echo "ok: Alt+A closed it, status 0"

# 4. lintian, pedantic: no error, and exactly the tags docs/packaging.md's table explains.
lintian --fail-on error "$package" || fail "lintian reports an error"
reported=$(lintian --pedantic --display-info --display-experimental "$package" 2>/dev/null |
  awk '$1 ~ /^[EWIPX]:$/ { print $3 }' | sort -u)
explained=$(sed -n '/^## lintian/,/^## Copyright/p' "$(dirname "$0")/../../docs/packaging.md" |
  grep -o '^| `[a-z0-9-]*`' | tr -d '|` ' | sort -u)
[[ $reported == "$explained" ]] ||
  fail "lintian's tags and docs/packaging.md's table differ: $(diff <(echo "$explained") <(echo "$reported"))"
echo "ok: lintian reports no error, and only the tags docs/packaging.md explains"

