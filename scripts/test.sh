#!/usr/bin/env bash
# Builds the library and runs the whole test suite twice: a normal build, and
# one with AddressSanitizer and UndefinedBehaviorSanitizer (which also runs
# every fuzz target over its seed corpus and a few seconds of mutations); then
# runs the concurrency tests (threads, executors, the log, handles and waits,
# message queues, mail, and the suites of the display's, the clipboard's and
# the process reaper's threads) under ThreadSanitizer.  The normal build's
# suite also builds the examples against an install and runs them, and makes,
# unpacks and consumes the Debian package; the API reference is built once
# after it.  Also checks the formatting of the sources and that their
# includes keep to the layers.  Real fuzzing with
# libFuzzer: scripts/fuzz.sh.  Benchmarks: configure with VLIB_BUILD_BENCH=ON.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=2

# run_suite DIR [CTEST_ARGS...] -- [CMAKE_ARGS...]; TARGETS limits what is built.
run_suite() {
  local dir=$1
  shift
  local ctest_args=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do ctest_args+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  echo "=== build $dir $*"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  if [ -n "${TARGETS:-}" ]; then
    # shellcheck disable=SC2086
    cmake --build "$dir" -j"$jobs" --target $TARGETS
  else
    cmake --build "$dir" -j"$jobs"
  fi
  echo "=== test $dir"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 600 "${ctest_args[@]}"
}

bash scripts/check-format.sh
/usr/bin/python3 scripts/check-layers.py
# The builds keep line tables only (sanitizer and crash reports still name
# files and lines) and the sanitizer builds optimise less, which keeps the
# three builds of the suite short.
run_suite build/normal -- -DVLIB_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
# The API reference, once: any Doxygen warning (a broken reference) fails.
echo "=== reference"
cmake --build build/normal --target docs
light=(-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG")
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build/sanitize -- -DVLIB_SANITIZE=address,undefined -DVLIB_BUILD_BENCH=OFF -DVLIB_BUILD_FUZZ=ON "${light[@]}"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  TARGETS="multithreading_tests diagnostics_tests log_writer_child platform_tests system_tests text_tests mail_tests mail_exit_child" \
  run_suite build/thread -L 'multithreading|diagnostics|races|mail' -- -DVLIB_SANITIZE=thread -DVLIB_BUILD_BENCH=OFF -DVLIB_BUILD_TOOLS=OFF "${light[@]}"
