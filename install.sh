#!/usr/bin/env bash
# Builds Quillon's Debian package and installs it with apt: ./install.sh
# (Removing it again: sudo apt remove quillon.)
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
quillon_ensure_packages "${QUILLON_BUILD_PACKAGES[@]}"

build_dir=build/release
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" --target quillon quillon-cli quillon_man_pages
rm -f "$build_dir"/quillon_*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
deb=$(realpath "$build_dir"/quillon_*.deb)
echo "Built $deb"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get install -y "$deb"
