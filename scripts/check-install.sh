#!/usr/bin/env bash
# Proves that an installed tallowmere works for its users: installs the build in BUILD (default
# build/) into a temporary prefix, builds the example program against that prefix with CMake
# (find_package) and with pkg-config, runs both, and runs the installed command on the
# installed collection.
# Usage: scripts/check-install.sh [BUILD]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix

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

echo "== the example, built with CMake"
cmake -S examples -B "$tmp/example" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$tmp/example" >/dev/null
expect_fortune "$tmp/example/draw"

echo "== the example, built with pkg-config"
pcfile=$(find "$prefix" -name tallowmere.pc -print -quit)
test -n "$pcfile"
export PKG_CONFIG_PATH=$(dirname "$pcfile")
# shellcheck disable=SC2046 # the flags are meant to split into words
cflags=$(pkg-config --cflags tallowmere)
case " $cflags " in
  *" -I$prefix/include "*) ;;
  *) echo "check-install: pkg-config gives $cflags, not -I$prefix/include" >&2; exit 1 ;;
esac
"${CXX:-g++}" examples/draw.cpp $cflags $(pkg-config --libs tallowmere) -o "$tmp/draw"
expect_fortune "$tmp/draw"

echo "== the installed command"
tallowmere=$prefix/bin/tallowmere
"$tallowmere" --version
expect_fortune "$tallowmere"
"$tallowmere" -a -f
# shellcheck disable=SC2046 # one path a line, none with blanks
"$tallowmere" check $("$tallowmere" list -a)
echo "== install checked"
