#!/usr/bin/env bash
# Prints the lines of code and of tests, counted as lines that are neither
# blank nor only a comment (// in C++, # in Python and shell), and their
# ratio: tests/ and fuzz/ against src/, server/ and demo/. bench/ counts on
# neither side. The rule is a ratio of at most 0.35.
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
    { git ls-files -- "$@" | grep -E '\.(cpp|h|hpp|cc)$' | xargs -r cat | grep -v -E '^\s*(//.*)?$' || true
      git ls-files -- "$@" | grep -E '\.(py|sh)$' | xargs -r cat | grep -v -E '^\s*(#.*)?$' || true; } | wc -l
}

code=$(count src server demo)
tests=$(count tests fuzz)
echo "code (src, server, demo):  $code lines"
echo "tests (tests, fuzz):       $tests lines"
awk -v t="$tests" -v c="$code" 'BEGIN { printf "ratio:                     %.2f (at most 0.35)\n", t / c }'
