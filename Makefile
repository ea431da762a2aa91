# make demo   .venv with CPython 3.9 and TOLM, then the example
# make test   C++ tests (plain and sanitized) with ctest, then pytest
# make bench  timings of the module on generated pedigrees
# make fuzz   every libFuzzer target for FUZZ_SECONDS each (make test: 15 s each)

SHELL := /bin/sh
VENV := .venv
PY := $(VENV)/bin/python
JOBS ?= 2
CMAKE := $(shell command -v cmake 2>/dev/null || echo $(VENV)/bin/cmake)
CTEST := $(dir $(CMAKE))ctest
WERROR := $(if $(filter true,$(CI)),ON,OFF)
SOURCES := $(shell find src python -type f -not -name "*.pyc") CMakeLists.txt pyproject.toml
CPP_TEST_FLAGS := -DTOLM_BUILD_TESTS=ON -DTOLM_BUILD_MODULE=OFF -DTOLM_WERROR=$(WERROR)

.PHONY: demo test cpp-test sanitize fuzz-build fuzz fuzz-brief python-test bench clean

FUZZ_SECONDS ?= 180

demo: $(VENV)/.installed
	$(PY) examples/inbreeding_table.py examples/pedigree.csv

test: cpp-test sanitize fuzz-brief python-test

cpp-test: $(CMAKE)
	scripts/ensure-tools
	$(CMAKE) -S . -B build/cpp -DCMAKE_BUILD_TYPE=Release $(CPP_TEST_FLAGS)
	$(CMAKE) --build build/cpp -j $(JOBS)
	$(CTEST) --test-dir build/cpp --output-on-failure

sanitize: $(CMAKE)
	scripts/ensure-tools
	$(CMAKE) -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DTOLM_SANITIZE=ON $(CPP_TEST_FLAGS)
	$(CMAKE) --build build/sanitize -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	    $(CTEST) --test-dir build/sanitize --output-on-failure

fuzz-build: $(CMAKE)
	scripts/ensure-tools
	$(CMAKE) -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	    -DTOLM_BUILD_FUZZERS=ON -DTOLM_BUILD_MODULE=OFF -DTOLM_WERROR=$(WERROR)
	$(CMAKE) --build build/fuzz -j $(JOBS)

fuzz: fuzz-build
	scripts/run-fuzzers build/fuzz $(FUZZ_SECONDS)

fuzz-brief: fuzz-build
	scripts/run-fuzzers build/fuzz 15

python-test: $(VENV)/.installed
	$(PY) -m pytest

# SGKIT=path/to/python adds sgkit's pedigree_inbreeding to the fcoeff table.
bench: $(VENV)/.installed $(CMAKE)
	$(PY) -m pip install --quiet matplotlib
	$(CMAKE) -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DTOLM_BUILD_LITERAL=ON -DTOLM_BUILD_MODULE=OFF
	$(CMAKE) --build build/bench -j $(JOBS) --target tolm_literal
	cd bench && TOLM_LITERAL=../build/bench/tests/literal/libtolm_literal.so \
	    ../$(PY) bench_fcoeff.py --plot ../build/bench/fcoeff.png $(if $(SGKIT),--sgkit $(SGKIT))
	cd bench && TOLM_LITERAL=../build/bench/tests/literal/libtolm_literal.so ../$(PY) bench_dominance.py

$(PY):
	python=$$(scripts/find-python39) && "$$python" -m venv $(VENV)
	$(PY) -m pip install --quiet --upgrade pip

$(VENV)/bin/cmake: $(PY)
	$(PY) -m pip install --quiet cmake

$(VENV)/.installed: $(PY) $(SOURCES)
	$(PY) -m pip install --quiet -Ccmake.define.TOLM_WERROR=$(WERROR) '.[test]'
	touch $@

clean:
	rm -rf build $(VENV)
