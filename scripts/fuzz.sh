#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz (clang, ASan+UBSan, in build-fuzz/) and runs each for
# SECONDS from a fresh copy of its seed corpus, as many at once as there are cores. Prints each
# target's executions and findings, and last "fuzz: N passed, N failed"; a target fails on any
# finding (a crash, a broken check, a leak, an input that hangs or eats memory).
#
#   scripts/fuzz.sh SECONDS [TARGET...]   build, then run every target (or the ones named, e.g. ini_file)
#   scripts/fuzz.sh --build               only configure and build
# QV_FUZZ_JOBS=N runs N targets at once (all of them, for a long run on a machine shared with others).
#
# Findings land in build-fuzz/findings/<target>/; each reproduces with `build-fuzz/bin/<target>_fuzz
# FILE`. What a run learnt stays in build-fuzz/runs/<target>/corpus/; the checked-in seeds under
# tests/fuzz/corpus/ are never written.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build-fuzz"
fuzz_src="$root/tests/fuzz"

build_targets() {
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_FUZZ=ON -DQV_WERROR=ON \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null &&
    cmake --build "$build" -j"$(nproc)"
}

case "${1:-}" in
  --build) build_targets; exit $? ;;
  '' | *[!0-9]*) echo "usage: $0 SECONDS [TARGET...] | --build" >&2; exit 2 ;;
esac
seconds=$1
shift
# The build's progress would bury the findings: it is shown only when the build fails.
build_log=$(mktemp)
trap 'rm -f "$build_log"' EXIT
if ! build_targets >"$build_log" 2>&1; then
  cat "$build_log"
  echo "fuzz: the build failed"
  exit 1
fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for dir in "$fuzz_src"/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

# The media libraries are loaded with dlopen; their dependencies' own start-up allocations are not ours.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
command -v llvm-symbolizer-14 >/dev/null && export ASAN_SYMBOLIZER_PATH=${ASAN_SYMBOLIZER_PATH:-$(command -v llvm-symbolizer-14)}

# run_target NAME: one fuzzing session, its output in runs/NAME/log, its findings in findings/NAME/.
run_target() {
  local name=$1 run="$build/runs/$1" findings="$build/findings/$1"
  local dict=() bin="$build/bin/${1}_fuzz"
  rm -rf "$run" "$findings"
  mkdir -p "$run" "$findings"
  cp -r "$fuzz_src/corpus/$name" "$run/corpus"
  [ -f "$fuzz_src/$name.dict" ] && dict=(-dict="$fuzz_src/$name.dict")
  # The run's own folder is the current one, so relative names a target tries reach nothing of ours.
  (cd "$run" && "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    "${dict[@]}" -artifact_prefix="$findings/" corpus >log 2>&1)
  echo $? >"$run/exit"
}

# report_target NAME: prints the target's line; returns 1 when it failed.
report_target() {
  local name=$1 run="$build/runs/$1" findings="$build/findings/$1"
  local executions exit_code found
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$run/log" | tail -n1)
  exit_code=$(cat "$run/exit")
  found=$(find "$findings" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | sort)
  if [ "$exit_code" -eq 0 ] && [ -z "$found" ]; then
    echo "fuzz: $name: ${executions:-?} executions in $seconds s, no findings"
    return 0
  fi
  echo "fuzz: $name: ${executions:-?} executions in $seconds s, FAILED (exit $exit_code)"
  grep -E '^(==[0-9]+==ERROR|SUMMARY|fuzz: )' "$run/log" | head -n 5 | sed 's/^/  /'
  [ -n "$found" ] && sed 's/^/  finding: /' <<<"$found"
  echo "  log: $run/log"
  return 1
}

jobs=${QV_FUZZ_JOBS:-$(nproc)}
running=0
for name in "${targets[@]}"; do
  if [ ! -x "$build/bin/${name}_fuzz" ] || [ ! -d "$fuzz_src/corpus/$name" ]; then
    echo "fuzz: no target $name (tests/fuzz/${name}_fuzz.cpp with corpus/$name/)" >&2
    exit 2
  fi
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
  run_target "$name" &
  running=$((running + 1))
done
wait

passed=0
failed=0
for name in "${targets[@]}"; do
  if report_target "$name"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
