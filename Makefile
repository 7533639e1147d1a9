# make demo: set up, build and run the main example.
# make test: set up, build and run every test suite.
BUILD   ?= build
JOBS    ?= 2
VENV    := .venv
VENV1   := .venv-np1
PY      := $(VENV)/bin/python
PY1     := $(VENV1)/bin/python
WHEELS  := $(BUILD)/wheel

.PHONY: all setup build ctest wheel install pytest test demo bench clean sanitize fuzz-smoke fuzz

all: build

setup:
	bash scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

ctest: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# One wheel, built against NumPy 2 in .venv, installed into both
# environments: the second one runs it under NumPy 1.
wheel: setup
	rm -rf $(WHEELS)
	CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) $(PY) -m pip wheel --no-build-isolation --no-deps -w $(WHEELS) .

install: wheel
	$(PY) -m pip install --no-deps --force-reinstall $(WHEELS)/kestrix_wfm-*.whl
	$(PY1) -m pip install --no-deps --force-reinstall $(WHEELS)/kestrix_wfm-*.whl

pytest: install
	$(PY) -P -m pytest tests/python
	$(PY1) -P -m pytest tests/python

# ASan/UBSan builds of the C suite and of the module under the Python suite.
sanitize: setup
	bash scripts/run_sanitizers.sh

# A few seconds per fuzz target with a fixed seed, so the targets stay built.
fuzz-smoke: setup
	bash scripts/run_fuzz.sh 15

fuzz: setup
	bash scripts/run_fuzz.sh

test: ctest pytest sanitize fuzz-smoke

demo: build install
	$(PY) -m kestrix.wfm demo demo-out

# Throughput against the fwrite floor, the scalar reference, NumPy and fprintf.
bench: build
	BUILD=$(BUILD) JOBS=$(JOBS) bash scripts/run_bench.sh

clean:
	rm -rf $(BUILD) build-py build-rel-asan build-rel-fuzz demo-out
