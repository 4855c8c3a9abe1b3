#!/bin/sh
# Builds the library with per-function stack usage reports and fails when
# any function of it uses more than 16 KiB of stack or a stack frame whose
# size is only known at run time. A "dynamic,bounded" frame (arguments
# pushed for a call, such as a model passed by value) counts with its bound.
#   scripts/stack_check.sh [BUILD_DIR]      (default build/stack)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/stack}
limit=16384
jobs=${JOBS:-$(nproc)}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-fstack-usage \
    -DZPAPI_BUILD_TESTS=OFF -DZPAPI_BUILD_BENCH=OFF -DZPAPI_BUILD_CLI=OFF >/dev/null
fi
cmake --build "$build" --target zpapi -j "$jobs" >/dev/null

# The shared library's objects: src/api and every stage library.
reports=$(find "$build/CMakeFiles" -path '*/zpapi*.dir/*' -name '*.su' | sort)
if [ -z "$reports" ]; then
  echo "stack check: no stack usage reports under $build" >&2
  exit 1
fi
# Lines read "file:line:column:function<TAB>bytes<TAB>static|dynamic|dynamic,bounded".
status=0
cat $reports | awk -F '\t' -v limit="$limit" '
  { n++ }
  $3 == "dynamic" { dynamic++; print "dynamic stack: " $1 " (" $2 " bytes, " $3 ")" }
  $2 + 0 > limit { over++; print "over " limit " bytes: " $1 " (" $2 " bytes)" }
  $2 + 0 > most { most = $2 + 0; where = $1 }
  END {
    printf "stack check: %d functions, largest frame %d bytes in %s\n", n, most, where
    exit (dynamic + over > 0) ? 1 : 0
  }' || status=$?
echo "largest five:"
cat $reports | sort -t "$(printf '\t')" -k2,2nr | head -n 5 | awk -F '\t' '{ printf "  %7d  %s\n", $2, $1 }'
exit $status
