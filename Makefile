# The README's two commands:  make demo  and  make test.
# Both find Python 3.12, create .venv, build and install the package into it;
# make test also builds it for Python 3.13 into .venv-313 and runs the unit
# suite there.
SHELL := /bin/bash
VENV ?= .venv
PY := $(VENV)/bin/python

# The second supported Python: its own venv and build directory
# (build/cp313-..., from the wheel tag).
VENV_313 ?= .venv-313
PY_313 := $(VENV_313)/bin/python

ASAN_VENV ?= .venv-asan
ASAN_PY := $(ASAN_VENV)/bin/python

# The suites run on this many pytest-xdist worker processes (CI has two
# cores).  loadgroup hands tests out one at a time, the long ones first (see
# tests/conftest.py), and keeps each xdist_group on one worker.
TEST_WORKERS ?= 2
PYTEST_PARALLEL := -n $(TEST_WORKERS) --dist loadgroup --durations=15

# Each pytest process (every worker, both suites, the packaging test's run)
# collects the whole suite, and rewriting the test modules' asserts is most of
# that: let Python keep the compiled modules in __pycache__ (ignored by git)
# even where the environment asks it not to.
unexport PYTHONDONTWRITEBYTECODE

# The package index is reached only for what pyproject.toml declares (the
# build requirements and the extras), never for pip itself: the pip a venv
# is created with builds and installs the package, and its check for a newer
# pip stays off.
export PIP_DISABLE_PIP_VERSION_CHECK := 1

# What the test and docs targets need first; empty in make test's sub-makes.
INSTALLED ?= install
INSTALLED_313 ?= install-313

.PHONY: demo test test-unit test-unit-313 test-asan fuzz docs install install-313 venv bench clean

$(VENV)/.created:
	@bash tools/find-python.sh > /dev/null
	$$(bash tools/find-python.sh) -m venv $(VENV)
	touch $@

$(VENV_313)/.created:
	@bash tools/find-python.sh 3.13 > /dev/null
	$$(bash tools/find-python.sh 3.13) -m venv $(VENV_313)
	touch $@

venv: $(VENV)/.created

# Build dependencies come from pyproject.toml's [build-system]; they are
# installed into the venv once so rebuilds reuse the CMake build directory.
install: venv
	$(PY) tools/install-build-deps.py
	$(PY) -m pip install -q --no-build-isolation '.[test,docs]'

# The same for Python 3.13, with what the tests need.  Niced: make test runs
# it beside the fuzz run, which is to keep its core.
install-313: $(VENV_313)/.created
	$(PY_313) tools/install-build-deps.py
	nice -n 10 $(PY_313) -m pip install -q --no-build-isolation '.[test]'

demo: install
	$(PY) examples/demo.py examples/data/stations.tle

# Every test: a short fuzz run beside the documentation build and then the
# Python 3.13 build (fuzz keeps one core busy for its fixed time, the docs
# and the niced 3.13 build take the other, and all of both once fuzz is done;
# their output is printed whole, one after the other), the suite on a
# sanitizer build, the unit suite on Python 3.13, then the suite on the
# normal build (its summary is the last line printed).
# The sub-makes find the packages installed (INSTALLED= and INSTALLED_313=
# drop those steps).
test: install
	$(MAKE) --no-print-directory -j2 --output-sync=target INSTALLED= fuzz docs install-313
	$(MAKE) --no-print-directory INSTALLED= INSTALLED_313= test-asan test-unit-313 test-unit

test-unit: $(INSTALLED)
	$(PY) -m pytest -q $(PYTEST_PARALLEL) tests

# The unit suite on Python 3.13, less the tests marked slow: the packaging
# test (the 3.12 run builds and tests the sdist) and the brute-force
# screening reference (native arithmetic that no interpreter takes part in).
test-unit-313: $(INSTALLED_313)
	$(PY_313) -m pytest -q $(PYTEST_PARALLEL) -m 'not slow' tests

# The whole suite on modules built with AddressSanitizer and UBSan (separate
# venv and build directory).  Left out there: the packaging test (it builds
# and installs a wheel in a fresh venv) and comparisons against python-sgp4,
# whose own extension trips the sanitizer.
test-asan:
	@test -x $(ASAN_PY) || $$(bash tools/find-python.sh) -m venv $(ASAN_VENV)
	$(ASAN_PY) tools/install-build-deps.py
	$(ASAN_PY) -m pip install -q --no-build-isolation -C build-dir=build/asan \
	    -C cmake.define.QUORVANE_SANITIZE=ON '.[test]'
	bash tools/sanitized.sh $(ASAN_PY) -m pytest -q -p no:cacheprovider $(PYTEST_PARALLEL) tests

# The documentation site under build/docs/html, from docs/ and the installed
# package's docstrings; any warning fails the build, and the guide's examples
# run as doctests.
docs: $(INSTALLED)
	rm -rf build/docs
	$(PY) -m sphinx -W --keep-going -q -b html -d build/docs/doctrees docs build/docs/html
	$(PY) -m sphinx -W --keep-going -q -b doctest -d build/docs/doctrees docs build/docs/doctest
	@echo "documentation: build/docs/html/index.html"

fuzz: $(INSTALLED)
	$(PY) tools/fuzz/run.py --seconds $${FUZZ_SECONDS:-90}

# Side-by-side benchmarks; BENCH_ARGS="--only sgp4" runs one group.
bench: venv
	$(PY) tools/install-build-deps.py
	$(PY) -m pip install -q --no-build-isolation '.[bench]'
	$(PY) -m pip install -q --no-deps hapsira
	$(PY) benchmarks/run.py $(BENCH_ARGS)

clean:
	rm -rf build $(VENV) $(VENV_313)
