#!/usr/bin/env bash
# Checks and times what programs get from a collection of the classic files, against the
# classic tools on the same files.
#
#   bench/collection.sh
#
# The data: a read-only copy of Debian's classic collection as installed (the texts, their
# .dat files, the .u8 links), with a rotated file (`strfile -x`) and a program beside them.
# Every check runs under `ulimit -n 32`. Checked first, for the examples motd and match and for
# the command: the output is plain text of the copy, each file is used once, no binary and no
# empty fortune is printed, nothing is written. Then timed, RUNS times each, alternating:
#
#   motd              examples/motd on the copy, against `fortune -s` on it (median and 90th
#                     percentile of each)
#   -s, -l, plain     `tallowmere -s`, `-l` and a plain draw on the copy, against `fortune`
#   -m                `tallowmere -m` for a pattern with a literal, patterns with sets of bytes
#                     (brackets, alternatives, repeats) and one ignoring case, against
#                     `grep -E` over the same texts
# Each command is started directly by hyperfine (no shell between), which is installed when
# missing (as root).
#
# Environment: RUNS (default 201), BUILD (the Release build directory, default build-bench),
# WORK (a directory to keep the data in; a temporary one by default, removed at the end).
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS=${RUNS:-201}
source bench/lib.sh

bench_classic_tools
bench_build
bench_workdir
cmake --build "$BUILD" -j "$(nproc 2>/dev/null || echo 2)" --target tallowmere >/dev/null
# Linked as the command is, with its own copy of the C++ runtime: loading the shared one costs
# about as much as drawing a fortune.
for example in motd match; do
  g++ -std=c++20 -O2 -Iinclude -I"$BUILD/generated" "examples/$example.cpp" "$BUILD/libtallowmere.a" \
    -static-libstdc++ -static-libgcc -lpthread -o "$WORK/$example"
done
MOTD=$WORK/motd
MATCH=$WORK/match

# ---- the data ----------------------------------------------------------------------------
COPY=$WORK/classic
rm -rf "$COPY"
mkdir -p "$COPY"
cp -a "$CLASSIC_DIR"/. "$COPY"/
find "$COPY" -mindepth 1 -type d -exec rm -rf {} +  # the top level only, as fortune reads it
# A rotated file, as the offensive ones are stored, and a program.
rotated_source=$(find "$COPY" -maxdepth 1 -type f ! -name '*.dat' ! -name '*.u8' | sort | head -n 1)
tr 'A-Za-z' 'N-ZA-Mn-za-m' <"$rotated_source" >"$COPY/rotated"
"$STRFILE" -x -s "$COPY/rotated" >/dev/null
cp "$FORTUNE" "$COPY/program"
chmod -R a-w "$COPY"
before=$(find "$COPY" -printf '%p %s %T@\n' | sort | md5sum)
GREP_FILES=()
while IFS= read -r path; do GREP_FILES+=("$path"); done < <(find "$COPY" -maxdepth 1 -type f ! -name '*.dat' ! -name program | sort)

limited() { (ulimit -n 32 && "$@"); }

# ---- checks --------------------------------------------------------------------------------
fail() { echo "$0: $*" >&2; exit 1; }
# Every fortune of the copy's texts, rotated ones as plain text, one per line with newlines
# written as \n: what a printed fortune must be one of.
python3 - "$COPY" >"$WORK/fortunes" <<'EOF'
import codecs, os, sys
root = sys.argv[1]
for name in sorted(os.listdir(root)):
    path = os.path.join(root, name)
    if name.endswith('.dat') or name == 'program' or os.path.islink(path):
        continue
    text = open(path, 'rb').read().decode('utf-8', 'replace')
    if name == 'rotated':
        text = codecs.encode(text, 'rot13')
    for piece in text.replace('\n%\n', '\0').split('\0'):
        piece = piece.strip('\n')
        if piece and piece != '%':
            print(piece.replace('\n', '\\n'))
EOF
one_line() { python3 -c 'import sys; print(sys.stdin.read().rstrip("\n").replace("\n", "\\n"))'; }
check_draw() {
  local what=$1 out
  shift
  for ((i = 0; i < 30; i++)); do
    out=$(limited "$@" | one_line)
    [ -n "$out" ] || fail "$what printed an empty fortune"
    grep -qxF -- "$out" "$WORK/fortunes" || fail "$what printed what the copy does not hold: $out"
  done
}
check_draw motd "$MOTD" "$COPY"
check_draw "tallowmere -s" "$TALLOWMERE" -s "$COPY"
check_draw "tallowmere -l" "$TALLOWMERE" -l "$COPY"
check_draw "tallowmere" "$TALLOWMERE" "$COPY"
# Matches: each file once (no .u8 link, no program), the rotated file as plain text.
limited "$MATCH" 'the' "$COPY" >"$WORK/matched" || fail "match failed"
grep -q "^($COPY/rotated #" "$WORK/matched" || fail "match found nothing in the rotated file"
if grep -q -e '\.u8 #' -e '/program #' "$WORK/matched"; then fail "match read a link or a binary"; fi
limited "$TALLOWMERE" -m 'the' "$COPY" 2>"$WORK/names" >/dev/null
[ "$(grep -c '^(' "$WORK/names")" = "$(sort -u "$WORK/names" | grep -c '^(')" ] ||
  fail "tallowmere -m named a file twice"
limited "$TALLOWMERE" -f "$COPY" | grep -q 'skipped .*/program (not a text file)' ||
  fail "tallowmere -f did not leave the program out"
[ "$before" = "$(find "$COPY" -printf '%p %s %T@\n' | sort | md5sum)" ] || fail "the copy was written to"
echo "checks passed: plain text, each file once, no binary, no empty fortune, nothing written"

# ---- timing --------------------------------------------------------------------------------
# Times the commands given (one argument each) with hyperfine, RUNS runs each after a warm-up,
# each started directly (no shell), and prints each one's median and 90th percentile. Not under
# the limit of 32 open files, which the checks above ran under: `fortune` opens every file of
# the collection at once and fails there.
command -v hyperfine >/dev/null || {
  [ "$(id -u)" = 0 ] || fail "hyperfine is missing (as root: apt-get install hyperfine)"
  apt-get install -y -q hyperfine >/dev/null
}
percentiles() {
  hyperfine -N --warmup 10 --runs "$RUNS" --export-json "$WORK/times.json" "$@" >/dev/null 2>&1
  python3 - "$WORK/times.json" <<'PY'
import json, sys
for result in json.load(open(sys.argv[1]))["results"]:
    times = sorted(t * 1000 for t in result["times"])
    median = times[len(times) // 2]
    p90 = times[min(len(times) - 1, int(len(times) * 0.9))]
    print(f"  {result['command'][:64]:<64} median {median:6.2f} ms  p90 {p90:6.2f} ms")
PY
}

echo "on $(nproc) cores of $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), $RUNS runs each:"
percentiles "$MOTD $COPY" "$FORTUNE -s $COPY"
percentiles "$TALLOWMERE -s $COPY" "$TALLOWMERE -l $COPY" "$TALLOWMERE $COPY" \
  "$FORTUNE -s $COPY" "$FORTUNE -l $COPY" "$FORTUNE $COPY"
percentiles "$TALLOWMERE -m love $COPY" "grep -E love ${GREP_FILES[*]}" \
  "$TALLOWMERE -m l[aeiou]ve $COPY" "grep -E l[aeiou]ve ${GREP_FILES[*]}" \
  "$TALLOWMERE -i -m l[aeiou]ve $COPY" "grep -i -E l[aeiou]ve ${GREP_FILES[*]}" \
  "$TALLOWMERE -m gr(a|e)y $COPY" "grep -E gr(a|e)y ${GREP_FILES[*]}" \
  "$TALLOWMERE -m [0-9]{4} $COPY" "grep -E [0-9]{4} ${GREP_FILES[*]}"
