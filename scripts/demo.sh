#!/usr/bin/env bash
# Installs what is missing, builds Velmora and starts the demo: the control
# filled from a sample database served by an embedded velmora-server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build --target velmora-demo velmora-server -j"$(nproc)"
exec ./build/demo/velmora-demo "$@"
