# make demo: build and run the command-line tool on sample fingers.
# make test: install missing build packages, build, and run every test twice,
#            optimised and under AddressSanitizer + UndefinedBehaviorSanitizer.
JOBS ?= $(shell nproc)
DEBIAN_PACKAGES := cmake g++ make pkg-config binutils libgtest-dev libbenchmark-dev libtiff-dev libpng-dev libstb-dev libsqlite3-dev libcli11-dev nlohmann-json3-dev

.PHONY: all deps build build-asan test test-release test-asan demo bench clean

all: build

deps:
	@missing=""; for p in $(DEBIAN_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing; \
	fi

build/release/CMakeCache.txt: | deps
	cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release

build/asan/CMakeCache.txt: | deps
	cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Release -DZPAPI_SANITIZE=ON -DZPAPI_BUILD_BENCH=OFF

build: deps build/release/CMakeCache.txt
	cmake --build build/release -j $(JOBS)

build-asan: deps build/asan/CMakeCache.txt
	cmake --build build/asan -j $(JOBS)

test-release: build
	ctest --test-dir build/release --output-on-failure -j $(JOBS)

test-asan: build-asan
	ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --test-dir build/asan --output-on-failure -j $(JOBS)

test: test-release test-asan

# make demo DATA=DIR runs the same session on a folder of real images.
demo: build
	./build/release/cli/zpapi version
	./scripts/demo.sh ./build/release/cli/zpapi $(DATA)

bench: build
	./build/release/bench/zpapi_bench

clean:
	rm -rf build
