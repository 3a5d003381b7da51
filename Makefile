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
	python3-yaml python3-ruamel.yaml python3-ujson python3-jsonschema

MESON_DEV := build/dev
MESON_BENCH := build/bench

.PHONY: all deps fuzz-deps venv build hooks-build demo test cpp-test py-test bench asan fuzz clean

all: build

# Installs the Debian packages of $(1) that are not installed yet.
define install_missing
	@missing=$$(for p in $(1); do \
		dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
		echo "installing:" $$missing; \
		apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	fi
endef

deps:
	$(call install_missing,$(DEB_PACKAGES))

$(PY): | deps
	$(SYSTEM_PYTHON) -m venv --system-site-packages $(VENV)

venv: deps $(PY)

# The package is built by meson-python in a kept build folder, so rebuilding
# after a change is incremental. What it installs is what `pip install .`
# installs: the module without test entry points (said explicitly, so that a
# build folder configured with them before is set back).
build: venv
	mkdir -p build
	$(PY) -m pip install --no-build-isolation --no-deps --no-index -q \
		--config-settings=builddir=build/py \
		--config-settings=setup-args=-Dtest_hooks=false .

# The same module with the test entry points (-Dtest_hooks=true), never
# installed: the tests marked `hooks` import it from here. Its build options
# are those meson-python gives build/py, so that ccache serves every object
# but the hook files.
MESON_HOOKS := build/hooks

$(MESON_HOOKS)/build.ninja: | deps $(PY)
	meson setup $(MESON_HOOKS) -Dtest_hooks=true -Dbuildtype=release -Db_ndebug=if-release

hooks-build: $(MESON_HOOKS)/build.ninja
	ninja -C $(MESON_HOOKS)

demo: build
	$(PY) examples/demo.py examples/config.yaml

$(MESON_DEV)/build.ninja: | deps
	meson setup $(MESON_DEV) -Dtests=true -Dbuildtype=debugoptimized

cpp-test: $(MESON_DEV)/build.ninja
	meson test -C $(MESON_DEV) --print-errorlogs

# Two passes: every test against the installed module, except those marked
# `hooks`, which then run against the test_hooks build (and fail rather than
# skip if it lacks them).
py-test: build hooks-build
	@if [ -d "$(YTS)" ]; then export YAML_TEST_SUITE="$(YTS)"; fi; \
	$(PY) -m pytest -q -m "not hooks" tests && \
	OSTREVANE_REQUIRE_HOOKS=1 PYTHONPATH=$(MESON_HOOKS) $(PY) -m pytest -q -m hooks tests

test: build cpp-test py-test

$(MESON_BENCH)/build.ninja: | deps
	meson setup $(MESON_BENCH) -Dbench=true -Dbuildtype=release

bench: build $(MESON_BENCH)/build.ninja
	ninja -C $(MESON_BENCH)
	$(PY) bench/run.py --native-dir $(MESON_BENCH)/bench

# The C++ tests, the fuzz replays and the pytest suite under
# AddressSanitizer and UndefinedBehaviorSanitizer. The interpreter itself is
# not instrumented: the runtimes are preloaded, and leak checks stay off for
# Python, which keeps its own objects until exit.
MESON_ASAN := build/asan
ASAN_RUNTIMES = $(shell g++ -print-file-name=libasan.so):$(shell g++ -print-file-name=libubsan.so)
ASAN_UBSAN := UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:suppressions=$(CURDIR)/tests/fuzz/ubsan.supp

$(MESON_ASAN)/build.ninja: | deps
	meson setup $(MESON_ASAN) -Dtests=true -Dtest_hooks=true -Dbuildtype=debug \
		-Db_sanitize=address,undefined -Db_lundef=false

asan: $(MESON_ASAN)/build.ninja $(PY)
	ninja -C $(MESON_ASAN)
	ASAN_OPTIONS=detect_leaks=1 $(ASAN_UBSAN) meson test -C $(MESON_ASAN) --print-errorlogs
	@if [ -d "$(YTS)" ]; then export YAML_TEST_SUITE="$(YTS)"; fi; \
	LD_PRELOAD=$(ASAN_RUNTIMES) ASAN_OPTIONS=detect_leaks=0 $(ASAN_UBSAN) OSTREVANE_REQUIRE_HOOKS=1 \
		PYTHONPATH=$(MESON_ASAN):python $(SYSTEM_PYTHON) -m pytest -q --capture=sys -p no:cacheprovider tests

# Deep fuzzing: each harness of tests/fuzz built with clang 14, libFuzzer,
# ASan and UBSan, then run FUZZ_SECONDS seconds from its stored corpus.
# New inputs collect in build/fuzz/corpus/<harness>, crashes in
# build/fuzz/artifacts. Not part of `make test`.
FUZZ_SECONDS ?= 60
FUZZ_ARGS ?=
FUZZ_HARNESSES := fuzz_input_decode fuzz_scan fuzz_decode fuzz_write fuzz_compose fuzz_emit fuzz_schema
FUZZ_DIR := build/fuzz
FUZZ_CXX := clang++-14
FUZZ_SHIM := $(FUZZ_DIR)/shim
# UBSan reports are recoverable so that tests/fuzz/ubsan.supp can hold back
# the ones already reported; halt_on_error stops on every other one.
FUZZ_SAN := -fsanitize=address,undefined
FUZZ_ENV := UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:suppressions=tests/fuzz/ubsan.supp
FUZZ_FLAGS := -std=c++2b -isystem $(FUZZ_SHIM) -Isrc -g -O1 -fno-omit-frame-pointer $(FUZZ_SAN)
# Every core source (all of src/ but the Python binding), so that a harness
# links whatever the core code it reaches calls.
FUZZ_CORE := $(shell find src -name '*.cpp' -not -path 'src/ffi/*' | sort)
FUZZ_OBJS := $(FUZZ_CORE:%.cpp=$(FUZZ_DIR)/obj/%.o)
FUZZ_BINS := $(FUZZ_HARNESSES:%=$(FUZZ_DIR)/bin/%)

fuzz-deps: deps
	$(call install_missing,clang-14 libclang-rt-14-dev)

$(FUZZ_SHIM)/expected: tests/fuzz/make_expected_shim.py | fuzz-deps
	$(SYSTEM_PYTHON) $< /usr/include/c++/12/expected $(FUZZ_SHIM)

$(FUZZ_DIR)/obj/%.o: %.cpp $(FUZZ_SHIM)/expected
	@mkdir -p $(@D)
	$(FUZZ_CXX) $(FUZZ_FLAGS) -fsanitize=fuzzer-no-link -MMD -MP -c $< -o $@

$(FUZZ_DIR)/bin/%: tests/fuzz/%.cpp $(FUZZ_OBJS)
	@mkdir -p $(@D)
	$(FUZZ_CXX) $(FUZZ_FLAGS) -fsanitize=fuzzer -MMD -MP -MF $@.d $< $(FUZZ_OBJS) \
		-lboost_context -lre2 -o $@

-include $(FUZZ_OBJS:.o=.d) $(FUZZ_BINS:=.d)
.SECONDARY: $(FUZZ_OBJS)

fuzz: $(FUZZ_BINS)
	@set -e; for h in $(FUZZ_HARNESSES); do \
		mkdir -p $(FUZZ_DIR)/corpus/$$h $(FUZZ_DIR)/artifacts; \
		echo "== $$h: $(FUZZ_SECONDS) s"; \
		$(FUZZ_ENV) $(FUZZ_DIR)/bin/$$h -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
			-rss_limit_mb=4096 -max_len=65536 -print_final_stats=1 $(FUZZ_ARGS) \
			-dict=tests/fuzz/yaml.dict -artifact_prefix=$(FUZZ_DIR)/artifacts/$$h- \
			$(FUZZ_DIR)/corpus/$$h tests/fuzz/corpus/$$h; \
	done

clean:
	rm -rf build $(VENV)
