#!/usr/bin/env bash
# make bench: build the benchmark, run it and print one table.  The Python
# columns are added when .venv holds a NumPy and the extension module can be
# built from this tree (or is installed there).
#   scripts/run_bench.sh [--quick] [--rounds N]
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=${BUILD:-build}
JOBS=${JOBS:-2}
PY=.venv/bin/python

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target wfm_bench >/dev/null

# The module of this tree, built beside the benchmark, so that both sides
# measure the same code.
PYPATH=""
if [ -x "$PY" ] && "$PY" -c "import numpy" 2>/dev/null; then
    if cmake -S . -B "$BUILD/bench-py" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWFM_BUILD_TESTS=OFF \
            -DWFM_BUILD_PYTHON=ON -DPython3_EXECUTABLE="$PWD/$PY" >/dev/null 2>&1 &&
        cmake --build "$BUILD/bench-py" -j "$JOBS" --target wfm_writer >/dev/null 2>&1; then
        PYPATH="$PWD/$BUILD/bench-py/python"
    fi
fi

if [ -x "$PY" ] && PYTHONPATH="$PYPATH" "$PY" -c "import wfm_writer" 2>/dev/null; then
    tsv=$(mktemp)
    trap 'rm -f "$tsv"' EXIT
    echo "C benchmark..." >&2
    "$BUILD/bench/wfm_bench" --tsv "$tsv" "$@" >/dev/null
    echo "Python benchmark (module: $(PYTHONPATH="$PYPATH" "$PY" -c 'import wfm_writer; print(wfm_writer.__file__)'))..." >&2
    PYTHONPATH="$PYPATH" "$PY" bench/bench_python.py --c-results "$tsv" "$@"
else
    echo "wfm_writer does not import in $PY: C figures only" >&2
    "$BUILD/bench/wfm_bench" "$@"
fi
