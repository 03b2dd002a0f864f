#!/usr/bin/env bash
# The Windows build on a Debian machine: installs the MinGW-w64 cross compiler and Wine when they
# are missing, cross-builds kelpix.exe and the Windows test program, and runs the whole test suite
# under Wine. Exits non-zero when a build step or a test fails.
#
#   bash tools/ci-windows.sh [build-dir]      (default: build-win)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-win}
stamp() { date +%s; }
t0=$(stamp)

need=()
for pkg in cmake make g++-mingw-w64-x86-64 wine wine64 libgtest-dev; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
t1=$(stamp)
echo "ci-windows: install $((t1 - t0))s"

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Debug
cmake --build "$build" -j2
t2=$(stamp)
echo "ci-windows: build $((t2 - t1))s"

# Wine runs headless, in a prefix of the build directory, under a locale whose ANSI code page is
# 1252 (the tests of letters beyond ASCII are written in it). The first start creates the prefix;
# without the .NET and HTML runtimes, which console programs do not need and which would otherwise
# be offered for download.
export WINEPREFIX="$PWD/$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=C.UTF-8
unset DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i </dev/null
fi
wineserver -w
t3=$(stamp)

# One Wine server, and Wine's own background services, for the whole test run. Started here with
# their output going nowhere: a service that a test program started would hold that test's output
# open, and ctest would wait for it. They are all stopped when the run ends.
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k 2>/dev/null || true' EXIT
wineboot </dev/null >/dev/null 2>&1
status=0
ctest --test-dir "$build" --output-on-failure -j2 </dev/null || status=$?
t4=$(stamp)

echo "ci-windows: install $((t1 - t0))s, build $((t2 - t1))s, wine prefix $((t3 - t2))s, tests $((t4 - t3))s"
exit "$status"
