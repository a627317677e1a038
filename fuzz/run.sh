#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# in fuzz/build and runs each one for SECONDS seconds, starting from a copy of its seed corpus
# in fuzz/corpus/<target>/. Prints the number of inputs each target executed. Exits non-zero
# when a target finds anything (a crash, a failed check, a leak, a timeout, too much memory);
# the input that triggered it is kept in fuzz/build/findings/<target>/.
#
# Usage: fuzz/run.sh SECONDS [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]] || [ "$1" -lt 1 ]; then
  echo "usage: fuzz/run.sh SECONDS [TARGET...]" >&2
  exit 2
fi
seconds=$1
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(decode parse rebuild index strfile fortune)

scripts/ensure-deps.sh clang fuzzer

build=fuzz/build
jobs=$(nproc 2>/dev/null || echo 2)
CXX=clang++ cmake -S fuzz -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs" --target "${targets[@]/#/fuzz_}"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tallowmere-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=detect_leaks=1
failed=()
summary=()
for target in "${targets[@]}"; do
  corpus="$scratch/corpus-$target"
  findings="$build/findings/$target"
  log="$scratch/$target.log"
  mkdir -p "$corpus" "$findings"
  cp fuzz/corpus/"$target"/* "$corpus"/
  echo "== fuzz_$target: $seconds s"
  status=0
  "$build/fuzz_$target" "$corpus" -max_total_time="$seconds" -print_final_stats=1 \
    -rss_limit_mb=2048 -malloc_limit_mb=1024 -timeout=10 -artifact_prefix="$findings/" \
    >"$log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ "$status" -ne 0 ]; then
    # The report: everything from libFuzzer's or a sanitizer's first error line on.
    first=$(grep -n -m 1 -E '^==[0-9]+==|ERROR|check failed|undocumented exception|runtime error' \
      "$log" | cut -d: -f1 || true)
    tail -n "+${first:-1}" "$log" | head -n 60 >&2
    failed+=("$target")
    summary+=("fuzz_$target: FAILED (exit $status) after ${executions:-?} executions; input in $findings/")
  else
    summary+=("fuzz_$target: ${executions:-?} executions in $seconds s")
  fi
done

echo "== summary"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found problems in: ${failed[*]}" >&2
  exit 1
fi
