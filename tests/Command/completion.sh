#!/usr/bin/env bash
# The completion script of one shell: it loads without errors, and a scripted session completes
# subcommands, options and the names of the collection's fortune files.
# Usage: completion.sh bash|zsh|fish COMMAND_DIR COMPLETION_DIR
# Exits with 77 (skipped) when the shell is not installed.
set -euo pipefail
shell=$1 command_dir=$2 completion_dir=$3
here=$(cd "$(dirname "$0")" && pwd)

if ! command -v "$shell" >/dev/null; then
  echo "skipped: $shell is not installed (scripts/ensure-deps.sh shells installs it)"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/share/data/normal"
printf 'Think first.\n%%\nThen speak.\n' >"$work/share/data/normal/wisdom"
export tallowmere_datadir=$work/share tallowmere_classicdir=$work/none
export PATH=$command_dir:$PATH HOME=$work
unset TALLOWMERE_PATH TALLOWMERE_PATH_ALL TALLOWMERE_PATH_NORMAL TALLOWMERE_PATH_OFFENSIVE
cd "$work"

failures=0
# expect LINE WORD: completing LINE offers WORD.
expect() {
  local offered
  offered=$(complete_line "$1")
  if ! grep -qxF -- "$2" <<<"$offered"; then
    echo "FAIL: $shell completing '$1' does not offer '$2'; it offers:"
    printf '  %s\n' "$offered"
    failures=$((failures + 1))
  fi
}

case $shell in
  bash)
    bash -n "$completion_dir/tallowmere.bash"
    complete_line() {
      bash -c 'source "$1"; read -ra COMP_WORDS <<<"$2"; [[ $2 == *" " ]] && COMP_WORDS+=("")
               COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _tallowmere; printf "%s\n" "${COMPREPLY[@]}"' \
        _ "$completion_dir/tallowmere.bash" "$1"
    }
    ;;
  fish)
    fish -n "$completion_dir/tallowmere.fish"
    complete_line() {
      fish -c 'source $argv[1]; complete -C $argv[2]' "$completion_dir/tallowmere.fish" "$1" | cut -f1
    }
    ;;
  zsh)
    zsh -n "$completion_dir/_tallowmere"
    ;;
  *)
    echo "unknown shell $shell" >&2
    exit 2
    ;;
esac

if [[ $shell == zsh ]]; then
  # The line as zsh shows it once the one word offered is completed.
  expect() {
    local completed="${1% *} $2 "
    [[ $1 == *" " ]] && completed="$1$2 "
    if ! zsh -f "$here/complete.zsh" "$completion_dir" "$1" "$completed"; then
      echo "FAIL: zsh completing '$1' does not give '$completed'"
      failures=$((failures + 1))
    fi
  }
fi

expect 'tallowmere ind' index
expect 'tallowmere wis' wisdom
expect 'tallowmere -s wis' wisdom
expect 'tallowmere --fr' --fresh
expect 'tallowmere count --js' --json
expect 'tallowmere list --js' --json
[ "$failures" = 0 ] && echo "$shell: completion works"
exit $((failures > 0))
