#!/usr/bin/env bash
# Regenerates docs/screenshot.png, the README's picture of the control:
# builds velmora-demo as scripts/demo.sh does, then renders the control
# offscreen, loaded with employee 1 of a fresh sample database, in English.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build --target velmora-demo -j"$(nproc)"
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
XDG_DATA_HOME="$data" TMPDIR="$data" QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 LANGUAGE=en \
    ./build/demo/velmora-demo --screenshot docs/screenshot.png
