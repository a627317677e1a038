# Helpers of the scripts that time tallowmere against the classic fortune tools (compare.sh,
# scale.sh): sourced by them, never run. They run from the top of the source tree.

DATA_PACKAGES=(fortunes fortunes-min fortunes-de fortunes-ru fortunes-zh)
CLASSIC_DIR=/usr/share/games/fortunes

# Installs fortune-mod and the data packages when missing (as root), and sets STRFILE and
# FORTUNE to the classic tools.
bench_classic_tools() {
  local missing=() package
  for package in fortune-mod "${DATA_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" != 0 ]; then
      echo "$0: missing Debian packages: ${missing[*]} (as root: apt-get install ${missing[*]})" >&2
      exit 1
    fi
    echo "$0: installing ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q >&2
    apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
  fi
  STRFILE=$(dpkg -L fortune-mod | grep -m1 '/strfile$')
  FORTUNE=$(dpkg -L fortune-mod | grep -m1 '/fortune$')
}

# Builds the command in the Release build directory BUILD (default build-bench) and sets
# TALLOWMERE to it.
bench_build() {
  BUILD=${BUILD:-build-bench}
  echo "$0: building tallowmere (Release) in $BUILD" >&2
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$BUILD" -j "$(nproc 2>/dev/null || echo 2)" --target tallowmere_cmd >/dev/null
  TALLOWMERE=$(realpath "$BUILD/tools/tallowmere")
}

# WORK: the directory given, or a temporary one removed at the end.
bench_workdir() {
  if [ -n "${WORK:-}" ]; then
    mkdir -p "$WORK"
    WORK=$(realpath "$WORK")
  else
    WORK=$(mktemp -d)
    trap 'rm -rf "$WORK"' EXIT
  fi
}

# FILES: the fortune files of the data packages (regular files with strfile's index beside
# them): by default those directly in the classic collection's directory, with SCOPE=all also
# those in its subdirectories (the German and Russian files).
bench_classic_files() {
  local scope=${1:-top} path
  FILES=()
  while IFS= read -r path; do
    [ -f "$path" ] && [ ! -L "$path" ] && [ -f "$path.dat" ] || continue
    [ "$scope" = all ] || [ "$(dirname "$path")" = "$CLASSIC_DIR" ] || continue
    FILES+=("$path")
  done < <(dpkg -L "${DATA_PACKAGES[@]}" | sort -u)
  [ ${#FILES[@]} -gt 0 ] || { echo "$0: no fortune files found" >&2; exit 1; }
}

# Writes the files given after the first argument to it one after the other, each ending in a
# newline and followed by a '%' line but the last: one fortune text of all their fortunes.
bench_join() {
  local out=$1 path
  shift
  : >"$out"
  for path in "$@"; do
    [ -s "$out" ] && printf '%%\n' >>"$out"
    cat "$path" >>"$out"
    [ -z "$(tail -c 1 "$path")" ] || printf '\n' >>"$out"
  done
}

# Writes COPIES copies of the fortune text SOURCE to OUT, with a '%' line between them.
bench_copies() {
  local out=$1 copies=$2 source=$3 copy
  : >"$out"
  for ((copy = 0; copy < copies; copy++)); do
    [ "$copy" = 0 ] || printf '%%\n' >>"$out"
    cat "$source" >>"$out"
  done
}

# Seconds that the command takes, from bash's microsecond clock; its output is discarded.
seconds() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null
  local end=$EPOCHREALTIME
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Peak resident memory (maximum resident set) of one run of a program, in MiB; its output is
# discarded, its standard input is this function's, and its exit status does not matter.
peak() {
  /usr/bin/time -f '%M' -o "$WORK/rss" "$@" >/dev/null || :
  awk 'END { printf "%.1f", $1 / 1024 }' "$WORK/rss"
}

# compare OURS THEIRS SCALE [PREPARE_OURS [PREPARE_THEIRS]]
# Runs both commands (the names of functions) RUNS times, alternating which goes first, after
# one warm-up run each; a PREPARE function runs, untimed, before every run of its command.
# Prints the median times (times SCALE) and the median of the round ratios, ours over theirs.
compare() {
  local ours=$1 theirs=$2 scale=$3 prepare_ours=${4:-:} prepare_theirs=${5:-:}
  local runs=${RUNS:-11}
  "$prepare_ours"; "$ours" >/dev/null
  "$prepare_theirs"; "$theirs" >/dev/null
  : >"$WORK/times"
  local round a b
  for ((round = 0; round < runs; round++)); do
    if ((round % 2 == 0)); then
      "$prepare_ours"; a=$(seconds "$ours")
      "$prepare_theirs"; b=$(seconds "$theirs")
    else
      "$prepare_theirs"; b=$(seconds "$theirs")
      "$prepare_ours"; a=$(seconds "$ours")
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

# The median time of RUNS runs of one command (a function name) after a warm-up run, times
# SCALE; PREPARE runs untimed before each.
timed() {
  local command=$1 scale=$2 prepare=${3:-:} runs=${RUNS:-11} round
  "$prepare"; "$command" >/dev/null
  for ((round = 0; round < runs; round++)); do
    "$prepare"; seconds "$command"
  done | median | awk -v s="$scale" '{ printf "%.3f\n", $1 * s }'
}

bench_machine() {
  echo "machine: $(nproc) cores, $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)"
}
