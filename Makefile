# The README's two commands:  make demo  and  make test.
# Both find Python 3.12, create .venv, build and install the package into it.
SHELL := /bin/bash
VENV ?= .venv
PY := $(VENV)/bin/python

.PHONY: demo test install venv bench clean

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

test: install
	$(PY) -m pytest -q tests

bench: venv
	$(PY) tools/install-build-deps.py
	$(PY) -m pip install -q --no-build-isolation '.[bench]'
	$(PY) benchmarks/run.py

clean:
	rm -rf build $(VENV)
