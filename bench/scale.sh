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
# slow rows SLOW_RUNS, default 3), and prints the median time of each, the median of the round
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
# Then (limits) whether each tool draws from few/ under `ulimit -n 64` and from many/ under
# `ulimit -n 1024`, and the targets with what this run shows of them.
#
# Environment: RUNS, SLOW_RUNS, DRAWS, FILES, FEW, FORTUNES, BIG, COPIES, MATCH as above;
# ROWS, the rows to run (default all: draw match check add index limits);
# BUILD (the Release build directory, default build-bench), WORK (a directory to keep the data
# in, reused by later runs when its data are complete; a temporary one by default, removed at
# the end). The default run takes a few minutes on two cores.
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS=${RUNS:-11}
SLOW_RUNS=${SLOW_RUNS:-3}
ROWS=${ROWS:-draw match check add index limits}
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
strfile_corpus() { "$STRFILE" -s "$WORK/corpus" "$WORK/strfile-corpus.dat"; }

# "ok", or "fails: " and the reason the command gave last on the first line it wrote to
# standard error, when it runs with at most LIMIT open files.
limited() {
  local limit=$1
  shift
  if (ulimit -n "$limit" && "$@") >/dev/null 2>"$WORK/err"; then
    echo ok
  else
    echo "fails: $(head -n 1 "$WORK/err" | awk -F': ' '{ print $NF }' | cut -c 1-40)"
  fi
}

# ---- measuring and report ----------------------------------------------------------------
wants() { [[ " $ROWS " == *" $1 "* ]]; }
row() { printf '%-46s %11s %11s %7s %10s %10s\n' "$@"; }
verdict() { if awk "BEGIN { exit !($1) }"; then echo met; else echo missed; fi; }
mb() { awk -v b="$1" 'BEGIN { printf "%.1f MB", b / 1e6 }'; }
targets=()

bench_machine
echo "data:    $MANY files of the ${#DATA_PACKAGES[@]} packages' $(mb "$(stat -c %s "$WORK/one")") of fortunes; $MILLION fortunes in one file ($(mb "$(stat -c %s "$WORK/million")"))"
echo "         a fortune of $(mb "$BIG_BYTES"); a corpus of $(mb "$CORPUS_BYTES") ($COPIES copies)"
echo "rounds:  $RUNS ($SLOW_RUNS for match, check and add), alternating; medians over the rounds"
echo
row "" "tallowmere" "other" "ratio" "peak ours" "peak other"

if wants draw; then
  read -r a b ratio < <(compare draw_ours draw_theirs "$(awk -v n="$DRAWS" 'BEGIN { print 1000 / n }')")
  peak_a=$(peak "$TALLOWMERE" "$WORK/many")
  peak_b=$(peak "$FORTUNE" "$WORK/many")
  row "draw from $MANY files (fortune)" "$a ms" "$b ms" "$ratio" "$peak_a MiB" "$peak_b MiB"
  targets+=("draw from $MANY files at most half the time of fortune: $(verdict "$ratio <= 0.5") ($ratio)")
fi

if wants match; then
  read -r a b ratio < <(RUNS=$SLOW_RUNS compare match_ours match_theirs 1)
  peak_a=$(peak "$TALLOWMERE" -m "$MATCH" "$WORK/million" 2>/dev/null)
  peak_b=$(peak "$FORTUNE" -m "$MATCH" "$WORK/million" 2>/dev/null)
  count=$("$TALLOWMERE" -m "$MATCH" "$WORK/million" 2>/dev/null | grep -c '^%$' || true)
  row "-m $MATCH ($count matches; fortune -m)" "$a s" "$b s" "$ratio" "$peak_a MiB" "$peak_b MiB"
  targets+=("-m at most half the time of fortune -m, peak under 16 MiB: $(verdict "$ratio <= 0.5 && $peak_a < 16") ($ratio, $peak_a MiB)")
fi

if wants check; then
  a=$(RUNS=$SLOW_RUNS timed check_ours 1)
  peak_a=$(peak "$TALLOWMERE" check "$WORK/million")
  row "check, $MILLION fortunes" "$a s" "" "" "$peak_a MiB" ""
  targets+=("check peak under 32 MiB: $(verdict "$peak_a < 32") ($peak_a MiB)")
fi

if wants add; then
  a=$(RUNS=$SLOW_RUNS timed add_ours 1 reset_jar)
  reset_jar
  peak_a=$(peak "$TALLOWMERE" add "$WORK/jar" <"$WORK/big")
  row "add a $(mb "$BIG_BYTES") fortune from standard input" "$a s" "" "" "$peak_a MiB" ""
  count=$("$TALLOWMERE" count "$WORK/jar")
  [ "$count" = 11 ] || echo "  (after add the file holds $count fortunes, not 11)"
  targets+=("add peak under 32 MiB: $(verdict "$peak_a < 32") ($peak_a MiB)")
fi

if wants index; then
  read -r a b ratio < <(compare index_ours cat_corpus 1 remove_index)
  remove_index
  peak_a=$(peak "$TALLOWMERE" index "$WORK/corpus")
  peak_b=$(peak cat "$WORK/corpus")
  row "index the corpus, from no index (cat)" "$a s" "$b s" "$ratio" "$peak_a MiB" "$peak_b MiB"
  targets+=("index from no index at most 1.5 times cat: $(verdict "$ratio <= 1.5") ($ratio)")
  read -r a b ratio < <(compare index_ours strfile_corpus 1 remove_index)
  peak_b=$(peak "$STRFILE" -s "$WORK/corpus" "$WORK/strfile-corpus.dat")
  row "index the corpus, from no index (strfile -s)" "$a s" "$b s" "$ratio" "" "$peak_b MiB"
  index_ours >/dev/null
  read -r a b ratio < <(compare index_ours cat_corpus 1)
  peak_a=$(peak "$TALLOWMERE" index "$WORK/corpus")
  row "index the corpus, unchanged (cat)" "$a s" "$b s" "$ratio" "$peak_a MiB" ""
fi

if wants limits; then
  echo
  printf '%-46s %-30s %s\n' "" "tallowmere" "fortune"
  printf '%-46s %-30s %s\n' "draw from $FEW_FILES files, ulimit -n 64" \
    "$(limited 64 "$TALLOWMERE" "$WORK/few")" "$(limited 64 "$FORTUNE" "$WORK/few")"
  printf '%-46s %-30s %s\n' "draw from $MANY files, ulimit -n 1024" \
    "$(limited 1024 "$TALLOWMERE" "$WORK/many")" "$(limited 1024 "$FORTUNE" "$WORK/many")"
fi

if [ ${#targets[@]} -gt 0 ]; then
  echo
  echo "targets:"
  printf '  %s\n' "${targets[@]}"
fi
