#!/usr/bin/env bash
# Builds the benchmarks in Release (in build-bench/) and runs them all,
# printing one Markdown table on stdout; progress goes to stderr. Takes a few
# minutes. Not part of the tests: a figure never makes it fail.
#
#   bash bench/run.sh                  # everything, PostgreSQL included
#   bash bench/run.sh --quick          # few runs, a smoke test
#   bash bench/run.sh --no-pg --sizes 1000,8000
#
# PostgreSQL comes from .ci/postgres.sh (run as root) unless VELMORA_BENCH_PG
# names a database; the benchmarks use schemas of their own there and drop
# them again. Without PostgreSQL its rows are left out.
set -euo pipefail
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

bash scripts/deps.sh
build=${VELMORA_BENCH_BUILD:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_BENCH=ON \
    -DBUILD_TESTING=OFF -DVELMORA_BUILD_DEMO=OFF >&2
cmake --build "$build" -j"$(nproc)" --target velmora-bench >&2

if [ -z "${VELMORA_BENCH_PG:-}" ]; then
    if VELMORA_BENCH_PG=$(bash .ci/postgres.sh); then
        export VELMORA_BENCH_PG
    else
        echo "run.sh: no PostgreSQL; its rows are left out" >&2
    fi
fi

exec "$build/bench/velmora-bench" "$@"
