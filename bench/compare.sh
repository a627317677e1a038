#!/usr/bin/env bash
# Times tallowmere against the classic fortune tools of Debian's fortune-mod on the same data.
#
#   bench/compare.sh
#
# The data are every fortune file (a file with a .dat index beside it) of the Debian packages
# fortunes, fortunes-min, fortunes-de, fortunes-ru and fortunes-zh; fortune-mod and those
# packages are installed with apt-get when missing (as root). Two comparisons, each run
# alternately, one run of each tool per round, with the ratio taken round by round:
#
#   index  the text of all those files, concatenated COPIES times with a '%' line between
#          files, indexed by `tallowmere index` and by `strfile -s`;
#   draw   one random fortune from those files, DRAWS times per round: `tallowmere` on
#          copies indexed by `tallowmere index`, `fortune` on the installed files.
#
# Printed: the median time of each tool, the median of the round ratios (tallowmere's time
# over the classic tool's), and the peak memory (maximum resident set) of each.
#
# Environment: RUNS (rounds, default 11), COPIES (default 25), DRAWS (default 20), SCOPE
# (top: the files directly in the classic collection's directory, the default; all: every file),
# BUILD (the Release build directory, default build-bench), WORK (a directory to keep the
# data in; a temporary one by default, removed at the end).
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS=${RUNS:-11}
COPIES=${COPIES:-25}
DRAWS=${DRAWS:-20}
BUILD=${BUILD:-build-bench}
DATA_PACKAGES=(fortunes fortunes-min fortunes-de fortunes-ru fortunes-zh)

# ---- what is needed ----------------------------------------------------------------------
missing=()
for package in fortune-mod "${DATA_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "compare: missing Debian packages: ${missing[*]} (as root: apt-get install ${missing[*]})" >&2
    exit 1
  fi
  echo "compare: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >&2
  apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
fi
STRFILE=$(dpkg -L fortune-mod | grep -m1 '/strfile$')
FORTUNE=$(dpkg -L fortune-mod | grep -m1 '/fortune$')

echo "compare: building tallowmere (Release) in $BUILD" >&2
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DTALLOWMERE_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc 2>/dev/null || echo 2)" --target tallowmere_cmd >/dev/null
TALLOWMERE=$(realpath "$BUILD/tools/tallowmere")

if [ -n "${WORK:-}" ]; then
  mkdir -p "$WORK"
else
  WORK=$(mktemp -d)
  trap 'rm -rf "$WORK"' EXIT
fi

# ---- the data ----------------------------------------------------------------------------
# The fortune files of the packages: regular files with the index strfile made beside them.
# By default those directly in the classic collection's directory (46 files, 4.8 MB: the
# collection `fortune` draws from, and the 120 MB corpus); SCOPE=all adds the German and
# Russian files in its subdirectories (177 files, 11 MB).
SCOPE=${SCOPE:-top}
CLASSIC_DIR=/usr/share/games/fortunes
FILES=()
while IFS= read -r path; do
  [ -f "$path" ] && [ ! -L "$path" ] && [ -f "$path.dat" ] || continue
  [ "$SCOPE" = all ] || [ "$(dirname "$path")" = "$CLASSIC_DIR" ] || continue
  FILES+=("$path")
done < <(dpkg -L "${DATA_PACKAGES[@]}" | sort -u)
[ ${#FILES[@]} -gt 0 ] || { echo "compare: no fortune files found" >&2; exit 1; }

# One copy of every file, each ending in a newline and followed by a '%' line but the last;
# the corpus is COPIES such copies, again with a '%' line between them.
: >"$WORK/one"
for path in "${FILES[@]}"; do
  [ -s "$WORK/one" ] && printf '%%\n' >>"$WORK/one"
  cat "$path" >>"$WORK/one"
  [ -z "$(tail -c 1 "$path")" ] || printf '\n' >>"$WORK/one"
done
: >"$WORK/corpus"
for ((copy = 0; copy < COPIES; copy++)); do
  [ "$copy" = 0 ] || printf '%%\n' >>"$WORK/corpus"
  cat "$WORK/one" >>"$WORK/corpus"
done
CORPUS_BYTES=$(stat -c %s "$WORK/corpus")

# The same files for tallowmere, in the layout of the originals below their common directory.
common=$(dirname "${FILES[0]}")
for path in "${FILES[@]}"; do
  while [ "${path#"$common"/}" = "$path" ]; do common=$(dirname "$common"); done
done
COPIED=()
for path in "${FILES[@]}"; do
  copy="$WORK/draw/${path#"$common"/}"
  mkdir -p "$(dirname "$copy")"
  cp "$path" "$copy"
  COPIED+=("$copy")
done
"$TALLOWMERE" index "${COPIED[@]}" >/dev/null

# ---- measuring ---------------------------------------------------------------------------
# Seconds that the command takes, from bash's microsecond clock.
seconds() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null
  local end=$EPOCHREALTIME
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }'
}
draws() {
  local i
  for ((i = 0; i < DRAWS; i++)); do "$@"; done
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# Peak resident memory of one run, in MiB.
peak() {
  /usr/bin/time -f '%M' -o "$WORK/rss" "$@" >/dev/null
  awk '{ printf "%.1f", $1 / 1024 }' "$WORK/rss"
}

# Runs both commands (given as the names of functions) RUNS times, alternating which goes
# first, after one warm-up run each; prints the median times and the median ratio.
compare() {
  local ours=$1 theirs=$2 unit=$3 scale=$4
  "$ours" >/dev/null; "$theirs" >/dev/null
  : >"$WORK/times"
  local round a b
  for ((round = 0; round < RUNS; round++)); do
    if ((round % 2 == 0)); then
      a=$(seconds "$ours"); b=$(seconds "$theirs")
    else
      b=$(seconds "$theirs"); a=$(seconds "$ours")
    fi
    echo "$a $b" >>"$WORK/times"
  done
  local a_med b_med ratio
  a_med=$(awk '{ print $1 }' "$WORK/times" | median)
  b_med=$(awk '{ print $2 }' "$WORK/times" | median)
  ratio=$(awk '{ print $1 / $2 }' "$WORK/times" | median)
  printf '%s %s %s\n' \
    "$(awk -v t="$a_med" -v s="$scale" 'BEGIN { printf "%.3f", t * s }')" \
    "$(awk -v t="$b_med" -v s="$scale" 'BEGIN { printf "%.3f", t * s }')" \
    "$(awk -v r="$ratio" 'BEGIN { printf "%.2f", r }')"
}

index_ours() { "$TALLOWMERE" index "$WORK/corpus"; }
index_theirs() { "$STRFILE" -s "$WORK/corpus"; }
draw_ours() { draws "$TALLOWMERE" "${COPIED[@]}"; }
draw_theirs() { draws "$FORTUNE" "${FILES[@]}"; }

read -r index_a index_b index_ratio < <(compare index_ours index_theirs s 1)
read -r draw_a draw_b draw_ratio < <(compare draw_ours draw_theirs ms "$(awk -v n="$DRAWS" 'BEGIN { print 1000 / n }')")
index_peak_a=$(peak "$TALLOWMERE" index "$WORK/corpus")
index_peak_b=$(peak "$STRFILE" -s "$WORK/corpus")
draw_peak_a=$(peak "$TALLOWMERE" "${COPIED[@]}")
draw_peak_b=$(peak "$FORTUNE" "${FILES[@]}")

# ---- report ------------------------------------------------------------------------------
cpu=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
echo "machine: $(nproc) cores, $cpu"
echo "data:    ${#FILES[@]} fortune files of ${DATA_PACKAGES[*]}"
awk -v b="$CORPUS_BYTES" -v c="$COPIES" \
  'BEGIN { printf "corpus:  %.1f MB (%d bytes, %d copies)\n", b / 1e6, b, c }'
echo "rounds:  $RUNS, alternating; times and ratios are medians over the rounds"
echo
printf '%-44s %12s %12s %8s\n' "" "tallowmere" "classic" "ratio"
printf '%-44s %10s s %10s s %8s\n' "index the corpus (strfile -s)" "$index_a" "$index_b" "$index_ratio"
printf '%-44s %9s ms %9s ms %8s\n' "one random fortune (fortune)" "$draw_a" "$draw_b" "$draw_ratio"
printf '%-44s %8s MiB %8s MiB\n' "peak memory, index" "$index_peak_a" "$index_peak_b"
printf '%-44s %8s MiB %8s MiB\n' "peak memory, one random fortune" "$draw_peak_a" "$draw_peak_b"
awk -v b="$CORPUS_BYTES" -v t="$index_a" 'BEGIN { printf "index throughput: %.0f MB/s\n", b / 1e6 / t }'
