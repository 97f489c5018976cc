#!/usr/bin/env bash
# velmora-server under slow, idle and hostile clients and a stuck database:
# three runs of bench/attack.py for each program given, one Markdown row per
# figure and run on stdout, progress on stderr. Takes a few minutes per
# program; a figure never makes it fail. Attackers connect from 127.0.0.2
# (and other loopback addresses where a scenario needs many: those that send
# endless chunk lines, trailers and headers from 127.0.0.2 to 127.0.0.11),
# the measured client from 127.0.0.1.
#
#   bash bench/attack.sh build/server/velmora-server /old/build/server/velmora-server
#   VELMORA_ATTACK_OPTIONS=--quick bash bench/attack.sh build/server/velmora-server
#   VELMORA_ATTACK_OPTIONS="--parts endless" bash bench/attack.sh build/server/velmora-server
#   VELMORA_ATTACK_OPTIONS="--parts lock,insider,commits" bash bench/attack.sh ...
#
# A program that has --max-connections-per-address runs with it raised to
# 5000, so that the figures show the engine carrying every attacker rather
# than the cap refusing them. PostgreSQL rows (a row lock held while
# commits wait, small commits) need VELMORA_BENCH_PG (a postgresql:// URL)
# and psql; the benchmark uses schemas of its own there.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# 2,200 attacking connections, the server's and the client's own.
ulimit -n "$(ulimit -Hn)"
[ "$(ulimit -n)" -ge 4600 ] || echo "attack.sh: only $(ulimit -n) file descriptors; connections will fail" >&2
for binary in "$@"; do
    extra=""
    if "$binary" --help | grep -q -- --max-connections-per-address; then
        extra="--max-connections-per-address 5000"
    fi
    for run in 1 2 3; do
        python3 "$here/attack.py" "$binary" --label "$binary (run $run)" --extra "$extra" \
            ${VELMORA_BENCH_PG:+--pg "$VELMORA_BENCH_PG"} ${VELMORA_ATTACK_OPTIONS:-}
    done
done
