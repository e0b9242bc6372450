#!/usr/bin/env bash
# Installs a built tree into a temporary prefix and checks what a desktop needs of it, then
# builds the Debian package and installs that into a temporary root:
#
#   check-install.sh BUILD_DIR SOURCE_DIR
#
# Needs desktop-file-validate (desktop-file-utils), xmllint (libxml2-utils), update-mime-database
# (shared-mime-info), groff, dpkg-deb and dpkg.
set -euo pipefail
build=$(realpath "$1")
source_dir=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "-- $*"; }

expected_files=(
  usr/bin/quillon
  usr/bin/quillon-cli
  usr/share/applications/quillon.desktop
  usr/share/mime/packages/quillon.xml
  usr/share/icons/hicolor/scalable/apps/quillon.svg
  usr/share/quillon/user-guide.html
  usr/share/man/man1/quillon-cli.1.gz
  usr/share/man/man1/quillon.1.gz
)
for size in 16 24 32 48 64 128 256; do
  expected_files+=("usr/share/icons/hicolor/${size}x${size}/apps/quillon.png")
done

# Every expected file is in the tree, the programs are executable, and nothing else is there.
check_tree() {
  local root=$1 file
  for file in "${expected_files[@]}"; do
    [ -s "$root/$file" ] || fail "$file missing from $root"
  done
  [ -x "$root/usr/bin/quillon" ] && [ -x "$root/usr/bin/quillon-cli" ] || fail "programs not executable"
  local found unexpected
  found=$(cd "$root" && find usr -type f | sort)
  unexpected=$(comm -23 <(echo "$found") <(printf '%s\n' "${expected_files[@]}" | sort))
  [ -z "$unexpected" ] || fail "unexpected files installed: $unexpected"
}

# The installed programs start from their installed paths, without a display.
check_programs() {
  local bin=$1/usr/bin out
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin/quillon-cli" --version) \
    || fail "quillon-cli --version failed"
  [[ $out == "quillon-cli "[0-9]* ]] || fail "quillon-cli --version printed: $out"
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin/quillon" --help) || fail "quillon --help failed"
  [[ $out == Usage:\ quillon* ]] || fail "quillon --help printed: $out"
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin/quillon" --version) || fail "quillon --version failed"
  [[ $out == "quillon "[0-9]* ]] || fail "quillon --version printed: $out"
  out=$("$bin/quillon-cli" --stats "$source_dir/examples/small.ilx") || fail "quillon-cli cannot read a sample log"
  [[ $out == *peers* ]] || fail "quillon-cli --stats printed: $out"
}

step "install into a temporary prefix"
stage=$work/stage
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
check_tree "$stage"

step "desktop entry, MIME definition, icon and manual pages are valid"
desktop-file-validate "$stage/usr/share/applications/quillon.desktop" || fail "desktop entry"
xmllint --noout "$stage/usr/share/mime/packages/quillon.xml" || fail "MIME definition is not well-formed"
xmllint --noout "$stage/usr/share/icons/hicolor/scalable/apps/quillon.svg" || fail "icon is not well-formed"
# The file types the desktop entry opens are the ones the MIME definition declares.
declared=$(xmllint --xpath '//*[local-name()="mime-type"]/@type' "$stage/usr/share/mime/packages/quillon.xml" |
           sed -E 's/ *type="([^"]*)"/\1;/g' | tr -d '\n')
listed=$(sed -n 's/^MimeType=//p' "$stage/usr/share/applications/quillon.desktop")
[ "$declared" = "$listed" ] || fail "desktop entry lists '$listed', MIME definition declares '$declared'"
# shared-mime-info compiles the definition: globs for both formats and the debug log's first line.
mime=$work/mime
mkdir -p "$mime/packages"
cp "$stage/usr/share/mime/packages/quillon.xml" "$mime/packages/"
errors=$(XDG_DATA_DIRS=$work update-mime-database "$mime" 2>&1) || fail "update-mime-database: $errors"
[ -z "$errors" ] || fail "update-mime-database: $errors"
for glob in "text/x-ikev1-debug-log:\*.ilx" "text/x-ikev1-debug-log:\*.ikev1trace" \
            "application/x-ikev2-xml-log:\*.xmll"; do
  grep -q "$glob\$" "$mime/globs2" || fail "no glob $glob"
done
grep -aq "IKE logging started" "$mime/magic" || fail "no content match for the debug log"
for page in quillon-cli quillon; do
  warnings=$(zcat "$stage/usr/share/man/man1/$page.1.gz" | groff -man -Tutf8 -ww -z 2>&1) || fail "$page.1"
  [ -z "$warnings" ] || fail "$page.1: $warnings"
done
for size in 16 48 256; do
  header=$(head -c 24 "$stage/usr/share/icons/hicolor/${size}x${size}/apps/quillon.png" | od -An -tx1 | tr -d ' \n')
  # PNG signature, then the image header's width and height.
  printf -v dims '%08x%08x' "$size" "$size"
  [[ $header == 89504e470d0a1a0a*49484452$dims ]] || fail "${size}x${size} icon is not a ${size} pixel PNG"
done

step "installed programs run"
check_programs "$stage"

step "Debian package"
(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null) || fail "cpack"
deb=$(find "$work/package" -maxdepth 1 -name 'quillon_*.deb' | head -n 1)
[ -n "$deb" ] || fail "no package built"
[ "$(dpkg-deb -f "$deb" Package)" = quillon ] || fail "package name"
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libqt6widgets6* && $depends == *libc6* ]] || fail "dependencies: $depends"
# Every dependency is a Debian package that this machine knows.
IFS=',' read -ra relations <<<"$depends"
for relation in "${relations[@]}"; do
  name=$(echo "$relation" | sed -E 's/^ *([^ (|]+).*/\1/')
  apt-cache show "$name" >/dev/null 2>&1 || dpkg-query -W "$name" >/dev/null 2>&1 || fail "unknown package $name"
done

step "install the package into a temporary root"
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
force=--force-depends
[ "$(id -u)" -eq 0 ] || force="$force,not-root"
# The temporary root's package database is empty: the dependencies are this machine's.
dpkg --root="$root" "$force" --log=/dev/null -i "$deb" >/dev/null || fail "dpkg -i"
[ "$(dpkg --root="$root" -s quillon | sed -n 's/^Status: //p')" = "install ok installed" ] || fail "not installed"
check_tree "$root"
check_programs "$root"
echo "installed tree, validators, package and programs: all good"
