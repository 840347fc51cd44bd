# Kinestim Host: the two quick-start commands and the other entry points.
#   make run    - install what running needs, build, start the console against the simulator
#   make test   - install what is missing, build native, sanitizer and Windows builds, run all tests
SHELL := /bin/bash
JOBS ?= $(shell nproc)

.PHONY: run test setup native asan mingw test-native test-asan test-mingw gui fuzz fuzz-smoke soak bench lint clean

run:
	@bash scripts/setup-debian.sh run
	@cmake --preset native-release >/dev/null
	@cmake --build --preset native-release --target kinestim-console kinestim-sim -j $(JOBS)
	@build/native-release/bin/kinestim-console --simulate

setup:
	@bash scripts/setup-debian.sh all

native: setup
	cmake --preset native-release
	cmake --build --preset native-release -j $(JOBS)

asan: setup
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)

mingw: setup
	cmake --preset mingw-i686
	cmake --build --preset mingw-i686 -j $(JOBS)

test-native: native
	ctest --preset native-release -j $(JOBS)

test-asan: asan
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset asan -j $(JOBS)

test-mingw: mingw
	bash scripts/wine-tests.sh build/mingw-i686

test: setup
	$(MAKE) test-native
	$(MAKE) test-asan
	$(MAKE) test-mingw
	@if [ -x scripts/lint.sh ]; then bash scripts/lint.sh; fi
	@if [ -x scripts/fuzz.sh ]; then bash scripts/fuzz.sh 30; fi

gui: native mingw
	bash scripts/run-gui.sh $(ARGS)

fuzz: setup
	bash scripts/fuzz.sh $${FUZZ_SECONDS:-600}

soak: native
	bash scripts/soak.sh

bench: native
	bash scripts/bench.sh

lint: native
	bash scripts/lint.sh

clean:
	rm -rf build
