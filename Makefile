# Kinestim Host: the two quick-start commands and the other entry points.
#   make run    - install what running needs, build, start the console against the simulator
#   make test   - install what is missing, build native, sanitizer and Windows builds, run all tests
SHELL := /bin/bash
JOBS ?= $(shell nproc)

.PHONY: run test setup native asan mingw mingw64 test-native test-asan test-mingw gui fuzz fuzz-smoke soak bench lint clean

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

# The shipped program: 32-bit Windows, PE32 GUI.
mingw: setup
	cmake --preset mingw-i686
	cmake --build --preset mingw-i686 -j $(JOBS) --target kinestim-host
	@kind="$$(file build/mingw-i686/bin/kinestim-host.exe)"; echo "$$kind"; \
	  grep -q 'PE32 executable (GUI) Intel 80386' <<< "$$kind"

mingw64: setup
	cmake --preset mingw-x86_64
	cmake --build --preset mingw-x86_64 -j $(JOBS)

test-native: native
	ctest --preset native-release -j $(JOBS)

test-asan: asan
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset asan -j $(JOBS)

# Windows tests run under Wine on the i686 build where this machine can run 32-bit programs;
# where its kernel cannot, the same tests run on the x86_64 build under 64-bit Wine.
test-mingw: mingw
	@if bash scripts/wine-run.sh --loader win32 >/dev/null 2>&1; then \
	  cmake --build --preset mingw-i686 -j $(JOBS) && bash scripts/wine-tests.sh build/mingw-i686; \
	else \
	  echo "make: 32-bit Windows programs cannot run here; Windows tests run on the x86_64 build"; \
	  $(MAKE) mingw64 && bash scripts/wine-tests.sh build/mingw-x86_64; \
	fi

test: setup
	$(MAKE) test-native
	$(MAKE) test-asan
	$(MAKE) test-mingw
	@if [ -x scripts/lint.sh ]; then bash scripts/lint.sh; fi
	@if [ -x scripts/fuzz.sh ]; then FUZZ_JOBS=2 bash scripts/fuzz.sh 10; fi

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
