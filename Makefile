# Front door of the project. `make` builds build/vexac; `make run` compiles the
# demo project; `make test` runs every test, then again under the sanitizers.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all build deps test-deps run test test-plain test-sanitize bench clean

all: build

deps:
	@scripts/install-deps build

test-deps:
	@scripts/install-deps test

build: deps
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS) --target vexac

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

clean:
	rm -rf build build-sanitize build-bench
