#!/usr/bin/env bash
# Installs what is missing, builds the release tree (build/), the sanitizer tree (build-asan/) and
# the fuzz targets (build-fuzz/), and runs every test:
#   1. the fuzz stage: every fuzz target for 20 s from its seed corpus, two at a time (no desktop
#      needed, so before the rig); each target counts as one test, failed on any finding;
# then inside the desktop rig:
#   2. the unit tests of the ASan+UBSan build, in parallel;
#   3. the unit tests of the release build, in parallel;
#   4. everything else of the release build (desktop tests, shell tests), one at a time, since they
#      share one X display and one sound server.
# Exits non-zero on any build or test failure; the last line counts every test run.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1

jobs=2
fuzz_seconds=20

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
# Inside the rig the counts of the stages run before it come as arguments.
total_passed=${2:-0}
total_failed=${3:-0}
status=0

# run_ctest NAME ARGS...: runs ctest, echoes its output, adds its counts to the totals.
run_ctest() {
  local name=$1; shift
  echo
  echo "=== $name: ctest $* ==="
  ctest "$@" 2>&1 | tee "$logs/$name.log"
  local rc=${PIPESTATUS[0]}
  local line passed=0 failed=0
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$logs/$name.log" | tail -n1)
  if [ -n "$line" ]; then
    failed=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$line")
    passed=$(( $(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line") - failed ))
  fi
  add_to_totals "$name" "$passed" "$failed" "$rc"
}

# add_to_totals NAME PASSED FAILED EXIT: a stage can fail without a failed test (a test file that
# did not build, a broken discovery, a fuzz target that could not start); that counts as one.
add_to_totals() {
  local name=$1 passed=$2 failed=$3 rc=$4
  [ "$rc" -ne 0 ] && [ "$failed" -eq 0 ] && failed=1
  [ "$rc" -ne 0 ] && status=1
  total_passed=$((total_passed + passed))
  total_failed=$((total_failed + failed))
  echo "--- $name: $passed passed, $failed failed (exit $rc)"
}

# run_fuzz: the fuzz stage; adds one test per target to the totals.
run_fuzz() {
  echo
  echo "=== fuzz: scripts/fuzz.sh $fuzz_seconds ==="
  bash scripts/fuzz.sh "$fuzz_seconds" 2>&1 | tee "$logs/fuzz.log"
  local rc=${PIPESTATUS[0]}
  local line passed=0 failed=0
  line=$(grep -E '^fuzz: [0-9]+ passed, [0-9]+ failed$' "$logs/fuzz.log" | tail -n1)
  if [ -n "$line" ]; then
    passed=$(sed -E 's/^fuzz: ([0-9]+) passed.*/\1/' <<<"$line")
    failed=$(sed -E 's/.* ([0-9]+) failed$/\1/' <<<"$line")
  fi
  add_to_totals fuzz "$passed" "$failed" "$rc"
}

if [ "${1:-}" != --inside-rig ]; then
  bash scripts/deps.sh || exit 1
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQV_WERROR=ON -DQV_SANITIZE=OFF || exit 1
  cmake --build build -j"$jobs" || exit 1
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_WERROR=ON -DQV_SANITIZE=ON \
    -DQV_BUILD_GUI=OFF || exit 1
  cmake --build build-asan -j"$jobs" || exit 1
  bash scripts/fuzz.sh --build || exit 1
  run_fuzz
  rm -rf "$logs"
  exec bash scripts/desktop-rig.sh -- bash "$root/scripts/test.sh" --inside-rig "$total_passed" "$total_failed"
fi

# Full stacks on every allocation (fast_unwind_on_malloc=0) reach the dynamic loader's frames, which
# is what lets scripts/lsan.supp tell the libraries' own start-up allocations from leaks of ours.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:detect_stack_use_after_return=1:fast_unwind_on_malloc=0}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
run_ctest sanitizer-unit --test-dir build-asan -L unit -j"$jobs" --output-on-failure
unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
run_ctest release-unit --test-dir build -L unit -j"$jobs" --output-on-failure
run_ctest release-desktop --test-dir build -LE unit --output-on-failure --no-tests=error

if [ $((total_passed + total_failed)) -eq 0 ]; then
  echo "no test ran"
  status=1
fi
[ "$total_failed" -ne 0 ] && status=1
echo
echo "total: $total_passed passed, $total_failed failed"
exit "$status"
