#!/usr/bin/env bash
# Builds the C suite and the extension module with AddressSanitizer and
# UndefinedBehaviorSanitizer (no recovery: the first finding fails the run),
# runs the C suite with LeakSanitizer on, then runs the Python suite against
# the instrumented module with the sanitizer runtime preloaded.
#
#   scripts/run_sanitizers.sh [c|python|all]     (default: all)
#
# BUILD_DIR (default build-rel-asan) and JOBS (default 2) can be overridden.
set -euo pipefail
cd "$(dirname "$0")/.."

WHAT="${1:-all}"
BUILD_DIR="${BUILD_DIR:-build-rel-asan}"
JOBS="${JOBS:-2}"
PY="${PY:-.venv/bin/python}"
SAN_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"

# Sanitizer findings are fatal; halt_on_error matters for UBSan, whose
# default is to print and go on.
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

configure() {
  cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS="$SAN_FLAGS" -DCMAKE_CXX_FLAGS="$SAN_FLAGS" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_MODULE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DWFM_BUILD_TESTS=ON -DWFM_BUILD_PYTHON="$1" \
    -DPython3_EXECUTABLE="$(realpath "$PY")" >/dev/null
}

run_c() {
  local t0=$SECONDS
  configure OFF
  cmake --build "$BUILD_DIR" -j "$JOBS"
  # LeakSanitizer is part of ASan on x86-64; detect_leaks=1 makes it
  # explicit, so any leak of the suite fails its test.  Some tests ask for
  # impossible sizes to reach the allocation-failure paths, which ASan would
  # otherwise report instead of returning null.
  ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_string_checks=1" \
    ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$JOBS"
  echo "sanitizers: C suite built and run in $((SECONDS - t0)) s"
}

run_python() {
  local t0=$SECONDS
  configure ON
  cmake --build "$BUILD_DIR" -j "$JOBS" --target wfm_writer
  local module
  module=$(find "$BUILD_DIR/python" -maxdepth 1 -name 'wfm_writer*.so' | head -n 1)
  [ -n "$module" ] || { echo "sanitizers: no module built" >&2; return 1; }
  # The interpreter itself is not instrumented: the ASan runtime must be the
  # first library loaded, and the interpreter's own allocations that live
  # until exit are not leaks worth reporting, so leak detection is off here
  # (tests/python/test_leaks.py measures the module's memory instead).
  local preload
  preload="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
  LD_PRELOAD="$preload" \
    ASAN_OPTIONS="detect_leaks=0:allocator_may_return_null=1" \
    PYTHONPATH="$(dirname "$module"):python${PYTHONPATH:+:$PYTHONPATH}" \
    WFM_SANITIZED=1 \
    "$PY" -m pytest -q -p no:cacheprovider tests/python
  echo "sanitizers: Python suite built and run in $((SECONDS - t0)) s"
}

case "$WHAT" in
  c) run_c ;;
  python) run_python ;;
  all) run_c; run_python ;;
  *) echo "usage: $0 [c|python|all]" >&2; exit 2 ;;
esac
