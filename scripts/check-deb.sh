#!/usr/bin/env bash
# Proves the Debian packages on this machine, which it changes: builds them
# (scripts/build-deb.sh OUT), checks them with lintian (an error fails; warnings are shown),
# installs them with apt beside fortune-mod, draws a fortune from the installed collection,
# checks it, builds and runs the example programs against the installed development files,
# draws through the Python module, and purges the packages again, failing if any of their files
# is left behind. Needs root, on Debian 12 or later.
# Usage: scripts/check-deb.sh [OUT]   (default build-deb/)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build-deb}
if [ "$(id -u)" != 0 ]; then
  echo "check-deb: run me as root: I install and remove packages" >&2
  exit 2
fi

echo "== build the packages"
scripts/build-deb.sh "$out"
debs=("$out"/*.deb)
packages=()
for deb in "${debs[@]}"; do
  package=$(dpkg-deb -f "$deb" Package)
  # The debugging symbols are built, not installed here.
  [[ $package == *-dbgsym ]] || packages+=("$package")
done
installable=()
for package in "${packages[@]}"; do installable+=("./$out/${package}_"*.deb); done

echo "== lintian"
# Errors fail; the rest are shown. Root is what this script runs as, not a finding.
lintian --display-level '>=info' --fail-on error "$out"/*.changes 2>&1 |
  grep -v '^running with root privileges is not recommended!$' || true
lintian --fail-on error "$out"/*.changes >/dev/null 2>&1 || {
  echo "check-deb: lintian reports errors (above)" >&2
  exit 1
}

echo "== install beside fortune-mod"
export DEBIAN_FRONTEND=noninteractive
apt-get purge -y -q "${packages[@]}" >/dev/null 2>&1 || true
if ! dpkg -s fortune-mod >/dev/null 2>&1; then
  apt-get update -q
  apt-get install -y -q --no-install-recommends fortune-mod
fi
apt-get install -y -qq --no-install-recommends "${installable[@]}" >/dev/null
files=$(mktemp)
tmp=$(mktemp -d)
trap 'rm -rf "$files" "$tmp"' EXIT
dpkg -L "${packages[@]}" | grep -vx '/\.' | sort -u >"$files"

echo "== the installed command"
# A clean environment: nothing but the installation says where the collection is.
run() { env -i PATH=/usr/bin:/bin LC_ALL=C.UTF-8 "$@"; }
test "$(command -v tallowmere)" = /usr/bin/tallowmere
run tallowmere --version
drawn=$(run tallowmere -c)
printf '%s\n' "$drawn"
case $(head -n 1 <<<"$drawn") in
  "(/usr/share/tallowmere/data/normal/"*")") ;;
  *) echo "check-deb: tallowmere did not draw from /usr/share/tallowmere" >&2; exit 1 ;;
esac
# shellcheck disable=SC2046 # one path a line, none with blanks
run tallowmere check $(run tallowmere list -a)
test "$(run man -w tallowmere)" = /usr/share/man/man1/tallowmere.1.gz
# The server is found where the command looks for it; its unit is installed, not enabled.
run tallowmere serve --help >/dev/null
test -f /lib/systemd/system/tallowmere-serve.service
test ! -e /etc/systemd/system/multi-user.target.wants/tallowmere-serve.service
# fortune-mod's own command still works beside it.
run /usr/games/fortune >/dev/null

echo "== the examples, built against the installed development files"
none="Very few profundities can be expressed in less than 80 characters."
cmake -S examples -B "$tmp/cmake" >/dev/null
cmake --build "$tmp/cmake" -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
mkdir "$tmp/pkg-config"
for source in examples/*.cpp; do
  name=${source##*/}
  name=${name%.cpp}
  # shellcheck disable=SC2046 # the flags are meant to split into words
  g++ -std=c++20 -Wall -Wextra -Werror "$source" $(pkg-config --cflags --libs tallowmere) \
    -o "$tmp/pkg-config/$name"
done
# The C example, against the shared library.
# shellcheck disable=SC2046 # the flags are meant to split into words
cc -std=c99 -Wall -Wextra -Werror examples/capi.c $(pkg-config --cflags --libs tallowmere) \
  -o "$tmp/capi"
(cd "$tmp" && run TMPDIR="$tmp" ./capi >/dev/null)
for build in cmake pkg-config; do
  fortune=$(run "$tmp/$build/draw")
  printf '%s: %s\n' "$build" "$fortune"
  if [ -z "$fortune" ] || [ "$fortune" = "$none" ]; then
    echo "check-deb: the draw example ($build) drew nothing from the installed collection" >&2
    exit 1
  fi
done

echo "== the Python module"
run python3 -c '
import tallowmere
drawn = tallowmere.Collection().draw()
print(drawn.text)
assert drawn.path.startswith("/usr/share/tallowmere/data/normal/"), drawn.path'

echo "== purge"
apt-get purge -y -qq "${packages[@]}" >/dev/null
left=()
while IFS= read -r path; do
  # A directory that another package owns too stays, as it should.
  if [ -e "$path" ] && ! dpkg -S "$path" >/dev/null 2>&1; then left+=("$path"); fi
done <"$files"
if [ ${#left[@]} -ne 0 ]; then
  echo "check-deb: purging left behind: ${left[*]}" >&2
  exit 1
fi
echo "== the packages build, install, work and purge cleanly"
