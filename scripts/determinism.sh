#!/bin/sh
# Builds the golden tool with several compilers and optimisation levels and
# compares each one's report with tests/golden/golden.txt: templates and
# scores must be the same bytes from every build.
#   scripts/determinism.sh [BUILD_ROOT]     (default build/determinism)
# DETERMINISM_CONFIGS picks configurations by name (default: all six).
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/determinism}
golden=$root/tests/golden/golden.txt
jobs=${JOBS:-$(nproc)}
configs=${DETERMINISM_CONFIGS:-"gcc-O0 gcc-O2 gcc-O3-native clang-O0 clang-O2 clang-O3-native"}

flags_of() {
  case $1 in
    *-O0) level="-O0" ;;
    *-O2) level="-O2" ;;
    *-O3-native) level="-O3 -march=native" ;;
  esac
  # clang's default compile-time evaluation budget is too small for the
  # matcher's geometry table.
  case $1 in
    clang-*) echo "$level -fconstexpr-steps=100000000" ;;
    *) echo "$level" ;;
  esac
}
compiler_of() {
  case $1 in
    gcc-*) echo "g++ gcc" ;;
    clang-*) echo "clang++-14 clang-14" ;;
  esac
}

status=0
for c in $configs; do
  set -- $(compiler_of "$c")
  dir=$out/$c
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    # A build type of its own, so that only the flags given here apply.
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Determinism -DCMAKE_CXX_COMPILER="$1" \
      -DCMAKE_C_COMPILER="$2" -DCMAKE_CXX_FLAGS="$(flags_of "$c")" \
      -DZPAPI_BUILD_BENCH=OFF -DZPAPI_BUILD_CLI=OFF >/dev/null || { status=1; continue; }
  fi
  if ! cmake --build "$dir" --target golden_tool -j "$jobs" >"$dir/build.log" 2>&1; then
    echo "$c: build failed (see $dir/build.log)"
    status=1
    continue
  fi
  "$dir/tests/hardening/golden_tool" "$dir/golden.txt"
  if cmp -s "$golden" "$dir/golden.txt"; then
    echo "$c ($1 $(flags_of "$c")): same as the golden file"
  else
    echo "$c ($1 $(flags_of "$c")): DIFFERS from the golden file"
    diff "$golden" "$dir/golden.txt" | head -n 20
    status=1
  fi
done
exit $status
