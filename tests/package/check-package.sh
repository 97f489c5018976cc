#!/usr/bin/env bash
# Installs the build into a scratch prefix and builds a host against it with
# find_package(Velmora 3), then runs that host.
set -euo pipefail
build_dir=$1
source_dir=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build_dir" --prefix "$scratch/prefix" >/dev/null
cmake -S "$source_dir/consumer" -B "$scratch/build" -DCMAKE_PREFIX_PATH="$scratch/prefix" >/dev/null
cmake --build "$scratch/build" >/dev/null
test -L "$scratch/prefix/lib/libvelmora.so.3" || test -L "$scratch/prefix/lib/x86_64-linux-gnu/libvelmora.so.3"
LD_LIBRARY_PATH="$scratch/prefix/lib:$scratch/prefix/lib/x86_64-linux-gnu" QT_QPA_PLATFORM=offscreen "$scratch/build/consumer"
