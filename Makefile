# make demo: build and run the command-line tool on sample fingers.
# make test: install missing build packages, build, and run every test twice,
#            optimised (with the Python package's pytest suite and the
#            PostgreSQL tests on throw-away clusters) and under
#            AddressSanitizer + UndefinedBehaviorSanitizer, then a short run of
#            every fuzz target and the stack check, and install the Python
#            package with pip into build/venv.
# make postgres: build and install the PostgreSQL extension (docs/postgres.md).
# make python: the Python package, installed offline by pip into build/venv
#            (Debian's python3 with its site packages); build/release/python
#            holds it too, for PYTHONPATH.
# make fuzz [FUZZ_SECONDS=N]: run every fuzz target for N seconds (libFuzzer).
# make tsan: the concurrency test under ThreadSanitizer.
# make stack-check: no library function may use over 16 KiB of stack.
# make determinism: six compiler / optimisation builds against the golden file.
# make golden-update: rewrite tests/golden/golden.txt (only on purpose).
JOBS ?= $(shell nproc)
DEBIAN_PACKAGES := cmake g++ make pkg-config binutils libgtest-dev libbenchmark-dev libtiff-dev libpng-dev libstb-dev libsqlite3-dev libxxhash-dev libcli11-dev nlohmann-json3-dev clang-14 libclang-rt-14-dev python3 \
  python3-dev python3-venv python3-pip python3-setuptools pybind11-dev python3-pybind11 python3-numpy python3-pytest \
  python3-matplotlib postgresql-15 postgresql-server-dev-15 libpq-dev python3-psycopg2

# make synth-pictures: regenerates the README's synthetic master and impressions.
.PHONY: synth-pictures all deps build build-asan test test-release test-asan demo bench clean \
        fuzz fuzz-smoke tsan stack-check determinism golden-update python postgres

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

test-release: build postgres
	ctest --test-dir build/release --output-on-failure -j $(JOBS)

test-asan: build-asan
	ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --test-dir build/asan --output-on-failure -j $(JOBS)

test: test-release test-asan fuzz-smoke stack-check python

# make postgres: the PostgreSQL extension (postgres/, PGXS) built against the
# release tree's static libraries and installed into the server's folders;
# its tests run in ctest against throw-away clusters (docs/postgres.md).
PG_CONFIG ?= /usr/lib/postgresql/15/bin/pg_config
postgres: build
	$(MAKE) -C postgres PG_CONFIG=$(PG_CONFIG) ZPAPI_BUILD=../build/release
	$(MAKE) -C postgres PG_CONFIG=$(PG_CONFIG) ZPAPI_BUILD=../build/release install

PYTHON := /usr/bin/python3
python: build
	$(PYTHON) -m venv --system-site-packages build/venv
	build/venv/bin/pip install --quiet --no-build-isolation --no-index ./python
	build/venv/bin/python -c "import zpapi, zpapi.plot; print('zpapi', zpapi.version(), 'installed in build/venv')"

FUZZ_SECONDS ?= 180
FUZZ_SMOKE_SECONDS ?= 10

fuzz: deps
	./fuzz/run_fuzz.sh $(FUZZ_SECONDS)

fuzz-smoke: deps
	./fuzz/run_fuzz.sh $(FUZZ_SMOKE_SECONDS)

tsan: deps
	cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS="-fsanitize=thread -g" \
	  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread \
	  -DZPAPI_BUILD_BENCH=OFF -DZPAPI_BUILD_CLI=OFF
	cmake --build build/tsan --target test_hardening_concurrency -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1 ./build/tsan/tests/hardening/test_hardening_concurrency

stack-check: deps
	./scripts/stack_check.sh build/stack

determinism: deps
	./scripts/determinism.sh build/determinism

golden-update: build
	./build/release/tests/hardening/golden_tool tests/golden/golden.txt
	-git diff --stat tests/golden/golden.txt

# make demo DATA=DIR runs the same session on a folder of real images.
demo: build
	./build/release/cli/zpapi version
	./scripts/demo.sh ./build/release/cli/zpapi $(DATA)

# make bench: benchmark suite, evaluation on ../shared/data and a generated
# set, docs/results/ and the README's results section (scripts/bench.sh).
bench: build postgres
	./scripts/bench.sh build/release

clean:
	rm -rf build

synth-pictures: build
	./build/release/cli/zpapi synth --fingers 1 --impressions 8 --seed 2 --class left-loop --master -o docs/images/synth --quiet
