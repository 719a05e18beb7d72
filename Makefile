# The README's two commands:  make demo  and  make test.
# Both find Python 3.12, create .venv, build and install the package into it.
SHELL := /bin/bash
VENV ?= .venv
PY := $(VENV)/bin/python

ASAN_VENV ?= .venv-asan
ASAN_PY := $(ASAN_VENV)/bin/python

.PHONY: demo test test-unit test-asan fuzz install venv bench clean

$(VENV)/.created:
	@bash tools/find-python.sh > /dev/null
	$$(bash tools/find-python.sh) -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	touch $@

venv: $(VENV)/.created

# Build dependencies come from pyproject.toml's [build-system]; they are
# installed into the venv once so rebuilds reuse the CMake build directory.
install: venv
	$(PY) tools/install-build-deps.py
	$(PY) -m pip install -q --no-build-isolation '.[test]'

demo: install
	$(PY) examples/demo.py examples/data/stations.tle

# Every test: a short fuzz run, the suite on a sanitizer build, then the
# suite on the normal build (its summary is the last line printed).
test: fuzz test-asan test-unit

test-unit: install
	$(PY) -m pytest -q tests

# The whole suite on modules built with AddressSanitizer and UBSan (separate
# venv and build directory).  Left out there: the packaging test (it builds
# and installs a wheel in a fresh venv) and comparisons against python-sgp4,
# whose own extension trips the sanitizer.
test-asan:
	@test -x $(ASAN_PY) || $$(bash tools/find-python.sh) -m venv $(ASAN_VENV)
	$(ASAN_PY) -m pip install -q --upgrade pip
	$(ASAN_PY) tools/install-build-deps.py
	$(ASAN_PY) -m pip install -q --no-build-isolation -C build-dir=build/asan \
	    -C cmake.define.QUORVANE_SANITIZE=ON '.[test]'
	bash tools/sanitized.sh $(ASAN_PY) -m pytest -q -p no:cacheprovider tests

fuzz: install
	$(PY) tools/fuzz/run.py --seconds $${FUZZ_SECONDS:-90}

# Side-by-side benchmarks; BENCH_ARGS="--only sgp4" runs one group.
bench: venv
	$(PY) tools/install-build-deps.py
	$(PY) -m pip install -q --no-build-isolation '.[bench]'
	$(PY) -m pip install -q --no-deps hapsira
	$(PY) benchmarks/run.py $(BENCH_ARGS)

clean:
	rm -rf build $(VENV)
