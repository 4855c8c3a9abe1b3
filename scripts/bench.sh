#!/usr/bin/env bash
# make bench: the benchmark suite, the evaluation on every real set beside
# the checkout and on a generated set, the results page and the README's
# results section.
# usage: bench.sh [BUILD_DIR]   (default build/release; run from the checkout)
set -euo pipefail
build=${1:-build/release}
zpapi=$build/cli/zpapi
suite=$build/bench/zpapi_bench
data=${ZPAPI_DATA_DIR:-../shared/data}
results=docs/results
work=build/bench
synth_fingers=100
synth_impressions=8
synth_seed=2026
synth_set=$work/synthetic_${synth_fingers}x${synth_impressions}

for tool in "$zpapi" "$suite"; do
  [ -x "$tool" ] || { echo "bench: $tool not built" >&2; exit 2; }
done
mkdir -p "$results" "$work"
started=$(date +%s)

echo "== benchmark suite"
"$suite" --benchmark_out="$results/benchmarks.json" --benchmark_out_format=json --benchmark_color=false
bench_done=$(date +%s)

sets=()
real_sets=0
if [ -d "$data" ]; then
  for dir in "$data"/*/; do
    dir=${dir%/}
    if ls "$dir" | grep -qE '^[0-9]+_[0-9]+\.(tif|tiff|png|bmp|pgm|jpg)$'; then sets+=("$dir"); fi
  done
  real_sets=${#sets[@]}
  [ "$real_sets" -gt 0 ] || echo "bench: $data holds no image sets; evaluating the generated set only"
else
  echo "bench: $data not found; evaluating the generated set only"
fi

# The generated set is the same for the same seed and generator: made once,
# then reused while a fresh first impression still equals the kept one.
stamp="$synth_set/.complete"
if [ -f "$stamp" ]; then
  probe_dir=$(mktemp -d)
  "$zpapi" synth --fingers 1 --impressions 1 --seed "$synth_seed" -o "$probe_dir" --quiet
  cmp -s "$probe_dir/101_1.png" "$synth_set/101_1.png" || rm -f "$stamp"
  rm -rf "$probe_dir"
fi
if [ ! -f "$stamp" ]; then
  echo "== generating $synth_fingers fingers x $synth_impressions impressions (seed $synth_seed)"
  rm -rf "$synth_set"
  "$zpapi" synth --fingers "$synth_fingers" --impressions "$synth_impressions" --seed "$synth_seed" -o "$synth_set"
  touch "$stamp"
fi
sets+=("$synth_set")

echo "== evaluation"
rm -f "$results"/det_*.png
eval_started=$(date +%s)
"$zpapi" eval "${sets[@]}" --report "$results/evaluation.json" --markdown "$work/evaluation.md" \
  --plot "$results/det.png" | tee "$work/evaluation.txt"
eval_done=$(date +%s)

# A single set's plot is written as det.png; name it after its set as well.
if [ ${#sets[@]} -eq 1 ] && [ -f "$results/det.png" ]; then
  mv "$results/det.png" "$results/det_$(basename "${sets[0]}").png"
fi

scripts/update_readme_results.sh \
  --machine "$(scripts/update_readme_results.sh --describe-machine)" \
  --benchmarks "$results/benchmarks.json" \
  --evaluation "$work/evaluation.md" \
  --plots "$results" \
  --bench-seconds $((bench_done - started)) \
  --eval-seconds $((eval_done - eval_started)) \
  --synthetic "$synth_fingers fingers x $synth_impressions impressions, seed $synth_seed" \
  --real-sets "$real_sets" \
  --results "$results/results.md" \
  --readme README.md
echo "== results: $results/results.md, $results/evaluation.json, $results/benchmarks.json; README.md updated"
echo "== make bench took $(( $(date +%s) - started )) s"
