#!/usr/bin/env bash
# Hardening checks, run by CI after the ordinary build and tests:
#   1. the whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer (g++,
#      -fno-sanitize-recover=all), including the replay of every fuzz seed, corpus and crash file;
#   2. every libFuzzer target built with clang and run for a short budget from its seeds, saved
#      corpus and crash files, under libFuzzer's memory limits.
# Any finding (a failed test, a sanitizer report, a crash, leak, time-out or memory limit of a fuzz
# target) fails the script.
#
# Usage: tools/ci-hardening.sh [--seconds N] [--build-prefix PREFIX]
#   --seconds N         fuzzing time per target in seconds (default 60)
#   --build-prefix P    build directories P-asan and P-fuzz (default: build, so build-asan and
#                       build-fuzz at the top of the source tree)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
prefix=build
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --build-prefix) prefix=$2; shift 2 ;;
    *) echo "usage: $0 [--seconds N] [--build-prefix PREFIX]" >&2; exit 2 ;;
  esac
done
started=$(date +%s)
say() { echo "ci-hardening: $* ($(( $(date +%s) - started )) s)"; }

need=()
for pkg in cmake make g++ libgtest-dev clang-14 libclang-rt-14-dev; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  say "installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}"
fi
clangxx=$(command -v clang++-14 || command -v clang++)

export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:check_initialization_order=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# 1. The test suite under the sanitizers.
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
asan="$prefix-asan"
say "sanitizer build in $asan"
cmake -S . -B "$asan" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=g++ "-DCMAKE_CXX_FLAGS=$sanitize" \
  -DKELPIX_FUZZ=ON -DKELPIX_FUZZ_REPLAY=ON >/dev/null
cmake --build "$asan" -j2
say "sanitizer tests"
ctest --test-dir "$asan" -j2 --output-on-failure

# 2. The fuzz targets, two at a time on two cores.
fuzz="$prefix-fuzz"
say "fuzz build in $fuzz with $clangxx"
cmake -S . -B "$fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_COMPILER=$clangxx" -DKELPIX_FUZZ=ON \
  -DKELPIX_BUILD_TESTS=OFF -DKELPIX_BUILD_TOOLS=OFF >/dev/null
cmake --build "$fuzz" -j2 --target fuzz_all
run="$fuzz/fuzz-run"
rm -rf "$run"
mkdir -p "$run"
"$fuzz/fuzz/make_corpus" "$run/seeds"

dictionary() {
  case "$1" in
    sti_open|save) echo fuzz/dict/sti.dict ;;
    decode|encode) echo fuzz/dict/page.dict ;;
    bmp) echo fuzz/dict/bmp.dict ;;
    list|names) echo fuzz/dict/list.dict ;;
    numbers) echo fuzz/dict/numbers.dict ;;
  esac
}

# Runs one target; new inputs go to a scratch corpus, findings to its artifacts directory.
fuzz_one() {
  local name=$1
  local args=(-max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=1024 -timeout=10
              -print_final_stats=1 -artifact_prefix="$run/artifacts-$name/")
  local dict
  dict=$(dictionary "$name")
  [ -n "$dict" ] && args+=(-dict="$dict")
  mkdir -p "$run/corpus-$name" "$run/artifacts-$name"
  local inputs=("$run/corpus-$name" "$run/seeds/$name")
  [ -d "fuzz/corpus/$name" ] && inputs+=("fuzz/corpus/$name")
  [ -d "fuzz/crashes/$name" ] && inputs+=("fuzz/crashes/$name")
  "$fuzz/fuzz/fuzz_$name" "${args[@]}" "${inputs[@]}" >"$run/$name.log" 2>&1
}

targets=(sti_open save decode bmp encode list numbers names)
failed=()
report() {
  local name=$1 status=$2
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$run/$name.log" | tail -n 1)
  if [ "$status" -ne 0 ] || [ -n "$(ls -A "$run/artifacts-$name")" ]; then
    echo "ci-hardening: fuzz_$name FAILED (exit $status); the end of its log:"
    tail -n 60 "$run/$name.log"
    ls -l "$run/artifacts-$name"
    failed+=("$name")
  else
    echo "ci-hardening: fuzz_$name ran ${runs:-?} inputs in $seconds s without a finding"
  fi
}
say "fuzzing each target for $seconds s"
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  first=${targets[i]}
  second=${targets[i + 1]:-}
  fuzz_one "$first" & first_pid=$!
  if [ -n "$second" ]; then fuzz_one "$second" & second_pid=$!; fi
  status=0; wait "$first_pid" || status=$?
  report "$first" "$status"
  if [ -n "$second" ]; then
    status=0; wait "$second_pid" || status=$?
    report "$second" "$status"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  say "findings in: ${failed[*]}"
  exit 1
fi
say "passed"
