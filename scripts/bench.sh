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
# A gallery of many generated fingers for the fused search's short-list table.
large_fingers=1000
large_impressions=4
large_seed=2027
large_set=$work/synthetic_${large_fingers}x${large_impressions}

for tool in "$zpapi" "$suite"; do
  [ -x "$tool" ] || { echo "bench: $tool not built" >&2; exit 2; }
done
[ -f "$build/python/zpapi/_zpapi"*.so ] || { echo "bench: the Python package is not built in $build/python" >&2; exit 2; }
mkdir -p "$results" "$work"
started=$(date +%s)
machine=$(scripts/update_readme_results.sh --describe-machine)  # with the load as the run starts

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

# A generated set is the same for the same seed and generator: made once,
# then reused while a fresh first impression still equals the kept one.
generated_set() {  # DIR FINGERS IMPRESSIONS SEED
  local dir=$1 fingers=$2 impressions=$3 seed=$4 stamp probe_dir
  stamp="$dir/.complete"
  if [ -f "$stamp" ]; then
    probe_dir=$(mktemp -d)
    "$zpapi" synth --fingers 1 --impressions 1 --seed "$seed" -o "$probe_dir" --quiet
    cmp -s "$probe_dir/101_1.png" "$dir/101_1.png" || rm -f "$stamp"
    rm -rf "$probe_dir"
  fi
  if [ ! -f "$stamp" ]; then
    echo "== generating $fingers fingers x $impressions impressions (seed $seed)"
    rm -rf "$dir"
    "$zpapi" synth --fingers "$fingers" --impressions "$impressions" --seed "$seed" -o "$dir" --quiet
    touch "$stamp"
  fi
}
generated_set "$synth_set" "$synth_fingers" "$synth_impressions" "$synth_seed"
generated_set "$large_set" "$large_fingers" "$large_impressions" "$large_seed"
sets+=("$synth_set")

echo "== evaluation"
rm -f "$results"/det_*.png
eval_started=$(date +%s)
# --windows 5,3: the windows protocol beside the single window (captures fitted
# several times over the finger).
"$zpapi" eval "${sets[@]}" --enrol 3 --impostors all --windows 5,3 --report "$results/evaluation.json" \
  --markdown "$work/evaluation.md" | tee "$work/evaluation.txt"
echo "== pictures: python3 -m zpapi.plot (the package built in $build/python)"
PYTHONPATH="$build/python${PYTHONPATH:+:$PYTHONPATH}" "${PYTHON:-/usr/bin/python3}" -m zpapi.plot \
  "$results/evaluation.json" -o "$results/det.png"
echo "== fused search over $large_fingers generated fingers"
"$zpapi" eval "$large_set" --enrol 3 --report "$results/evaluation_large.json" --markdown "$work/evaluation_large.md" \
  | tee "$work/evaluation_large.txt"
{
  echo
  echo "#### A generated gallery of $large_fingers fingers"
  echo
  echo "\`zpapi synth --fingers $large_fingers --impressions $large_impressions --seed $large_seed\`: each finger"
  echo "enrolled from impressions 1-3, impression 4 searched over every enrolled finger."
  echo
  sed -n '/^Fused identification over the enrolled fingers/,$p' "$work/evaluation_large.md"
} >> "$work/evaluation.md"
if [ "$real_sets" -gt 0 ]; then
  echo "== the real sets pooled into one gallery, searched through zpapi identify"
  {
    echo
    echo "#### The real sets pooled into one gallery"
    echo
    echo "Every finger of every set enrolled with \`zpapi enroll\` from impressions 1-3 into one gallery, every"
    echo "other impression searched with \`zpapi identify\` at level 3 (finger N of fvc2000_db1_b and fvc2000_db2_b"
    echo "is one finger on two sensors, so one identity):"
    echo
    python3 scripts/pooled_identification.py "$zpapi" "$data"
  } >> "$work/evaluation.md"
fi
eval_done=$(date +%s)

# The gallery at scale: a search over a million templates through the tool
# (gallery reading, probe extraction and process start included), and the
# enrolment of 10,000 images through enroll --batch.
million=1000000
million_db=$work/gallery_${million}.db
# (the marker names the gallery layout: an older run's file is made again)
if [ ! -f "$million_db.complete-3" ]; then
  echo "== populating a gallery of $million random templates"
  rm -f "$million_db" "$million_db"-* "$million_db".complete*
  "$zpapi" populate --db "$million_db" --count "$million" --quiet
  touch "$million_db.complete-3"
fi
probe=$(ls "${sets[0]}"/*_2.* | head -n 1)
# The first search after a write reads every row and writes the gallery's
# snapshot file; the next ones read that file (median of three).
echo "== identification over $million templates (after a write, then three runs, median)"
rm -f "$million_db-snapshot"
timed_identify() {
  local begin
  begin=$(date +%s.%N)
  "$zpapi" identify --db "$million_db" --quiet "$probe" > /dev/null || true
  awk -v end="$(date +%s.%N)" -v begin="$begin" 'BEGIN { printf "%.3f", end - begin }'
}
first_identify_seconds=$(timed_identify)
runs=()
for run in 1 2 3; do
  runs+=("$(timed_identify)")
done
identify_seconds=$(printf '%s\n' "${runs[@]}" | sort -n | sed -n 2p)
echo "   after a write: $first_identify_seconds s; then ${runs[*]} s"

# The same count inside PostgreSQL (make postgres): one server with 2
# parallel workers, and two shards through a coordinator on this machine.
if [ -x /usr/lib/postgresql/15/bin/initdb ] &&
   [ -f "$(/usr/lib/postgresql/15/bin/pg_config --pkglibdir)/zpapi.so" ]; then
  echo "== identification inside PostgreSQL over $million templates"
  pg_probes=$work/postgres_probes
  rm -rf "$pg_probes"
  "$zpapi" extract $(ls "${sets[0]}"/*_2.* | head -n 3) -o "$pg_probes" --quiet > /dev/null
  tests/postgres/with_cluster.sh --clusters 3 --set shared_buffers=512MB --set work_mem=256MB -- \
    "${PYTHON:-/usr/bin/python3}" scripts/bench_postgres.py --tool "$zpapi" --count "$million" \
    --embedded-seconds "$identify_seconds" "$pg_probes"/*.zpt >> "$work/evaluation.md"
else
  echo "bench: the zpapi PostgreSQL extension is not installed (make postgres); not measured inside PostgreSQL"
fi

echo "== enrolment of 10,000 images through enroll --batch"
batch_list=$work/batch_10000.txt
batch_db=$work/batch.db
images=()
for dir in "${sets[@]}"; do
  for file in "$dir"/*_[123].*; do
    case $file in *.tif | *.tiff | *.png | *.bmp | *.pgm | *.jpg) images+=("$file") ;; esac
  done
done
: > "$batch_list"
for ((line = 0; line < 3334; line++)); do
  k=$((line * 3 % ${#images[@]}))
  echo "bench-$line unknown ${images[$k]} ${images[$(((k + 1) % ${#images[@]}))]} ${images[$(((k + 2) % ${#images[@]}))]}" >> "$batch_list"
done
rm -f "$batch_db" "$batch_db"-*
"$zpapi" enroll --db "$batch_db" --batch "$batch_list" --json --quiet > "$work/batch.json" || true
batch_rate=$(sed -n 's/^  "images_per_second": \([0-9.]*\).*/\1/p' "$work/batch.json")
batch_images=$(sed -n 's/^  "images": \([0-9]*\).*/\1/p' "$work/batch.json")
{
  echo
  echo "#### Speed against the targets"
  echo
  echo "Measured as \`bench/COMPARE.md\` describes, on the machine named above:"
  echo
  echo "| figure | measured | target |"
  echo "|---|---:|---:|"
  python3 - "$results/benchmarks.json" <<'PY'
import json, sys
counters = {b["name"].split("/")[0]: b for b in json.load(open(sys.argv[1]))["benchmarks"]}
def row(label, name, key, unit, target):
    b = counters.get(name)
    value = f"{b[key]:.2f} {unit}" if b and key in b else "not measured (no real sets)"
    print(f"| {label} | {value} | {target} |")
row("extraction, median per real image", "BM_FingerExtractRealMedian", "median_ms", "ms", "≤ 1.0 ms")
row("`ZPMatch`, median over every same-set pair", "BM_ZPMatchRealPairs", "median_us", "µs", "≤ 12 µs")
row("`ZPMatch`, median over the genuine pairs", "BM_ZPMatchRealPairs", "genuine_median_us", "µs", "≤ 25 µs")
row("`ZPQuickMatch` per candidate", "BM_ZPQuickMatchRealGallery", "median_us", "µs", "≤ 3 µs")
PY
  printf '| `zpapi identify` over %s random templates, whole command (median of three, from the gallery'"'"'s snapshot file) | %.2f s | ≤ 2 s on 2 cores |\n' "$million" "$identify_seconds"
  printf '| the same, first search after a write (every row read, the snapshot file written) | %.2f s | |\n' "$first_identify_seconds"
  printf '| `zpapi enroll --batch`, %s images on %s cores | %.0f images/s | all cores |\n' "$batch_images" "$(nproc)" "$batch_rate"
} >> "$work/evaluation.md"

# A single set's plot is written as det.png (several sets: det_SET.png each
# and every DET curve in det.png); name it after its set as well.
if [ ${#sets[@]} -eq 1 ] && [ -f "$results/det.png" ]; then
  mv "$results/det.png" "$results/det_$(basename "${sets[0]}").png"
fi

scripts/update_readme_results.sh \
  --machine "$machine" \
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
