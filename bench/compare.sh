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
#          files, indexed by `tallowmere index` and by `strfile -s` (whose data file goes
#          elsewhere: beside the text, `tallowmere index` would keep it up to date too): once with no index there
#          (removed before each round, so that the whole index is written), and once more over
#          the unchanged text, whose index tallowmere then leaves as it is;
#   draw   one random fortune from those files, DRAWS times per round: `tallowmere` on
#          copies indexed by `tallowmere index`, `fortune` on the installed files;
#   classic the same draw with tallowmere on the installed files themselves, read through the
#          data files of the classic tools (no index of tallowmere's, nothing written).
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
source bench/lib.sh

bench_classic_tools
bench_build
bench_workdir

# ---- the data ----------------------------------------------------------------------------
# The fortune files of the packages: regular files with the index strfile made beside them.
# By default those directly in the classic collection's directory (46 files, 4.8 MB: the
# collection `fortune` draws from, and the 120 MB corpus); SCOPE=all adds the German and
# Russian files in its subdirectories (177 files, 11 MB).
SCOPE=${SCOPE:-top}
bench_classic_files "$SCOPE"

# One copy of every file, each ending in a newline and followed by a '%' line but the last;
# the corpus is COPIES such copies, again with a '%' line between them.
bench_join "$WORK/one" "${FILES[@]}"
bench_copies "$WORK/corpus" "$COPIES" "$WORK/one"
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
draws() {
  local i
  for ((i = 0; i < DRAWS; i++)); do "$@"; done
}

fresh_ours() { rm -f "$WORK/corpus.ix"; "$TALLOWMERE" index "$WORK/corpus"; }
index_ours() { "$TALLOWMERE" index "$WORK/corpus"; }
index_theirs() { "$STRFILE" -s "$WORK/corpus" "$WORK/strfile-corpus.dat"; }
draw_ours() { draws "$TALLOWMERE" "${COPIED[@]}"; }
classic_ours() { draws "$TALLOWMERE" "${FILES[@]}"; }
draw_theirs() { draws "$FORTUNE" "${FILES[@]}"; }

per_draw=$(awk -v n="$DRAWS" 'BEGIN { print 1000 / n }')
read -r fresh_a fresh_b fresh_ratio < <(compare fresh_ours index_theirs 1)
read -r index_a index_b index_ratio < <(compare index_ours index_theirs 1)
read -r draw_a draw_b draw_ratio < <(compare draw_ours draw_theirs "$per_draw")
read -r classic_a classic_b classic_ratio < <(compare classic_ours draw_theirs "$per_draw")
index_peak_a=$(peak "$TALLOWMERE" index "$WORK/corpus")
index_peak_b=$(peak "$STRFILE" -s "$WORK/corpus" "$WORK/strfile-corpus.dat")
draw_peak_a=$(peak "$TALLOWMERE" "${COPIED[@]}")
draw_peak_b=$(peak "$FORTUNE" "${FILES[@]}")

# ---- report ------------------------------------------------------------------------------
bench_machine
echo "data:    ${#FILES[@]} fortune files of ${DATA_PACKAGES[*]}"
awk -v b="$CORPUS_BYTES" -v c="$COPIES" \
  'BEGIN { printf "corpus:  %.1f MB (%d bytes, %d copies)\n", b / 1e6, b, c }'
echo "rounds:  $RUNS, alternating; times and ratios are medians over the rounds"
echo
printf '%-44s %12s %12s %8s\n' "" "tallowmere" "classic" "ratio"
printf '%-44s %10s s %10s s %8s\n' "index the corpus, no index yet (strfile -s)" "$fresh_a" "$fresh_b" "$fresh_ratio"
printf '%-44s %10s s %10s s %8s\n' "index the unchanged corpus (strfile -s)" "$index_a" "$index_b" "$index_ratio"
printf '%-44s %9s ms %9s ms %8s\n' "one random fortune (fortune)" "$draw_a" "$draw_b" "$draw_ratio"
printf '%-44s %9s ms %9s ms %8s\n' "the same from the classic files (fortune)" "$classic_a" "$classic_b" "$classic_ratio"
printf '%-44s %8s MiB %8s MiB\n' "peak memory, index" "$index_peak_a" "$index_peak_b"
printf '%-44s %8s MiB %8s MiB\n' "peak memory, one random fortune" "$draw_peak_a" "$draw_peak_b"
awk -v b="$CORPUS_BYTES" -v t="$fresh_a" 'BEGIN { printf "index throughput, no index yet: %.0f MB/s\n", b / 1e6 / t }'
