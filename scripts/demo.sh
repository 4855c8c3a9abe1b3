#!/usr/bin/env bash
# A short session with the zpapi tool: enrol fingers into a fresh gallery
# from their first impressions, then identify every other impression.
# usage: demo.sh ZPAPI [DATA_DIR]   (DATA_DIR: FVC-style FFF_I.* images;
#                                    default: synthetic fingers made here)
set -euo pipefail
zpapi=$1
data=${2:-}
out=build/demo
rm -rf "$out"
mkdir -p "$out"

if [ -z "$data" ]; then
  echo "== making 8 synthetic fingers x 6 impressions"
  "$zpapi" synth --fingers 8 --impressions 6 --seed 2026 -o "$out/fingers"
  data=$out/fingers
fi
[ -d "$data" ] || { echo "demo: $data: no such folder" >&2; exit 2; }

fingers=$(ls "$data" | sed -n 's/^\([0-9]\+\)_[0-9]\+\.\(png\|tif\|tiff\|bmp\|pgm\|jpg\)$/\1/p' | sort -un)
[ -n "$fingers" ] || { echo "demo: $data holds no images named FINGER_IMPRESSION.ext" >&2; exit 2; }
# The image of finger $1, impression $2 (any of the formats the tool reads).
image() {
  for ext in png tif tiff bmp pgm jpg; do
    if [ -f "$data/$1_$2.$ext" ]; then echo "$data/$1_$2.$ext"; return 0; fi
  done
  return 0
}

db=$out/gallery.db
# A person, alice, with two fingers: the first two fingers of the set that
# enrol become her right index and right middle.
echo "== enrolling a person, alice, with two fingers, several templates each"
first=""
second=""
for f in $fingers; do
  position=right-index
  [ -n "$first" ] && position=right-middle
  echo "-- finger $f as alice's $position"
  if "$zpapi" enroll --db "$db" --id alice --finger "$position" "$(image "$f" 1)" "$(image "$f" 2)" "$(image "$f" 3)" 2>/dev/null; then
    if [ -z "$first" ]; then first=$f; else second=$f; break; fi
  fi
done
[ -n "$second" ] || { echo "demo: fewer than two fingers of $data enrol" >&2; exit 1; }
others=$(printf '%s\n' $fingers | grep -vx -e "$first" -e "$second")
echo "== verifying alice with another impression of her right index"
"$zpapi" verify --db "$db" --id alice "$(image "$first" 4)" 2>/dev/null || true
echo "== identifying her from two fingers at once (the subjects' scores add up)"
"$zpapi" identify --db "$db" --top 3 --finger right-index "$(image "$first" 5)" --finger right-middle "$(image "$second" 5)" 2>/dev/null || true

echo "== enrolling every other finger as a subject of its own, from impressions 1 to 3"
for f in $others; do
  "$zpapi" enroll --db "$db" --id "$f" "$(image "$f" 1)" "$(image "$f" 2)" "$(image "$f" 3)" 2>/dev/null | tail -n 1 || true
done
"$zpapi" list --db "$db" || true
enrolled=$("$zpapi" list --db "$db" --json 2>/dev/null | sed -n 's/.*"subject": "\([^"]*\)".*/\1/p' | sort -u)

# A probe is answered right when it is identified as its own finger, or,
# for a finger that could not be enrolled, when no one matches it.
echo "== identifying the other impressions"
right=0
total=0
for f in $others; do
  known=no
  printf '%s\n' "$enrolled" | grep -qx "$f" && known=yes
  for i in 4 5 6 7 8; do
    probe=$(image "$f" "$i")
    [ -n "$probe" ] || continue
    total=$((total + 1))
    answer=$("$zpapi" identify --db "$db" --top 3 "$probe" 2>/dev/null || true)
    best=$(printf '%s\n' "$answer" | awk '$1 == "1" && $NF == "match" { print $2 }')
    if [ "$known" = yes ] && [ "$best" = "$f" ]; then verdict=right
    elif [ "$known" = no ] && [ -z "$best" ]; then verdict="right (not enrolled, no match)"
    else verdict="wrong (${best:-no match})"; fi
    case $verdict in right*) right=$((right + 1)) ;; esac
    printf '%s: %s\n' "$(basename "$probe")" "$verdict"
    printf '%s\n' "$answer" | sed 's/^/    /'
  done
done
echo "== $right of $total impressions answered correctly"

"$zpapi" show "$(image "$first" 4)" -o "$out/show.png" || true
echo "== picture of one impression with its minutiae: $out/show.png"

# A capture larger than the sensor: the working window covers part of the
# finger, so each impression is fitted several times over it.
echo "== a generated finger on a 448 x 560 sensor, enrolled from 5 windows of each impression"
"$zpapi" synth --fingers 1 --impressions 4 --seed 2026 --canvas 448x560 -o "$out/large" --quiet
large=$out/large
"$zpapi" enroll --db "$out/large.db" --id large --windows 5 "$large/101_1.png" "$large/101_2.png" "$large/101_3.png" \
  2>/dev/null || true
"$zpapi" list --db "$out/large.db" || true
echo "== verifying it with 3 windows of its fourth impression"
"$zpapi" verify --db "$out/large.db" --id large --windows 3 "$large/101_4.png" 2>/dev/null || true
"$zpapi" show --windows 5 "$large/101_1.png" -o "$out/windows.png" || true
echo "== picture of the windows of its first impression: $out/windows.png"
