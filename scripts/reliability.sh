#!/usr/bin/env bash
# The fuzz and sanitizer part of CI, usable on its own:
#     bash scripts/reliability.sh
#  1. Builds the libFuzzer targets with clang (build-fuzz) and runs each one
#     for a bounded time (VELMORA_FUZZ_SECONDS, default 60) on a copy of its
#     seed corpus fuzz/corpus/<fuzzer>/ plus its regression inputs
#     fuzz/regressions/<fuzzer>/. A crash, a hang (-timeout), too much memory
#     (-rss_limit_mb, -malloc_limit_mb) or a broken property fails the run;
#     the input is kept under build-fuzz/artifacts/ to be added to
#     fuzz/regressions/<fuzzer>/.
#  2. Builds the whole project with AddressSanitizer and
#     UndefinedBehaviorSanitizer (build-asan) and runs the full test suite
#     under them, velmora-server child processes included. Any sanitizer
#     report fails the run. fuzz/lsan.supp may only ever suppress leaks in
#     Qt's, fontconfig's or the system's own allocations, never ours.
# Runs as root on Debian 12; installs what is missing with apt-get. Set
# VELMORA_RELIABILITY_PARTS=fuzz or =sanitizers to run one part only, and
# VELMORA_FUZZ_BUILD_DIR, VELMORA_ASAN_BUILD_DIR for other build directories.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
export QT_QPA_PLATFORM=offscreen
fuzz_seconds=${VELMORA_FUZZ_SECONDS:-60}
parts=${VELMORA_RELIABILITY_PARTS:-fuzz,sanitizers}
jobs=$(nproc)
fuzz_build=${VELMORA_FUZZ_BUILD_DIR:-$root/build-fuzz}
asan_build=${VELMORA_ASAN_BUILD_DIR:-$root/build-asan}

say() { echo "reliability.sh: $*" >&2; }
now() { date +%s; }
declare -a summary=()
failed=0

# --- what the two parts need -------------------------------------------------
VELMORA_WITH_FUZZ=1 bash scripts/deps.sh
if ! command -v clang++ >/dev/null 2>&1; then
    say "installing clang"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >&2
    apt-get install -y -qq --no-install-recommends clang >&2
fi
fuzzer_runtime=$(clang++ -print-runtime-dir 2>/dev/null)/libclang_rt.fuzzer-x86_64.a
if [ ! -f "$fuzzer_runtime" ] && [ ! -f "$(clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a)" ]; then
    say "installing the libFuzzer runtime"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >&2
    version=$(clang++ --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n1)
    apt-get install -y -qq --no-install-recommends "libclang-rt-${version}-dev" >&2 \
        || apt-get install -y -qq --no-install-recommends libclang-rt-dev >&2
fi

# --- 1. fuzzing --------------------------------------------------------------
run_fuzzer() {
    local name=$1 work=$2 artifacts=$3
    local corpus="$work/$name"
    mkdir -p "$corpus"
    cp -r "fuzz/corpus/$name/." "$corpus/"
    if [ -d "fuzz/regressions/$name" ]; then
        find "fuzz/regressions/$name" -maxdepth 1 -type f ! -name '*.md' -exec cp {} "$corpus/" \;
    fi
    local args=(-max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512
                -print_final_stats=1 -artifact_prefix="$artifacts/$name-")
    [ -f "fuzz/dict/$name.dict" ] && args+=(-dict="fuzz/dict/$name.dict")
    [ "$name" = fuzz_document ] && args+=(-max_len=65536)
    # Bounded from outside too, in case the fuzzer itself stops answering.
    timeout --kill-after=30 $((fuzz_seconds + 120)) \
        "$fuzz_build/fuzz/$name" "${args[@]}" "$corpus" >"$work/$name.log" 2>&1
}

if [[ ",$parts," == *",fuzz,"* ]]; then
    start=$(now)
    say "building the fuzzers (clang, libFuzzer, ASan, UBSan) in $fuzz_build"
    # The server's targets are configured, not built: the fuzzers take the
    # sources of its text library from them.
    cmake -S . -B "$fuzz_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++ \
        -DVELMORA_BUILD_FUZZ=ON -DBUILD_TESTING=OFF -DVELMORA_BUILD_SERVER=ON -DVELMORA_BUILD_DEMO=OFF >/dev/null
    cmake --build "$fuzz_build" --target velmora_fuzzers -j"$jobs"
    built=$(now)

    work=$(mktemp -d)
    artifacts="$fuzz_build/artifacts"
    mkdir -p "$artifacts"
    fuzzers=(fuzz_form fuzz_statement fuzz_document fuzz_roundtrip)
    say "running ${#fuzzers[@]} fuzzers for ${fuzz_seconds} s each, $jobs at a time"
    declare -A status=()
    pending=("${fuzzers[@]}")
    while [ ${#pending[@]} -gt 0 ]; do
        batch=("${pending[@]:0:$jobs}")
        pending=("${pending[@]:$jobs}")
        declare -A pids=()
        for name in "${batch[@]}"; do
            run_fuzzer "$name" "$work" "$artifacts" &
            pids[$name]=$!
        done
        for name in "${batch[@]}"; do
            if wait "${pids[$name]}"; then status[$name]=0; else status[$name]=$?; fi
        done
        unset pids
    done
    for name in "${fuzzers[@]}"; do
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name.log" | tail -n1)
        if [ "${status[$name]}" = 0 ]; then
            summary+=("$name: ${runs:-?} inputs in ${fuzz_seconds} s, nothing found")
        else
            failed=1
            summary+=("$name: FAILED (exit ${status[$name]}) after ${runs:-?} inputs")
            say "---- $name found a problem; the end of its log:"
            grep -E "property broken|ERROR|SUMMARY|runtime error|Test unit written" "$work/$name.log" | head -n 20 >&2 || true
            tail -n 40 "$work/$name.log" >&2
            say "---- the input is in $artifacts; add it to fuzz/regressions/$name/ once the fault is fixed"
        fi
    done
    rm -rf "$work"
    summary+=("fuzzing: build $((built - start)) s, runs $(($(now) - built)) s")
fi

# --- 2. the whole suite under ASan and UBSan ---------------------------------
if [[ ",$parts," == *",sanitizers,"* ]]; then
    start=$(now)
    say "building everything with -fsanitize=address,undefined in $asan_build"
    cmake -S . -B "$asan_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_SANITIZE=ON >/dev/null
    cmake --build "$asan_build" -j"$jobs"
    built=$(now)

    if [ -z "${VELMORA_TEST_PG:-}" ]; then
        VELMORA_TEST_PG=$(bash .ci/postgres.sh)
        export VELMORA_TEST_PG
    fi
    reports=$(mktemp -d)
    # Reports go to files (of every process, velmora-server children
    # included) as well as failing the process that has one.
    export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:log_path=$reports/asan"
    export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan"
    say "running the test suite under the sanitizers"
    ctest_ok=1
    # A sanitized library needs a sanitized host: the package test builds
    # its outside host with the flags from the environment.
    (cd "$asan_build" && CXXFLAGS="-fsanitize=address,undefined" LDFLAGS="-fsanitize=address,undefined" \
        ctest --output-on-failure -j"$jobs") || ctest_ok=0
    found=$(find "$reports" -type f -size +0 | sort)
    if [ -n "$found" ]; then
        failed=1
        say "---- sanitizer reports:"
        for f in $found; do
            echo "== $f" >&2
            head -n 80 "$f" >&2
        done
    fi
    if [ "$ctest_ok" = 0 ]; then
        failed=1
        summary+=("sanitizers: test suite FAILED")
    elif [ -n "$found" ]; then
        summary+=("sanitizers: $(echo "$found" | wc -l) report(s) FAILED the run")
    else
        summary+=("sanitizers: whole suite passed, no report")
    fi
    rm -rf "$reports"
    summary+=("sanitizers: build $((built - start)) s, tests $(($(now) - built)) s")
fi

say "summary:"
for line in "${summary[@]}"; do
    echo "  $line" >&2
done
exit "$failed"
