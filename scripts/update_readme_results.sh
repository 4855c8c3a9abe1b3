#!/usr/bin/env bash
# Writes the results page and the README's results section (between
# <!-- results:begin --> and <!-- results:end -->) from the outputs of
# scripts/bench.sh: the benchmark suite's JSON and zpapi eval's Markdown.
#
# usage: update_readme_results.sh --describe-machine
#        update_readme_results.sh --machine TEXT --benchmarks JSON --evaluation MD
#            --plots DIR --bench-seconds N --eval-seconds N --synthetic TEXT
#            --real-sets N --results OUT.md --readme README.md
set -euo pipefail

describe_machine() {
  local cpu cores
  cpu=$(awk -F': *' '/^model name/ { print $2; exit }' /proc/cpuinfo 2>/dev/null || true)
  cores=$(nproc 2>/dev/null || echo "?")
  printf '%s, %s cores, %s %s, %s, %s, load average %s when it started' "${cpu:-unknown CPU}" "$cores" \
    "$(uname -s)" "$(uname -r)" "$( (c++ --version 2>/dev/null || echo 'unknown compiler') | head -n 1)" \
    "$(date -u '+%Y-%m-%d %H:%M UTC')" "$(cut -d ' ' -f 1 /proc/loadavg 2>/dev/null || echo '?')"
}

if [ "${1:-}" = "--describe-machine" ]; then
  describe_machine
  echo
  exit 0
fi

machine="" benchmarks="" evaluation="" plots="" bench_seconds="" eval_seconds="" synthetic="" results="" readme=""
real_sets=0
while [ $# -gt 0 ]; do
  case $1 in
    --machine) machine=$2 ;;
    --benchmarks) benchmarks=$2 ;;
    --evaluation) evaluation=$2 ;;
    --plots) plots=$2 ;;
    --bench-seconds) bench_seconds=$2 ;;
    --eval-seconds) eval_seconds=$2 ;;
    --synthetic) synthetic=$2 ;;
    --real-sets) real_sets=$2 ;;
    --results) results=$2 ;;
    --readme) readme=$2 ;;
    *) echo "update_readme_results: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
for f in "$benchmarks" "$evaluation" "$readme"; do
  [ -f "$f" ] || { echo "update_readme_results: $f: no such file" >&2; exit 2; }
done

# One row per benchmark: plain runs, and the median of repeated ones.
benchmark_table() {
  awk '
    function seconds(v, unit) {
      return v * (unit == "ns" ? 1e-9 : unit == "us" ? 1e-6 : unit == "ms" ? 1e-3 : 1)
    }
    function show(s) {
      if (s < 1e-6) return sprintf("%.0f ns", s * 1e9)
      if (s < 1e-3) return sprintf("%.1f µs", s * 1e6)
      if (s < 1) return sprintf("%.2f ms", s * 1e3)
      return sprintf("%.2f s", s)
    }
    function rate(v) {
      if (v == "") return ""
      v = v + 0
      if (v >= 1e6) return sprintf("%.2f M/s", v / 1e6)
      if (v >= 1e3) return sprintf("%.1f k/s", v / 1e3)
      return sprintf("%.1f /s", v)
    }
    BEGIN {
      print "| benchmark | time | CPU | items/s |"
      print "|---|---:|---:|---:|"
    }
    /"benchmarks": \[/ { inside = 1; next }
    !inside { next }
    /^    \{/ { delete f; next }
    /^    \}/ {
      if (f["name"] == "") next
      reps = (f["repetitions"] == "" ? 1 : f["repetitions"] + 0)
      keep = (f["run_type"] == "iteration" && reps <= 1) || f["aggregate_name"] == "median"
      if (!keep) next
      name = f["name"]
      sub(/_median$/, "", name); sub(/\/repeats:[0-9]+$/, "", name); sub(/\/real_time$/, "", name)
      gsub(/\|/, "/", name)
      if (f["error_occurred"] == "true") {
        printf "| `%s` | skipped: %s | | |\n", name, f["error_message"]
        next
      }
      printf "| `%s` | %s | %s | %s |\n", name, show(seconds(f["real_time"], f["time_unit"])),
        show(seconds(f["cpu_time"], f["time_unit"])), rate(f["items_per_second"])
      next
    }
    /^      "[a-z_]+": / {
      key = $0; sub(/^ *"/, "", key); sub(/".*/, "", key)
      value = $0; sub(/^[^:]*: /, "", value); sub(/,$/, "", value); gsub(/^"|"$/, "", value)
      f[key] = value
    }
  ' "$1"
}

# The body shared by the results page and the README; $1 prefixes plot paths.
body() {
  local prefix=$1 heading=$2 png set
  cat <<EOF
Measured by \`make bench\` on: $machine.

$heading Accuracy

The verification protocol of the FVC competitions, run by \`zpapi eval\` on every set: each image is fitted
to the sensor's 256 × 384 and extracted; genuine comparisons between every pair of impressions of a finger
(28 per finger of 8 impressions), impostor comparisons between every pair of impressions of different
fingers (\`--impostors all\`: 2,880 in a set of 10 fingers, where the FVC protocol's first impressions give
only 45); the score is the match driver's 0–100 and a comparison is accepted when its score reaches the
threshold. An image that fails to enrol (FTE) stays in the experiment: its comparisons count as rejections
(false non-matches when genuine). EER as FVC estimates it (the middle of the interval where FNMR and FMR
cross); FMR100 and FMR1000: lowest FNMR with FMR ≤ 1 % and ≤ 0.1 %; ZeroFMR: lowest FNMR with no false
match. Times are CPU time per extraction and per comparison.

\`--enrol 3\` adds the protocol of the gallery: each finger enrolled from its first three impressions the way
\`zpapi enroll\` enrols it (the best impression, confirmed by another, kept with the others that confirm it),
the other impressions as probes scored against the best of the finger's templates; beside it the one-template
rule of earlier releases (the best impression alone, enrolled only when the runner-up confirms it). A finger
that does not enrol rejects its probes.

\`--windows 5,3\` adds captures fitted several times: the first impression of each finger enrolled with the
templates of up to 5 windows placed over its finger, every other impression probed with up to 3 (one extraction
each), the best score over windows and templates deciding, impostors over all cross-finger pairs; beside it the
centred windows alone. Sets whose captures barely exceed the working window give fewer windows (repeats and
failures are dropped).

EOF
  cat "$evaluation"
  echo
  echo "Identification ranks ties against the true finger; the re-scored figures re-rank the quick match's"
  echo "20 best candidates with the full match. The fused search is \`zpapi identify\`'s: each enrolled finger's"
  echo "best quick score over its templates short-lists fingers, the full match re-scores every template of a"
  echo "short-listed finger."
  echo
  if [ -n "$synthetic" ]; then
    echo "The generated set: \`zpapi synth\`, $synthetic."
    echo
  fi
  echo "Score histograms, FMR/FNMR by threshold and DET curves:"
  echo
  if [ -f "$plots/det.png" ]; then
    if [ "$prefix" = "embed" ]; then
      printf '![every set](det.png)\n\n'
    else
      printf '![every set](%sdet.png)\n\n' "$prefix"
    fi
  fi
  for png in "$plots"/det_*.png; do
    [ -f "$png" ] || continue
    set=$(basename "$png" .png); set=${set#det_}
    if [ "$prefix" = "embed" ]; then
      printf '![%s](%s)\n\n' "$set" "$(basename "$png")"
    else
      printf -- '- [%s](%s%s)\n' "$set" "$prefix" "$(basename "$png")"
    fi
  done
  [ "$prefix" = "embed" ] || echo
  if [ "$real_sets" -gt 0 ]; then
    cat <<EOF
The real sets are the "B" sample sets of FVC2000 (DB1–DB4) and FVC2002 (DB1): D. Maio, D. Maltoni,
R. Cappelli, J. L. Wayman, A. K. Jain, "FVC2000: Fingerprint Verification Competition", IEEE Trans. PAMI
24(3), 2002; "FVC2002: Second Fingerprint Verification Competition", Proc. ICPR 2002.

EOF
  else
    echo "The real sets (../shared/data) were not beside the checkout: only the generated set was evaluated."
    echo
  fi
  cat <<EOF
$heading Speed

Google Benchmark suite (\`build/release/bench/zpapi_bench\`; time is wall clock per iteration, CPU that of the
benchmark's main thread, items/s images, comparisons or gallery templates per second of wall clock):

EOF
  benchmark_table "$benchmarks"
  echo
  echo "Benchmark suite: ${bench_seconds} s; evaluation of every set: ${eval_seconds} s."
}

{
  echo "# Results"
  echo
  echo "Generated by \`make bench\` (scripts/bench.sh); do not edit by hand. Full figures, with FMR and FNMR at"
  echo "every threshold, in evaluation.json and benchmarks.json beside this page."
  echo
  body embed "##"
} > "$results"

section=$(mktemp)
trap 'rm -f "$section"' EXIT
{
  echo "<!-- results:begin -->"
  echo "<!-- Generated by make bench (scripts/update_readme_results.sh); edits here are overwritten. -->"
  echo
  body "docs/results/" "###"
  echo
  echo "Full results: [docs/results/results.md](docs/results/results.md)."
  echo "<!-- results:end -->"
} > "$section"

if grep -q '^<!-- results:begin -->$' "$readme" && grep -q '^<!-- results:end -->$' "$readme"; then
  awk -v section="$section" '
    /^<!-- results:begin -->$/ { while ((getline line < section) > 0) print line; skipping = 1; next }
    /^<!-- results:end -->$/ { skipping = 0; next }
    !skipping { print }
  ' "$readme" > "$readme.tmp"
else
  { cat "$readme"; echo; echo "## Results"; echo; cat "$section"; } > "$readme.tmp"
fi
mv "$readme.tmp" "$readme"
