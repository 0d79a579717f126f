# Developer entry points.  Each target sets up what it needs from a fresh
# clone: a virtual environment with a Python >= 3.12 found on this machine,
# the package installed into it, and (for the C++ tests) GoogleTest.

SHELL := /bin/bash
.DEFAULT_GOAL := help

VENV      := .venv
VPY       := $(VENV)/bin/python
BUILD_CPP := build/cpp
JOBS      ?= $(shell nproc 2>/dev/null || echo 2)

# A Python >= 3.12: PATH first, then pyenv's versions, then /usr/bin.
PYTHON ?= $(shell for p in python3.13 python3.12 python3 \
    $$(ls -d $${PYENV_ROOT:-$$HOME/.pyenv}/versions/3.1[2-9]*/bin/python3 2>/dev/null | sort -rV) \
    /usr/bin/python3.13 /usr/bin/python3.12 /usr/bin/python3; do \
  if command -v $$p >/dev/null 2>&1 && \
     $$p -c 'import sys; sys.exit(0 if sys.version_info >= (3, 12) else 1)' 2>/dev/null; then \
    command -v $$p; break; fi; done)

.PHONY: help venv install install-examples demo sweep test test-cpp test-python test-sanitize bench clean gtest reference

help:
	@echo "make demo    build, install into .venv, fit Mrk 421 and run the example models (figures in out/)"
	@echo "make sweep   fit the blob model over a parameter grid with Dask"
	@echo "make test    run the C++ (CTest) and Python (pytest) tests"
	@echo "make bench   run the benchmarks"
	@echo "make test-sanitize  run the tests under AddressSanitizer/UBSan and the pool under TSan"
	@echo "make clean   remove build products, outputs, test caches and .venv"

$(VPY):
	@if [ -z "$(PYTHON)" ]; then \
	  echo "error: no Python >= 3.12 found (looked on PATH, in pyenv's versions and in /usr/bin);" >&2; \
	  echo "       install one or run 'make PYTHON=/path/to/python3.12 ...'" >&2; exit 1; fi
	@echo "using $(PYTHON) ($$($(PYTHON) -c 'import sys; print(sys.version.split()[0])'))"
	$(PYTHON) -m venv $(VENV)
	$(VPY) -m pip install --quiet --upgrade pip

# The development requirements (build, test, example and benchmark tooling).
DEV_STAMP := $(VENV)/.dev-requirements
$(DEV_STAMP): requirements-dev.txt | $(VPY)
	$(VPY) -m pip install --quiet -r requirements-dev.txt
	touch $@

venv: $(DEV_STAMP)

# The CMake build folder of the package is keyed by the environment (its
# prefix and Python version), so that no other environment reuses a cache
# that points at this one's interpreter.
PY_BUILD_DIR = build/python-$(shell $(VPY) -c 'import hashlib, sys; print(hashlib.sha1((sys.prefix + sys.version).encode()).hexdigest()[:10])')

install: $(DEV_STAMP)
	$(VPY) -m pip install --quiet --no-build-isolation -Cbuild-dir=$(PY_BUILD_DIR) .

# The demo needs only the package and its [examples] extra (built in an
# isolated environment of its own), not the development tooling.
install-examples: | $(VPY)
	$(VPY) -m pip install --quiet ".[examples]"

demo: install-examples
	$(VPY) examples/fit_mrk421.py --out out
	$(VPY) examples/fit_pks1510.py --out out
	$(VPY) examples/fit_pks1510.py --geometry --out out
	$(VPY) examples/demo.py
	$(VPY) examples/ssc_blob.py --out out
	$(VPY) examples/flare_mrk421.py --out out

sweep: install
	$(VPY) examples/sweep_dask.py

# The C++ tests need GoogleTest's headers and libraries (Debian/Ubuntu package
# libgtest-dev).  When they are missing they are installed with apt-get, as root
# or through sudo; without either, the target stops with the command to run.
gtest:
	@if [ ! -f /usr/include/gtest/gtest.h ]; then \
	  if [ "$$(id -u)" = 0 ]; then SUDO=; \
	  elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then SUDO=sudo; \
	  else echo "error: the C++ tests need GoogleTest (libgtest-dev), and this user cannot install it;" >&2; \
	       echo "       run:  sudo apt-get install libgtest-dev" >&2; exit 1; fi; \
	  if ! command -v apt-get >/dev/null 2>&1; then \
	    echo "error: the C++ tests need GoogleTest; install it with your package manager" >&2; \
	    echo "       (Debian/Ubuntu: apt-get install libgtest-dev)" >&2; exit 1; fi; \
	  echo "installing GoogleTest for the C++ tests: $${SUDO:+sudo }apt-get install libgtest-dev"; \
	  $$SUDO apt-get update -qq && $$SUDO apt-get install -y -qq libgtest-dev; fi

test-cpp: gtest $(DEV_STAMP)
	$(VENV)/bin/cmake -S . -B $(BUILD_CPP) -G Ninja -DOSTREL_BUILD_TESTS=ON -DOSTREL_BUILD_PYTHON=OFF \
	  -DCMAKE_MAKE_PROGRAM=$(CURDIR)/$(VENV)/bin/ninja
	$(VENV)/bin/cmake --build $(BUILD_CPP) -j $(JOBS)
	cd $(BUILD_CPP) && ../../$(VENV)/bin/ctest --output-on-failure -j $(JOBS) --timeout 300

test-python: install reference
	$(VPY) -m pytest -q

# The literal reference of the radiation kernels (build/bench), with which the
# Python tests compare the module's kernels bit for bit.
reference: $(DEV_STAMP)
	$(VPY) -c 'import sys; sys.path.insert(0, "benchmarks"); import bench_speedups as b; b.build_reference()'

test: test-cpp test-python

# Sanitized builds: the C++ tests under ASan+UBSan, the pool's tests under TSan,
# and the Python tests against an ASan+UBSan build of the module (the
# interpreter itself is not instrumented, so the runtime is preloaded and leak
# detection, which would report the interpreter's own allocations, is off).
SAN_ENV := ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
test-sanitize: gtest $(DEV_STAMP)
	$(VENV)/bin/cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DOSTREL_BUILD_TESTS=ON -DOSTREL_BUILD_PYTHON=OFF -DOSTREL_SANITIZE=address,undefined \
	  -DCMAKE_MAKE_PROGRAM=$(CURDIR)/$(VENV)/bin/ninja
	$(VENV)/bin/cmake --build build/asan -j $(JOBS)
	cd build/asan && $(SAN_ENV) ../../$(VENV)/bin/ctest --output-on-failure -j $(JOBS) -E Package --timeout 300
	$(VENV)/bin/cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DOSTREL_BUILD_TESTS=ON -DOSTREL_BUILD_PYTHON=OFF -DOSTREL_SANITIZE=thread \
	  -DCMAKE_MAKE_PROGRAM=$(CURDIR)/$(VENV)/bin/ninja
	$(VENV)/bin/cmake --build build/tsan -j $(JOBS)
	cd build/tsan && TSAN_OPTIONS=halt_on_error=1 ../../$(VENV)/bin/ctest --output-on-failure -R Pool --timeout 300
	rm -rf build/asan-site
	$(VPY) -m pip install --quiet --no-build-isolation --no-deps --target build/asan-site \
	  -Cbuild-dir=build/asan-py -Ccmake.build-type=RelWithDebInfo \
	  -Ccmake.define.OSTREL_SANITIZE=address,undefined .
	PYTHONPATH=build/asan-site LD_PRELOAD="$$(gcc -print-file-name=libasan.so) $$(gcc -print-file-name=libubsan.so)" \
	  $(SAN_ENV) $(VPY) -m pytest -q -p no:cacheprovider

bench: install
	$(VPY) benchmarks/run.py

clean:
	rm -rf build $(VENV) *.egg-info out .pytest_cache .hypothesis
