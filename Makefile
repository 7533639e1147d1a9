# make demo: set up, build and run the main example.
# make test: set up, build and run every test suite.
BUILD   ?= build
JOBS    ?= 2
VENV    := .venv
PY      := $(VENV)/bin/python

.PHONY: all setup build ctest test demo clean

all: build

setup:
	bash scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

ctest: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test: ctest

demo: build
	$(BUILD)/scripts/wfm_demo_c demo-out

clean:
	rm -rf $(BUILD) demo-out
