#!/bin/sh
# Runs the benchmarks against the kelpix binary of a build directory (default: build).
# Usage: bench/run.sh [build-dir] [bench_tool options, e.g. --runs 7 --only ACF]
# Build first: cmake --build <build-dir> --target kelpix bench_tool
set -e
build=${1:-build}
[ $# -gt 0 ] && shift
for tool in "$build/bench/bench_tool" "$build/kelpix"; do
  if [ ! -x "$tool" ]; then
    echo "run.sh: $tool not found; build it with: cmake --build $build --target kelpix bench_tool" >&2
    exit 2
  fi
done
exec "$build/bench/bench_tool" --kelpix "$build/kelpix" "$@"
