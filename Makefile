# make demo   .venv with CPython 3.9 and TOLM, then the example
# make test   lint, C++ tests (plain and sanitized) with ctest, brief fuzzing, types, pytest and the documentation
# make lint   ruff's rules and its format on the Python tree, clang-format's on the C++
# make docs   the documentation into build/docs (warnings as errors), then its examples
# make bench  timings of the module on generated pedigrees
# make road   the road of a national file of 10^7 animals, step by step (bench/road.py)
# make fcoeff-ablations   the fcoeff tests on builds with each speed mechanism switched off
# make fuzz   every libFuzzer target for FUZZ_SECONDS each (make test: 15 s each)
# make python-version VERSION=3.13   a wheel by pip wheel for that CPython, and the Python tests on it
# make versions   the same for 3.10, 3.11, 3.12 and 3.13

SHELL := /bin/sh
VENV := .venv
PY := $(VENV)/bin/python
JOBS ?= 2
CMAKE := $(shell command -v cmake 2>/dev/null || echo $(VENV)/bin/cmake)
CTEST := $(dir $(CMAKE))ctest
WERROR := $(if $(filter true,$(CI)),ON,OFF)
SOURCES := $(shell find src python -type f -not -name "*.pyc") CMakeLists.txt pyproject.toml
CPP_TEST_FLAGS := -DTOLM_BUILD_TESTS=ON -DTOLM_BUILD_MODULE=OFF -DTOLM_WERROR=$(WERROR)

.PHONY: road fcoeff-ablations demo test lint docs cpp-test sanitize fuzz-build fuzz fuzz-brief python-test types python-version versions bench clean

FUZZ_SECONDS ?= 180

demo: $(VENV)/.installed
	$(PY) examples/workflow.py examples/herd.csv --by birth_year --plot build/demo/trend.png \
	    --report build/demo/report.html --chart build/demo/ancestors.png

test: lint cpp-test sanitize fuzz-brief python-test docs

# ruff's rules and settings are in pyproject.toml, clang-format's in .clang-format.
lint: $(VENV)/.installed
	$(VENV)/bin/ruff check .
	$(VENV)/bin/ruff format --check .
	$(VENV)/bin/clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.hpp')

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

# The kernels' speed mechanisms, listed once in src/kernels/mechanisms.txt.
MECHANISMS := $(shell grep '^[A-Z]' src/kernels/mechanisms.txt)
FCOEFF_MECHANISMS := $(patsubst FCOEFF_%,%,$(filter FCOEFF_%,$(MECHANISMS)))

fcoeff-ablations: $(CMAKE)
	scripts/ensure-tools
	for mechanism in $(FCOEFF_MECHANISMS); do \
	    $(CMAKE) -S . -B build/ablation-$$mechanism -DCMAKE_BUILD_TYPE=Release $(CPP_TEST_FLAGS) \
	        -DTOLM_PLAIN_FCOEFF_$$mechanism=ON && \
	    $(CMAKE) --build build/ablation-$$mechanism -j $(JOBS) && \
	    $(CTEST) --test-dir build/ablation-$$mechanism --output-on-failure -R Fcoeff || exit 1; \
	done

fuzz-build: $(CMAKE)
	scripts/ensure-tools
	$(CMAKE) -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	    -DTOLM_BUILD_FUZZERS=ON -DTOLM_BUILD_MODULE=OFF -DTOLM_WERROR=$(WERROR)
	$(CMAKE) --build build/fuzz -j $(JOBS)

fuzz: fuzz-build
	scripts/run-fuzzers build/fuzz $(FUZZ_SECONDS)

fuzz-brief: fuzz-build
	scripts/run-fuzzers build/fuzz 15

python-test: $(VENV)/.installed types
	$(PY) -m pytest

# The pages, then their examples (docs/_ext/examples.py) on the same parsed
# sources. The API pages are generated from the installed package's docstrings.
docs: $(VENV)/.installed
	rm -rf build/docs build/docs-doctrees build/docs-examples docs/api/generated
	$(PY) -m sphinx -b html -W --keep-going -q -d build/docs-doctrees docs build/docs
	$(PY) -m sphinx -b doctest -W --keep-going -d build/docs-doctrees docs build/docs-examples

# The stubs against the module and the companion, and the companion and the
# examples against the stubs.
types: $(VENV)/.installed
	$(PY) -m mypy.stubtest --mypy-config-file pyproject.toml --allowlist tests/stubtest-allowlist.txt TOLM tolmkit
	$(PY) -m mypy --config-file pyproject.toml python/tolmkit examples

VERSION ?= 3.13
python-version:
	rm -rf build/venv-$(VERSION) build/wheel-$(VERSION)
	python=$$(scripts/find-python $(VERSION)) && "$$python" -m venv build/venv-$(VERSION)
	build/venv-$(VERSION)/bin/python -m pip install --quiet --upgrade pip
	build/venv-$(VERSION)/bin/python -m pip wheel --quiet --no-deps -w build/wheel-$(VERSION) \
	    -Ccmake.define.TOLM_WERROR=$(WERROR) .
	build/venv-$(VERSION)/bin/python -m pip install --quiet "$$(ls build/wheel-$(VERSION)/*.whl)[test,dask]"
	build/venv-$(VERSION)/bin/python -m pytest

versions:
	for version in 3.10 3.11 3.12 3.13; do $(MAKE) python-version VERSION=$$version || exit 1; done

# SGKIT=path/to/python adds sgkit's pedigree_inbreeding to the fcoeff table and its
# dense pedigree_kinship to the relationship-matrix table.
# Each mechanism switched off is a benchmark build of its own; BENCH_REPEAT
# rounds of every fcoeff variant, taking turns.
BENCH_REPEAT ?= 3
# Speed mechanisms of cald, dijp and their lookups that a benchmark build
# switches off, one at a time ("none" is the module's build, "all" the plain one).
DOMINANCE_MECHANISMS := $(filter-out FCOEFF_%,$(MECHANISMS))

bench: $(VENV)/.installed $(CMAKE)
	$(CMAKE) -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DTOLM_BUILD_LITERAL=ON -DTOLM_BUILD_BENCH=ON \
	    -DTOLM_BUILD_MODULE=OFF
	$(CMAKE) --build build/bench -j $(JOBS) --target tolm_literal tolm_bench
	for mechanism in $(FCOEFF_MECHANISMS); do \
	    $(CMAKE) -S . -B build/bench-$$mechanism -DCMAKE_BUILD_TYPE=Release -DTOLM_BUILD_BENCH=ON \
	        -DTOLM_BUILD_MODULE=OFF -DTOLM_PLAIN_FCOEFF_$$mechanism=ON > /dev/null && \
	    $(CMAKE) --build build/bench-$$mechanism -j $(JOBS) --target tolm_bench > /dev/null || exit 1; \
	done
	for plain in none $(DOMINANCE_MECHANISMS) all; do \
	    $(CMAKE) -S . -B build/bench/dominance-$$plain -DCMAKE_BUILD_TYPE=Release -DTOLM_BUILD_MODULE=OFF \
	        -DTOLM_BUILD_BENCH=ON $(foreach m,$(DOMINANCE_MECHANISMS),-DTOLM_PLAIN_$(m)=$$(test $$plain = $(m) -o $$plain = all && echo ON || echo OFF)) \
	        >/dev/null && $(CMAKE) --build build/bench/dominance-$$plain -j $(JOBS) --target tolm_dominance_calls >/dev/null || exit 1; \
	done
	cd bench && TOLM_LITERAL=../build/bench/tests/literal/libtolm_literal.so \
	    TOLM_BENCH=../build/bench/bench/libtolm_bench.so \
	    $(foreach m,$(FCOEFF_MECHANISMS),TOLM_BENCH_$(m)=../build/bench-$(m)/bench/libtolm_bench.so) \
	    ../$(PY) bench_fcoeff.py --repeat $(BENCH_REPEAT) $(if $(SGKIT),--sgkit $(SGKIT))
	cd bench && TOLM_LITERAL=../build/bench/tests/literal/libtolm_literal.so \
	    ../$(PY) bench_dominance.py --builds ../build/bench --mechanisms "$(DOMINANCE_MECHANISMS)"
	cd bench && ../$(PY) bench_matrices.py
	cd bench && ../$(PY) bench_relationships.py $(if $(SGKIT),--sgkit $(SGKIT))
	$(PY) bench/bench_read.py
	$(PY) bench/road.py --animals 1000000 --generations 25 --sires 500
	$(PY) bench/bench_cli.py

road: $(VENV)/.installed
	$(PY) bench/road.py --animals 10000000 --generations 25 --sires 100 --repeat 1 --no-cli

$(PY):
	python=$$(scripts/find-python 3.9) && "$$python" -m venv $(VENV)
	$(PY) -m pip install --quiet --upgrade pip

$(VENV)/bin/cmake: $(PY)
	$(PY) -m pip install --quiet cmake

$(VENV)/.installed: $(PY) $(SOURCES)
	$(PY) -m pip install --quiet -Ccmake.define.TOLM_WERROR=$(WERROR) '.[test,dask,docs]'
	touch $@

clean:
	rm -rf build $(VENV)
