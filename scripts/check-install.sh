#!/usr/bin/env bash
# Proves that an installed tallowmere works for its users: checks that docs/guide.md shows the
# examples as they are (scripts/check-docs.sh), installs the build in BUILD (default build/)
# into a temporary prefix, builds every example program (examples/*.cpp) against that prefix
# with CMake (find_package) and with pkg-config, runs each build of each, and runs the installed
# command on the installed collection.
# Usage: scripts/check-install.sh [BUILD]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix

echo "== the guide's snippets"
scripts/check-docs.sh

echo "== install into $prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
# The library was built for its configured prefix; this copy lives elsewhere.
export tallowmere_datadir=$prefix/share/tallowmere
test -f "$prefix/share/man/man1/tallowmere.1"
# Exactly the public headers are installed: include/tallowmere/ and the generated paths.
diff <(cd "$prefix/include" && find tallowmere -type f | sort) \
     <({ (cd include && find tallowmere -type f); echo tallowmere/Paths_tallowmere.hpp; } | sort)

# Prints the output of a program that draws a fortune, and fails unless it is a fortune of
# the installed collection (not the text that says there is none).
none="Very few profundities can be expressed in less than 80 characters."
expect_fortune() {
  local fortune
  fortune=$("$@")
  printf '%s\n' "$fortune"
  if [ -z "$fortune" ] || [ "$fortune" = "$none" ]; then
    echo "check-install: $1 drew no fortune from $tallowmere_datadir" >&2
    exit 1
  fi
}

# Every example program, by name: examples/NAME.cpp.
examples=()
for source in examples/*.cpp; do
  name=${source##*/}
  examples+=("${name%.cpp}")
done

# Runs the example NAME built as BINARY the way its header describes. The ones that write work
# below TMPDIR, which must be empty again when they are done.
scratch=$tmp/scratch
mkdir "$scratch"
run_example() {
  local name=$1 binary=$2
  echo "-- $name"
  case $name in
    draw) expect_fortune "$binary" ;;
    collection)
      TMPDIR=$scratch "$binary"
      TMPDIR=$scratch "$binary" "$tallowmere_datadir/data" ;;
    *) TMPDIR=$scratch "$binary" ;;
  esac
  if [ -n "$(ls -A "$scratch")" ]; then
    echo "check-install: $name left files behind in TMPDIR: $(ls -A "$scratch")" >&2
    exit 1
  fi
}

echo "== the examples, built with CMake"
cmake -S examples -B "$tmp/example" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$tmp/example" -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
for name in "${examples[@]}"; do
  if [ ! -x "$tmp/example/$name" ]; then
    echo "check-install: examples/CMakeLists.txt does not build examples/$name.cpp" >&2
    exit 1
  fi
  run_example "$name" "$tmp/example/$name"
done

echo "== the examples, built with pkg-config"
pcfile=$(find "$prefix" -name tallowmere.pc -print -quit)
test -n "$pcfile"
export PKG_CONFIG_PATH=$(dirname "$pcfile")
cflags=$(pkg-config --cflags tallowmere)
case " $cflags " in
  *" -I$prefix/include "*) ;;
  *) echo "check-install: pkg-config gives $cflags, not -I$prefix/include" >&2; exit 1 ;;
esac
mkdir "$tmp/pkg-config"
for name in "${examples[@]}"; do
  # shellcheck disable=SC2046,SC2086 # the flags are meant to split into words
  "${CXX:-g++}" -Wall -Wextra -Werror "examples/$name.cpp" $cflags $(pkg-config --libs tallowmere) \
    -o "$tmp/pkg-config/$name"
  run_example "$name" "$tmp/pkg-config/$name"
done

echo "== the installed command"
tallowmere=$prefix/bin/tallowmere
"$tallowmere" --version
expect_fortune "$tallowmere"
"$tallowmere" -a -f
# shellcheck disable=SC2046 # one path a line, none with blanks
"$tallowmere" check $("$tallowmere" list -a)
echo "== install checked"
