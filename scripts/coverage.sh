#!/usr/bin/env bash
# Line coverage of the library by the whole test suite, with clang's source-based coverage.
# Usage: scripts/coverage.sh [build-dir]   (default build-coverage)
#
# Builds every target with TALLOWMERE_COVERAGE=ON in its own build directory, runs every test,
# merges the counts of every process (the test programs, the tallowmere commands they start and
# the children they fork), and prints the line coverage of the files under src/ and, apart,
# under include/ and tools/. Fails (exit 1) when a test fails or when the lines of src/ are
# covered below the floor, TALLOWMERE_COVERAGE_FLOOR percent (default 90).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-coverage}
floor=${TALLOWMERE_COVERAGE_FLOOR:-90}
jobs=$(nproc 2>/dev/null || echo 2)

scripts/ensure-deps.sh clang
# The profile tools must read what this clang writes: those of its own version first.
version=$(clang++ -dumpversion | cut -d. -f1)
tool() {
  local name
  for name in "$1-$version" "$1"; do
    command -v "$name" >/dev/null && { echo "$name"; return; }
  done
  echo "coverage: $1 (of LLVM $version) not found; it comes with the llvm-$version package" >&2
  exit 1
}
profdata=$(tool llvm-profdata)
cov=$(tool llvm-cov)

CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DTALLOWMERE_WERROR=ON \
  -DTALLOWMERE_COVERAGE=ON >/dev/null
cmake --build "$build" -j "$jobs"

# Only the counts of the tests: the build itself runs the command (indexing the bundled data).
# Every process writes profiles/<pid>-<binary>.profraw (see TALLOWMERE_COVERAGE); one the
# tests kill while it writes leaves a broken file, which the merge skips with a warning.
rm -rf "$build/profiles"
status=0
ctest --test-dir "$build" --output-on-failure -j "$jobs" || status=$?
"$profdata" merge -sparse --failure-mode=all -o "$build/coverage.profdata" "$build"/profiles/*.profraw
rm -rf "$build/profiles"  # a gigabyte or more, merged now

objects=("$build/tests/tallowmere_tests" -object "$build/tools/tallowmere")
report() {
  echo "== line coverage of $1/"
  "$cov" report "${objects[@]}" -instr-profile="$build/coverage.profdata" \
    -show-region-summary=false -show-branch-summary=false "$PWD/$1"
}
# Lines covered and lines, over the files under $1/.
lines() {
  "$cov" export "${objects[@]}" -instr-profile="$build/coverage.profdata" -summary-only \
    "$PWD/$1" | grep -o '"totals":{.*' | grep -o '"lines":{"count":[0-9]*,"covered":[0-9]*' \
    | sed 's/[^0-9,]//g'
}
report include
report tools
report src
IFS=, read -r count covered < <(lines src)
percent=$(awk -v c="$covered" -v n="$count" 'BEGIN { printf "%.2f", n ? 100 * c / n : 0 }')
echo "coverage: src/ lines: $covered of $count covered, $percent% (floor $floor%)"

if [ "$status" -ne 0 ]; then
  echo "coverage: the tests failed" >&2
  exit 1
fi
if awk -v p="$percent" -v f="$floor" 'BEGIN { exit !(p < f) }'; then
  echo "coverage: src/ line coverage $percent% is below $floor%" >&2
  exit 1
fi
