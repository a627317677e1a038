#!/usr/bin/env bash
# Runs clang-tidy 14 with the project's .clang-tidy over the library and the command (src/ and
# tools/, and the headers they include from include/); any finding fails.
# Usage: scripts/check-tidy.sh BUILD_DIR   (a build configured with clang, which writes
# compile_commands.json there)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: scripts/check-tidy.sh BUILD_DIR}
[ -f "$build/compile_commands.json" ] || {
  echo "check-tidy: $build/compile_commands.json is missing; configure $build with CMake first" >&2
  exit 2
}
scripts/ensure-deps.sh lint
tidy=$(command -v clang-tidy-14 || command -v clang-tidy)
runner=$(command -v run-clang-tidy-14 || command -v run-clang-tidy) || {
  echo "check-tidy: run-clang-tidy is missing (it comes with the clang-tidy package)" >&2
  exit 2
}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
"$runner" -clang-tidy-binary "$tidy" -p "$build" -quiet -j "$(nproc 2>/dev/null || echo 2)" \
  "$PWD/(src|tools)/" >"$log" 2>&1 || status=$?
# Only the findings: the runner also echoes each command line and clang's warning counts.
grep -E '(warning|error): ' "$log" | grep -v '^[0-9]* warnings* generated' || true
if [ "$status" != 0 ]; then
  echo "check-tidy: clang-tidy found problems (above)" >&2
  exit 1
fi
echo "check-tidy: no findings"
