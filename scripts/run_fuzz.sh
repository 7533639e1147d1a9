#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang-14 (ASan + UBSan), replays
# the kept regression inputs, then fuzzes each target for a set time and
# prints its executions and findings.
#
#   scripts/run_fuzz.sh            long runs: FUZZ_SECONDS per target (default 300), random seed
#   scripts/run_fuzz.sh SECONDS    short smoke (CI): SECONDS per target, fixed seed (FUZZ_SEED, 1)
#
# New corpus entries stay in the build directory; a finding is saved under
# BUILD_DIR/findings/<target>/ and fails the run.  Keep a minimised copy of
# it in fuzz/regressions/<target>/, which the C test suite also replays.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR="${BUILD_DIR:-build-rel-fuzz}"
JOBS="${JOBS:-2}"
TARGETS=(fuzz_kw_decode fuzz_kw_roundtrip fuzz_meta_json fuzz_writer_ops)

if [ $# -ge 1 ]; then
  SECONDS_PER_TARGET="$1"
  SEED_ARGS=(-seed="${FUZZ_SEED:-1}")
else
  SECONDS_PER_TARGET="${FUZZ_SECONDS:-300}"
  SEED_ARGS=()
fi

cmake -S fuzz -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build "$BUILD_DIR" -j "$JOBS" >/dev/null

export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1"
status=0
printf '%-20s %8s %12s %10s %9s\n' target seconds executions exec/s findings
for t in "${TARGETS[@]}"; do
  bin="$BUILD_DIR/$t"
  work="$BUILD_DIR/corpus/$t"
  findings="$BUILD_DIR/findings/$t"
  mkdir -p "$work" "$findings"
  log="$BUILD_DIR/$t.log"

  # Inputs that once failed must keep passing.
  if compgen -G "fuzz/regressions/$t/*" >/dev/null; then
    if ! "$bin" fuzz/regressions/"$t"/* >"$log" 2>&1; then
      echo "$t: a regression input fails again (see $log)" >&2
      status=1
      continue
    fi
  fi

  rc=0
  "$bin" "${SEED_ARGS[@]}" -max_total_time="$SECONDS_PER_TARGET" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$work" "fuzz/corpus/$t" >"$log" 2>&1 || rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  found=$(find "$findings" -type f | wc -l)
  printf '%-20s %8s %12s %10s %9s\n' "$t" "$SECONDS_PER_TARGET" "${execs:-?}" "${rate:-?}" "$found"
  if [ "$rc" -ne 0 ] || [ "$found" -ne 0 ]; then
    echo "$t: finding (exit $rc); log $log, inputs in $findings" >&2
    grep -m 5 -E "ERROR|check failed|runtime error" "$log" >&2 || true
    status=1
  fi
done
exit $status
