#!/bin/sh
# Builds the fuzz targets, makes their seed corpora and runs each for a
# while: fuzz/run_fuzz.sh SECONDS [TARGET...]
# Working corpora grow in build/fuzz/corpus/<target>; crashes land in
# build/fuzz/artifacts/<target>/. Copy a crash into
# tests/hardening/regressions/<target>/ once fixed: the test suite replays it.
set -eu
seconds=${1:-180}
shift || true
targets=${*:-"template_decode match merge quick_match extract"}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build/fuzz}
cxx=${FUZZ_CXX:-clang++-14}
cc=${FUZZ_CC:-clang-14}
jobs=${JOBS:-$(nproc)}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_COMPILER="$cc" >/dev/null
fi
cmake --build "$build" -j "$jobs"
if [ ! -d "$build/seeds" ]; then
  "$build/fuzz_seed_corpus" "$build/seeds.tmp" && mv "$build/seeds.tmp" "$build/seeds"
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
status=0
summary=""
for t in $targets; do
  mkdir -p "$build/corpus/$t" "$build/artifacts/$t"
  log="$build/fuzz_$t.log"
  extra=""
  # Room for a whole image and the two setting bytes after it.
  [ "$t" = extract ] && extra="-max_len=98306"
  echo "fuzzing $t for ${seconds}s"
  if "$build/fuzz_$t" "$build/corpus/$t" "$build/seeds/$t" $extra -max_total_time="$seconds" \
       -timeout=30 -print_final_stats=1 -artifact_prefix="$build/artifacts/$t/" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    tail -n 40 "$log"
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  line="$t: $result, ${execs:-?} executions in ${seconds}s (${rate:-?}/s), corpus $(ls "$build/corpus/$t" | wc -l)"
  echo "$line"
  summary="$summary$line\n"
done
printf "%b" "$summary"
ls "$build"/artifacts/*/* 2>/dev/null && echo "crash inputs above: add them to tests/hardening/regressions/<target>/" || true
exit $status
