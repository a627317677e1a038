#!/usr/bin/env bash
# Fails, naming the files and showing the difference, when a C++ source tracked by git is not
# laid out as clang-format 14 lays it out with the project's .clang-format.
# Usage: scripts/check-format.sh [--fix]   (--fix rewrites the files instead)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh lint
format=$(command -v clang-format-14 || command -v clang-format)
case "$("$format" --version)" in
  *"version 14."*) ;;
  *) echo "check-format: $format is not clang-format 14; its layout may differ" >&2 ;;
esac

mapfile -t sources < <(git ls-files '*.cpp' '*.hpp' '*.cc' '*.h')
if [ "${1:-}" = --fix ]; then
  "$format" -i "${sources[@]}"
  exit 0
fi
status=0
for source in "${sources[@]}"; do
  if ! "$format" "$source" | diff -u --label "$source" --label "$source (formatted)" \
      "$source" -; then
    status=1
  fi
done
if [ "$status" = 0 ]; then
  echo "check-format: ${#sources[@]} files formatted"
else
  echo "check-format: files differ from clang-format's layout; run scripts/check-format.sh --fix" >&2
fi
exit "$status"
