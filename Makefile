# Set-up, build, tests and benchmarks. Works as root on a fresh Debian 12
# machine: missing system packages are installed with apt-get.

SYSTEM_PYTHON := /usr/bin/python3
VENV := .venv
PY := $(VENV)/bin/python
SHARED := $(abspath $(CURDIR)/../shared)
YTS := $(SHARED)/yaml-test-suite

DEB_PACKAGES := g++ make meson ninja-build pkg-config git \
	python3-dev python3-venv python3-pip python3-mesonpy \
	libre2-dev libboost-context-dev libxxhash-dev \
	libgtest-dev libbenchmark-dev libyaml-dev \
	python3-pytest python3-hypothesis python3-numpy \
	python3-yaml python3-ruamel.yaml python3-ujson

MESON_DEV := build/dev
MESON_BENCH := build/bench

.PHONY: all deps venv build demo test cpp-test py-test bench clean

all: build

deps:
	@missing=$$(for p in $(DEB_PACKAGES); do \
		dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
		echo "installing:" $$missing; \
		apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	fi

$(PY): | deps
	$(SYSTEM_PYTHON) -m venv --system-site-packages $(VENV)

venv: deps $(PY)

# The package is built by meson-python in a kept build folder, so rebuilding
# after a change is incremental.
build: venv
	mkdir -p build
	$(PY) -m pip install --no-build-isolation --no-deps --no-index -q \
		--config-settings=builddir=build/py \
		--config-settings=setup-args=-Dtest_hooks=true .

demo: build
	$(PY) examples/demo.py examples/config.yaml

$(MESON_DEV)/build.ninja: | deps
	meson setup $(MESON_DEV) -Dtests=true -Dbuildtype=debugoptimized

cpp-test: $(MESON_DEV)/build.ninja
	meson test -C $(MESON_DEV) --print-errorlogs

py-test: build
	@if [ -d "$(YTS)" ]; then export YAML_TEST_SUITE="$(YTS)"; fi; \
	$(PY) -m pytest -q tests

test: build cpp-test py-test

$(MESON_BENCH)/build.ninja: | deps
	meson setup $(MESON_BENCH) -Dbench=true -Dbuildtype=release

bench: build $(MESON_BENCH)/build.ninja
	ninja -C $(MESON_BENCH)
	$(PY) bench/run.py --native-dir $(MESON_BENCH)/bench

clean:
	rm -rf build $(VENV)
