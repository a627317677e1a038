#!/usr/bin/env bash
# Times tallowmere at scale against the classic fortune tools of Debian's fortune-mod and `cat`:
# thousands of files, a million fortunes, a 100 MB fortune, a text of hundreds of megabytes.
#
#   bench/scale.sh
#
# The data are made from the texts of every fortune file of the Debian packages fortunes,
# fortunes-min, fortunes-de, fortunes-ru and fortunes-zh (177 files, 58 878 fortunes), which
# fortune-mod and those packages provide (installed with apt-get when missing, as root):
#
#   many/     those fortunes split into FILES files (default 5000) of consecutive fortunes, each
#             with tallowmere's index (.ix) and strfile's (.dat) beside it; few/ holds the first
#             FEW of them (default 200);
#   million   copies of those fortunes cut at FORTUNES fortunes (default 1 000 000), with both
#             indexes;
#   big       a fortune of BIG bytes (default 100 000 000): their lines without the '%' lines,
#             repeated;
#   corpus    COPIES copies (default 25) of all those fortunes: about 277 MB.
#
# Each row runs tallowmere and the other command alternately, RUNS rounds (default 11; the
# slow rows SLOW_RUNS, default 5), and prints the median time of each, the median of the round
# ratios (tallowmere's time over the other's) and the peak memory (maximum resident set, from
# /usr/bin/time) of one more run of each:
#
#   draw      one random fortune from the FILES files, DRAWS times a round (default 20):
#             `tallowmere many` against `fortune many`;
#   match     every fortune of `million` that matches MATCH (default Einstein):
#             `tallowmere -m` against `fortune -m`;
#   check     `tallowmere check million` (no counterpart);
#   add       `tallowmere add` of `big` from standard input to a file of 10 fortunes (no
#             counterpart);
#   index     `tallowmere index corpus` from no index (corpus.ix removed before each run)
#             against `cat corpus > /dev/null` and against `strfile -s corpus`, and of the
#             unchanged text (the index in place) against `cat`.
#
# Then whether each tool draws from few/ under `ulimit -n 64` and from many/ under
# `ulimit -n 1024`, and the targets with what this run shows of them.
#
# Environment: RUNS, SLOW_RUNS, DRAWS, FILES, FEW, FORTUNES, BIG, COPIES, MATCH as above;
# BUILD (the Release build directory, default build-bench), WORK (a directory to keep the data
# in, reused by later runs when its data are complete; a temporary one by default, removed at
# the end). The default run takes a few minutes on two cores.
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS=${RUNS:-11}
SLOW_RUNS=${SLOW_RUNS:-5}
DRAWS=${DRAWS:-20}
FILE_COUNT=${FILES:-5000}
FEW=${FEW:-200}
FORTUNES=${FORTUNES:-1000000}
BIG=${BIG:-100000000}
COPIES=${COPIES:-25}
MATCH=${MATCH:-Einstein}
source bench/lib.sh

bench_classic_tools
bench_build
bench_workdir

# ---- the data ----------------------------------------------------------------------------
# Made once for a WORK directory: the stamp records the settings they were made with.
stamp="files=$FILE_COUNT few=$FEW fortunes=$FORTUNES big=$BIG copies=$COPIES"
if [ "$(cat "$WORK/stamp" 2>/dev/null)" != "$stamp" ]; then
  echo "$0: making the data in $WORK" >&2
  rm -rf "$WORK/many" "$WORK/few" "$WORK/stamp"
  bench_classic_files all
  bench_join "$WORK/one" "${FILES[@]}"

  # FILE_COUNT files of consecutive fortunes, as even as the count allows.
  mkdir -p "$WORK/many"
  total=$(grep -c '^%$' "$WORK/one" || true)
  total=$((total + 1))
  awk -v dir="$WORK/many" -v files="$FILE_COUNT" -v total="$total" '
    function open_next() {
      if (name != "") close(name)
      name = sprintf("%s/f%05d", dir, opened++)
    }
    BEGIN { open_next() }
    $0 == "%" && opened < files && ++done >= int(opened * total / files) { open_next(); next }
    { print > name }
  ' "$WORK/one"
  "$TALLOWMERE" index "$WORK"/many/f* >/dev/null
  for path in "$WORK"/many/f*; do
    case $path in *.ix) continue ;; esac
    "$STRFILE" -s "$path" >/dev/null
  done
  mkdir -p "$WORK/few"
  for ((file = 0; file < FEW; file++)); do
    cp "$WORK/many/$(printf 'f%05d' "$file")"{,.ix,.dat} "$WORK/few/"
  done

  # FORTUNES fortunes: enough copies, cut before the delimiter line that would start one more.
  # A '%' line right after one that ended a fortune is text, not a delimiter line.
  bench_copies "$WORK/copies" "$((FORTUNES * 10 / (total * 9) + 1))" "$WORK/one"
  awk -v want="$FORTUNES" '
    $0 == "%" && !after { if (++count == want) exit; after = 1; print; next }
    { after = 0; print }
  ' "$WORK/copies" >"$WORK/million"
  rm -f "$WORK/copies"
  "$TALLOWMERE" index "$WORK/million" >/dev/null
  "$STRFILE" -s "$WORK/million" >/dev/null

  # One fortune of BIG bytes, cut at the end of a line so that it stays valid UTF-8.
  grep -v '^%$' "$WORK/one" >"$WORK/lines"
  copies=$((BIG / $(stat -c %s "$WORK/lines") + 2))
  for ((copy = 0; copy < copies; copy++)); do cat "$WORK/lines"; done >"$WORK/big.all"
  head -c "$BIG" "$WORK/big.all" | sed '$d' >"$WORK/big"
  rm -f "$WORK/big.all"
  rm -f "$WORK/lines"
  printf 'Fortune %s\n%%\n' 1 2 3 4 5 6 7 8 9 >"$WORK/jar-base"
  printf 'Fortune 10\n' >>"$WORK/jar-base"

  bench_copies "$WORK/corpus" "$COPIES" "$WORK/one"
  echo "$stamp" >"$WORK/stamp"
fi
MANY=$(find "$WORK/many" -type f ! -name '*.*' | wc -l)
FEW_FILES=$(find "$WORK/few" -type f ! -name '*.*' | wc -l)
MILLION=$("$TALLOWMERE" count "$WORK/million")
CORPUS_BYTES=$(stat -c %s "$WORK/corpus")
BIG_BYTES=$(stat -c %s "$WORK/big")

# ---- the commands ------------------------------------------------------------------------
draws() {
  local i
  for ((i = 0; i < DRAWS; i++)); do "$@"; done
}
draw_ours() { draws "$TALLOWMERE" "$WORK/many"; }
draw_theirs() { draws "$FORTUNE" "$WORK/many"; }
# The names of the files with matches go to standard error; fortune -m exits with 1 even
# when it found matches.
match_ours() { "$TALLOWMERE" -m "$MATCH" "$WORK/million" 2>/dev/null; }
match_theirs() { "$FORTUNE" -m "$MATCH" "$WORK/million" 2>/dev/null || :; }
check_ours() { "$TALLOWMERE" check "$WORK/million"; }
reset_jar() {
  cp "$WORK/jar-base" "$WORK/jar"
  "$TALLOWMERE" index "$WORK/jar" >/dev/null
}
add_ours() { "$TALLOWMERE" add "$WORK/jar" <"$WORK/big"; }
remove_index() { rm -f "$WORK/corpus.ix"; }
index_ours() { "$TALLOWMERE" index "$WORK/corpus"; }
cat_corpus() { cat "$WORK/corpus"; }
strfile_corpus() { "$STRFILE" -s "$WORK/corpus"; }

# "ok", or "fails: " and the first line the command wrote to standard error, for a draw from
# DIR with at most LIMIT open files.
limited() {
  local limit=$1
  shift
  if (ulimit -n "$limit" && "$@") >/dev/null 2>"$WORK/err"; then
    echo ok
  else
    echo "fails: $(head -n 1 "$WORK/err" | cut -c 1-60)"
  fi
}

# ---- measuring ---------------------------------------------------------------------------
per_draw=$(awk -v n="$DRAWS" 'BEGIN { print 1000 / n }')
echo "$0: timing" >&2
read -r draw_a draw_b draw_ratio < <(compare draw_ours draw_theirs "$per_draw")
draw_peak_a=$(peak "$TALLOWMERE" "$WORK/many")
draw_peak_b=$(peak "$FORTUNE" "$WORK/many")

read -r match_a match_b match_ratio < <(RUNS=$SLOW_RUNS compare match_ours match_theirs 1)
match_peak_a=$(peak "$TALLOWMERE" -m "$MATCH" "$WORK/million" 2>/dev/null)
match_peak_b=$(peak "$FORTUNE" -m "$MATCH" "$WORK/million" 2>/dev/null)
match_count=$("$TALLOWMERE" -m "$MATCH" "$WORK/million" 2>/dev/null | grep -c '^%$' || true)

check_a=$(RUNS=$SLOW_RUNS timed check_ours 1)
check_peak_a=$(peak "$TALLOWMERE" check "$WORK/million")

add_a=$(RUNS=$SLOW_RUNS timed add_ours 1 reset_jar)
reset_jar
add_peak_a=$(peak "$TALLOWMERE" add "$WORK/jar" <"$WORK/big")
add_result=$("$TALLOWMERE" count "$WORK/jar")

read -r new_a new_cat new_cat_ratio < <(compare index_ours cat_corpus 1 remove_index)
read -r new_b new_strfile new_strfile_ratio < <(compare index_ours strfile_corpus 1 remove_index)
index_ours >/dev/null
read -r same_a same_cat same_cat_ratio < <(compare index_ours cat_corpus 1)
remove_index
index_peak_a=$(peak "$TALLOWMERE" index "$WORK/corpus")
index_peak_b=$(peak "$STRFILE" -s "$WORK/corpus")
cat_peak=$(peak cat "$WORK/corpus")

few_ours=$(limited 64 "$TALLOWMERE" "$WORK/few")
few_theirs=$(limited 64 "$FORTUNE" "$WORK/few")
many_ours=$(limited 1024 "$TALLOWMERE" "$WORK/many")
many_theirs=$(limited 1024 "$FORTUNE" "$WORK/many")

# ---- report ------------------------------------------------------------------------------
bench_machine
echo "data:    $MANY files of the ${#DATA_PACKAGES[@]} packages' $(awk -v b="$(stat -c %s "$WORK/one")" 'BEGIN { printf "%.1f MB", b / 1e6 }') of fortunes; $MILLION fortunes in one file ($(awk -v b="$(stat -c %s "$WORK/million")" 'BEGIN { printf "%.1f MB", b / 1e6 }'), '$MATCH' in $match_count)"
awk -v b="$BIG_BYTES" -v c="$CORPUS_BYTES" -v n="$COPIES" \
  'BEGIN { printf "         a fortune of %.1f MB; a corpus of %.1f MB (%d copies)\n", b / 1e6, c / 1e6, n }'
echo "rounds:  $RUNS ($SLOW_RUNS for match, check and add), alternating; medians over the rounds"
echo
row() { printf '%-46s %11s %11s %7s %10s %10s\n' "$@"; }
row "" "tallowmere" "other" "ratio" "peak ours" "peak other"
row "draw from $MANY files (fortune)" "$draw_a ms" "$draw_b ms" "$draw_ratio" "$draw_peak_a MiB" "$draw_peak_b MiB"
row "-m $MATCH, $MILLION fortunes (fortune -m)" "$match_a s" "$match_b s" "$match_ratio" "$match_peak_a MiB" "$match_peak_b MiB"
row "check, $MILLION fortunes" "$check_a s" "" "" "$check_peak_a MiB" ""
row "add a $(awk -v b="$BIG_BYTES" 'BEGIN { printf "%.0f", b / 1e6 }') MB fortune from standard input" "$add_a s" "" "" "$add_peak_a MiB" ""
row "index the corpus, from no index (cat)" "$new_a s" "$new_cat s" "$new_cat_ratio" "$index_peak_a MiB" "$cat_peak MiB"
row "index the corpus, from no index (strfile -s)" "$new_b s" "$new_strfile s" "$new_strfile_ratio" "" "$index_peak_b MiB"
row "index the corpus, unchanged (cat)" "$same_a s" "$same_cat s" "$same_cat_ratio" "" ""
echo
printf '%-46s %-32s %s\n' "" "tallowmere" "fortune"
printf '%-46s %-32s %s\n' "draw from $FEW_FILES files, ulimit -n 64" "$few_ours" "$few_theirs"
printf '%-46s %-32s %s\n' "draw from $MANY files, ulimit -n 1024" "$many_ours" "$many_theirs"
[ "$add_result" = 11 ] || echo "note: after add the file holds $add_result fortunes, not 11"

echo
echo "targets:"
verdict() { if awk "BEGIN { exit !($1) }"; then echo met; else echo missed; fi; }
echo "  -m at most half the time of fortune -m, peak under 16 MiB: $(verdict "$match_ratio <= 0.5 && $match_peak_a < 16") ($match_ratio, $match_peak_a MiB)"
echo "  check peak under 32 MiB: $(verdict "$check_peak_a < 32") ($check_peak_a MiB)"
echo "  add peak under 32 MiB: $(verdict "$add_peak_a < 32") ($add_peak_a MiB)"
echo "  draw from $MANY files at most half the time of fortune: $(verdict "$draw_ratio <= 0.5") ($draw_ratio)"
echo "  index from no index at most 1.5 times cat: $(verdict "$new_cat_ratio <= 1.5") ($new_cat_ratio)"
