#!/usr/bin/env bash
# Builds everything and runs every test: the normal build (unit, end-to-end and
# GUI tests), then the same suite under ASan+UBSan, then under TSan, then the
# Debian packages' test (label "package": a whole second build and lintian).
# Usage: scripts/test.sh [--quick]   (--quick: the normal build's tests only,
# without the packages)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

JOBS=$(nproc)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

run_suite() {
  local dir=$1; shift
  local ctest_args=$1; shift
  echo "== ${dir}: configure and build"
  cmake -S . -B "${dir}" -DKAVDM_BENCH=OFF "$@" > "${dir}.configure.log" 2>&1 || { cat "${dir}.configure.log"; return 1; }
  cmake --build "${dir}" -j "${JOBS}"
  echo "== ${dir}: tests"
  # shellcheck disable=SC2086
  ctest --test-dir "${dir}" --output-on-failure -j "${JOBS}" ${ctest_args}
}

run_suite build "-LE package"
if [ "${1:-}" = "--quick" ]; then
  exit 0
fi
run_suite build-asan "-LE package" -DKAVDM_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug
# Qt's own libraries are not built for TSan, so the GUI tests stay out of that run.
run_suite build-tsan "-LE gui|package" -DKAVDM_SANITIZE=thread -DKAVDM_GUI=OFF -DCMAKE_BUILD_TYPE=Debug
# The Debian packages: built from a copy of the tree, their contents checked
# and lintian run (the package test builds the whole program once more).
echo "== build: Debian packages"
ctest --test-dir build --output-on-failure -L package
