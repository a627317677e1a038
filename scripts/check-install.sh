#!/usr/bin/env bash
# Proves that an installed tallowmere works for its users: checks that docs/guide.md shows the
# examples as they are (scripts/check-docs.sh), installs the build in BUILD (default build/)
# into a temporary prefix, builds every example program (examples/*.cpp) against that prefix
# with CMake (find_package) and with pkg-config, runs each build of each (on the installed
# collection, and on a small fortune directory of its own), and runs the installed command on
# the installed collection.
# The C example is built as C99 against each library, and run under AddressSanitizer and valgrind
# too; the Python module is imported from the prefix. Last, the installation is moved elsewhere,
# and the command, a program linked to the shared library and the Python module must still
# find its own collection there.
# Usage: scripts/check-install.sh [BUILD]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix

scripts/ensure-deps.sh pkg-config valgrind

echo "== the guide's snippets"
scripts/check-docs.sh

echo "== install into $prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
# The library was built for its configured prefix; the examples, built below and linked to the
# static library, lie outside this one and are told where it is.
export tallowmere_datadir=$prefix/share/tallowmere
test -f "$prefix/share/man/man1/tallowmere.1"
# Shell completion, where bash, zsh and fish look for that of packages.
test -f "$prefix/share/bash-completion/completions/tallowmere"
test -f "$prefix/share/zsh/vendor-completions/_tallowmere"
test -f "$prefix/share/fish/vendor_completions.d/tallowmere.fish"
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

# A small fortune directory for the examples that take operands: an indexed file with an empty
# fortune among short ones (numbers count the empty one, as `tallowmere get` does), and a file
# without an index that holds one long fortune.
tallowmere=$prefix/bin/tallowmere
sample=$tmp/sample
mkdir "$sample"
printf '%s\n' 'A kettle watched by two people boils for neither.' % '' % \
  'The shortest way between two meetings is a corridor nobody cleans.' % \
  "Every kettle in the building is somebody's, and nobody knows whose." >"$sample/sayings"
printf '%s\n' 'The office kettle has outlived three managers, two reorganisations and a fire' \
  'drill that nobody took seriously. It has never once been descaled, and it is still the' \
  'only thing on the floor that everyone agrees works.' >"$sample/notes"
"$tallowmere" index "$sample/sayings"

# Fails unless motd, run as "$@", prints a short fortune of the sample directory: one line of
# at most 160 characters that is a whole line of its indexed file.
expect_short_fortune() {
  local fortune
  fortune=$("$@")
  printf '%s\n' "$fortune"
  if [[ -z $fortune || $fortune == *$'\n'* || ${#fortune} -gt 160 ]] ||
     ! grep -qxF -- "$fortune" "$sample/sayings"; then
    echo "check-install: $1 printed no short fortune of $sample" >&2
    exit 1
  fi
}

# Fails unless match, run as "$@" after COUNT, prints COUNT fortunes, each after a line
# "(PATH #N)" that the installed command reads as the same fortune with `get PATH N`.
expect_matches() {
  local count=$1 output line heading path number expected='' found=0
  shift
  output=$("$@")
  printf '%s\n' "$output"
  while IFS= read -r line; do
    [[ $line =~ ^\((.*)\ \#([0-9]+)\)$ ]] || continue
    path=${BASH_REMATCH[1]} number=${BASH_REMATCH[2]} found=$((found + 1))
    heading=$line$'\n'$("$tallowmere" get "$path" "$number")
    expected+=${expected:+$'\n'}$heading
  done <<<"$output"
  if [ "$found" -ne "$count" ] || [ "$output" != "$expected" ]; then
    echo "check-install: $1 did not print the $count fortunes that \`tallowmere get\` reads" >&2
    exit 1
  fi
}

# Runs "$@" and fails unless it exits with STATUS, the first argument.
expect_status() {
  local status=$1 got=0
  shift
  "$@" >/dev/null 2>&1 || got=$?
  if [ "$got" -ne "$status" ]; then
    echo "check-install: $* exited with $got, not $status" >&2
    exit 1
  fi
}

# Every example program in C++, by name: examples/NAME.cpp (examples/capi.c is built apart).
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
    capi) TMPDIR=$scratch "$binary" ;;
    collection)
      TMPDIR=$scratch "$binary"
      TMPDIR=$scratch "$binary" 30% "$sample/sayings" "$sample" ;;
    motd)
      expect_fortune "$binary"
      for _ in 1 2 3 4 5; do expect_short_fortune "$binary" "$sample"; done
      expect_status 1 "$binary" "$sample/notes" ;;
    match)
      expect_matches 3 "$binary" kettle "$sample"
      expect_status 1 "$binary" 'no such words anywhere' "$sample"
      expect_status 2 "$binary" '(' "$sample" ;;
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
for name in capi capi-static; do
  run_example capi "$tmp/example/$name"
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
case " $cflags " in
  *" -std="*) echo "check-install: pkg-config gives $cflags, which chooses a standard" >&2; exit 1 ;;
esac
# tallowmere links the shared library, found here through the run path; tallowmere-static the
# static one. Each example is built against both.
libdir=$(pkg-config --variable=libdir tallowmere)
mkdir "$tmp/pkg-config"
for name in "${examples[@]}"; do
  # shellcheck disable=SC2046,SC2086 # the flags are meant to split into words
  "${CXX:-g++}" -std=c++20 -Wall -Wextra -Werror "examples/$name.cpp" $cflags \
    $(pkg-config --libs tallowmere) -Wl,-rpath,"$libdir" -o "$tmp/pkg-config/$name"
  # (ldd's output is read whole: grep -q stopping early would fail the pipeline.)
  if [[ $(ldd "$tmp/pkg-config/$name") != *"$libdir/libtallowmere.so"* ]]; then
    echo "check-install: $name, built with pkg-config tallowmere, is not linked to the shared library" >&2
    exit 1
  fi
  run_example "$name" "$tmp/pkg-config/$name"
  # shellcheck disable=SC2046,SC2086
  "${CXX:-g++}" -std=c++20 -Wall -Wextra -Werror "examples/$name.cpp" \
    $(pkg-config --cflags --libs tallowmere-static) -o "$tmp/pkg-config/$name-static"
  run_example "$name" "$tmp/pkg-config/$name-static"
done

echo "== the shared library exports only the public interface"
shared=$(find "$prefix" -name 'libtallowmere.so.*' -type f -print -quit)
test -n "$shared"
if nm -D --defined-only -C "$shared" | awk '{ $1 = ""; $2 = ""; print substr($0, 3) }' |
    grep -v -E '^(tm_[a-z0-9_]+|(typeinfo for |typeinfo name for |vtable for )?tallowmere::)' |
    grep . || nm -D --defined-only -C "$shared" | grep -E 'tallowmere::detail|::State\b' | grep -v -E 'detail::(withIndexLocked|withFortuneFilesDo)\('; then
  echo "check-install: $shared exports the symbols above, which are not public" >&2
  exit 1
fi

echo "== the C example (examples/capi.c) as C99, with the shared and the static library"
# Each build runs as it is, under AddressSanitizer, and under valgrind; none may leak.
capi_build() {  # NAME MODULE [FLAGS...]: builds examples/capi.c as $tmp/c/NAME
  local name=$1 module=$2
  shift 2
  # shellcheck disable=SC2046 # the flags are meant to split into words
  "${CC:-cc}" -std=c99 -Wall -Wextra -Wpedantic -Werror "$@" examples/capi.c \
    $(pkg-config --cflags --libs "$module") -Wl,-rpath,"$libdir" -o "$tmp/c/$name"
}
mkdir "$tmp/c"
capi_build shared tallowmere
capi_build static tallowmere-static
capi_build shared-asan tallowmere -fsanitize=address -fno-omit-frame-pointer -g
capi_build static-asan tallowmere-static -fsanitize=address -fno-omit-frame-pointer -g
[[ $(ldd "$tmp/c/shared") == *"$libdir/libtallowmere.so"* ]]
[[ $(ldd "$tmp/c/static") != *libtallowmere* ]]
for name in shared static shared-asan static-asan; do
  ASAN_OPTIONS=detect_leaks=1 run_example capi "$tmp/c/$name"
done
for name in shared static; do
  echo "-- capi under valgrind ($name)"
  TMPDIR=$scratch valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=all \
    "$tmp/c/$name" >/dev/null
done

echo "== the Python module, installed under the prefix"
python_dir=$prefix/lib/python3/dist-packages
# shellcheck disable=SC2016 # the program is Python's
env -u TALLOWMERE_LIBRARY PYTHONPATH="$python_dir" PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 -c '
import sys, tallowmere, tallowmere._native as native
library = native._library_path()
if not library.startswith(sys.argv[1] + "/"):
    sys.exit(f"check-install: the module loads {library}, not the library under {sys.argv[1]}")
print(tallowmere.Collection().draw().text)' "$prefix"
expect_fortune env -u TALLOWMERE_LIBRARY PYTHONPATH="$python_dir" PYTHONDONTWRITEBYTECODE=1 \
  /usr/bin/python3 -c 'import tallowmere; print(tallowmere.Collection().draw().text)'
echo "-- fortunes.py"
TMPDIR=$scratch env -u TALLOWMERE_LIBRARY PYTHONPATH="$python_dir" PYTHONDONTWRITEBYTECODE=1 \
  /usr/bin/python3 examples/fortunes.py
test -z "$(ls -A "$scratch")"

echo "== the installed command"
"$tallowmere" --version
expect_fortune "$tallowmere"
"$tallowmere" -a -f
# shellcheck disable=SC2046 # one path a line, none with blanks
"$tallowmere" check $("$tallowmere" list -a)

echo "== the installation, moved"
moved=$tmp/moved
mv "$prefix" "$moved"
unset tallowmere_datadir
tallowmere=$moved/bin/tallowmere
expect_fortune "$tallowmere"
# Every file it draws from is one of the moved copy's own.
files=$("$tallowmere" -f | sed 's/^ *[0-9.]*% //')
printf '%s\n' "$files"
if [ -z "$files" ] || grep -v "^$moved/share/tallowmere/data/normal/" <<<"$files"; then
  echo "check-install: the moved command does not draw from $moved/share/tallowmere" >&2
  exit 1
fi
# The shared library finds the moved copy's collection from where it was loaded: through a
# program linked to it, and through the Python module, which loads it.
shared_lib=$(dirname "$(find "$moved" -name 'libtallowmere.so.*' -type f -print -quit)")
"${CXX:-g++}" -std=c++20 examples/draw.cpp -I"$moved/include" -L"$shared_lib" -ltallowmere \
  -Wl,-rpath,"$shared_lib" -o "$tmp/draw-moved"
fortune=$("$tmp/draw-moved")
printf '%s\n' "$fortune"
if ! grep -qxF -- "$(head -n 1 <<<"$fortune")" "$moved"/share/tallowmere/data/normal/*; then
  echo "check-install: a program linked to the moved shared library drew from elsewhere" >&2
  exit 1
fi
env -u TALLOWMERE_LIBRARY PYTHONPATH="$moved/lib/python3/dist-packages" PYTHONDONTWRITEBYTECODE=1 \
  /usr/bin/python3 -c '
import sys, tallowmere
drawn = tallowmere.Collection().draw()
print(drawn.text)
sys.exit(0 if drawn.path.startswith(sys.argv[1] + "/share/tallowmere/data/normal/") else
         "check-install: the Python module drew from " + drawn.path)' "$moved"
echo "== install checked"
