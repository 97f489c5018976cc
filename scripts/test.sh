#!/usr/bin/env bash
# Installs what is missing, starts PostgreSQL for the database suites, builds
# Velmora and runs the whole test suite offscreen, the test of the Debian
# packages included; then runs the fuzzers for a bounded time and the whole
# suite again under AddressSanitizer and UndefinedBehaviorSanitizer
# (scripts/reliability.sh). Set VELMORA_SKIP_RELIABILITY=1 for the plain
# suite alone.
set -euo pipefail
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM=offscreen
bash scripts/deps.sh
VELMORA_TEST_PG=$(bash .ci/postgres.sh)
export VELMORA_TEST_PG
jobs=$(nproc)

# VELMORA_TEST_PACKAGES adds package_debs: the Debian packages built in
# build-test/packages, installed here, served from and purged (two to four
# minutes, most of it the second build).
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_TEST_PACKAGES=ON >/dev/null
cmake --build build-test -j"$jobs"
(cd build-test && ctest --output-on-failure -j"$jobs")

if [ "${VELMORA_SKIP_RELIABILITY:-0}" != 1 ]; then
    bash scripts/reliability.sh
fi

# The size of the tests against the code; printed, never a failure.
bash scripts/test-ratio.sh
