# Front door of the project. `make` builds build/vexac and the module
# simulator build/vexasim; `make run` compiles the demo project; `make test`
# runs every test, then again under the sanitizers; `make fuzz` runs every
# fuzz target for FUZZ_SECONDS; `make install` installs the programs and their
# man pages (PREFIX=/usr/local, DESTDIR honoured).
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
FUZZ_SECONDS ?= 60
PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: all build deps test-deps run test test-plain test-sanitize bench fuzz coverage docs install uninstall clean

all: build

deps:
	@scripts/install-deps build

test-deps:
	@scripts/install-deps test

build: deps
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS) --target vexac vexasim

run: build
	cd examples/demo && ../../build/vexac demo.txt

test: test-deps test-plain test-sanitize

test-plain:
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS)
	cd build && ctest --output-on-failure -j $(JOBS)

test-sanitize:
	@cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXA_SANITIZE=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && ctest --output-on-failure -j $(JOBS)

bench:
	@scripts/install-deps bench
	@cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVEXA_TESTS=ON -DVEXA_BENCH=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-bench -j $(JOBS)
	@bench/run build-bench

# The fuzz targets as libFuzzer programs (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer), each run for FUZZ_SECONDS over a copy of its
# seeds; what they find is kept in build-fuzz/fuzz-findings.
fuzz:
	@scripts/install-deps fuzz
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXA_FUZZ=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target fuzz_targets
	@FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz build-fuzz

# Line and branch coverage of src/ and tools/ over the whole suite (gcov
# needs the real source paths, so a compiler cache is kept out of this build).
coverage:
	@scripts/install-deps coverage
	@cmake -S . -B build-coverage -DCMAKE_BUILD_TYPE=Debug -DVEXA_COVERAGE=ON $(CMAKE_FLAGS) >/dev/null
	@CCACHE_DISABLE=1 cmake --build build-coverage -j $(JOBS)
	@find build-coverage -name '*.gcda' -delete
	@cd build-coverage && (ctest -j $(JOBS) >/dev/null || ctest --rerun-failed --output-on-failure)
	@gcovr --root . --object-directory build-coverage --filter 'src/' --filter 'tools/' \
	  --txt build-coverage/coverage.txt --print-summary 2>/dev/null | grep -E '^(lines|branches):'

# Rewrites the generated display command section of docs/language.md.
docs: build
	@scripts/commands-doc build/vexac docs/language.md

install: build
	@DESTDIR="$(DESTDIR)" cmake --install build --prefix "$(PREFIX)"

# Exactly the files install writes.
uninstall:
	rm -f "$(DESTDIR)$(PREFIX)/bin/vexac" "$(DESTDIR)$(PREFIX)/bin/vexasim" \
	  "$(DESTDIR)$(PREFIX)/share/man/man1/vexac.1" "$(DESTDIR)$(PREFIX)/share/man/man1/vexasim.1"

clean:
	rm -rf build build-sanitize build-bench build-coverage build-fuzz
