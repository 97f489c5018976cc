#!/usr/bin/env bash
# Builds the Debian packages of Velmora: a Release build for /usr in
# build-packages/ (or the directory given), then cpack -G DEB. Prints the
# paths of the .deb files; install them with
#     apt install ./build-packages/*.deb
# Installs what is missing first (as root, like the other scripts).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-packages}
bash scripts/deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >&2
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >&2)
ls "$(cd "$build" && pwd)"/*.deb
