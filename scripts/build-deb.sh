#!/usr/bin/env bash
# Builds the Debian packages of tallowmere (packaging/debian) from a copy of the working tree,
# with dpkg-buildpackage, and puts the .deb files, with the .buildinfo and .changes that
# describe them, in OUT (default build-deb/), replacing what an earlier run left there.
# The test suite is not run unless WITH_TESTS=1 (`make test` and CI run it already).
# Usage: scripts/build-deb.sh [OUT]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build-deb}
scripts/ensure-deps.sh deb

# The package version is the project's: the changelog must say so.
project=$(sed -n 's/^project(tallowmere VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
packaged=$(dpkg-parsechangelog -l packaging/debian/changelog -S Version)
if [ "$project" != "$packaged" ]; then
  echo "build-deb: CMakeLists.txt says version $project, packaging/debian/changelog $packaged" >&2
  exit 1
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
source=$tmp/tallowmere-$project
mkdir "$source"
# The files of the working tree that git knows or would add, as they stand now; else (no git)
# everything but the build directories.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
    tar --null -T - -cf - | tar -xf - -C "$source"
else
  tar --exclude='./build*' --exclude=./.git -cf - . | tar -xf - -C "$source"
fi
cp -r packaging/debian "$source/debian"

options="parallel=$(nproc 2>/dev/null || echo 2)"
profiles=()
if [ "${WITH_TESTS:-0}" != 1 ]; then
  options+=" nocheck"
  profiles=(-Pnocheck)
fi
# A ccache directory that outlives the build, whose HOME debhelper replaces.
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}
  export CCACHE_BASEDIR=$tmp CCACHE_NOHASHDIR=1
fi
(cd "$source" && DEB_BUILD_OPTIONS="$options ${DEB_BUILD_OPTIONS:-}" \
   dpkg-buildpackage -us -uc -b "${profiles[@]}")

rm -rf "$out"
mkdir -p "$out"
mv "$tmp"/*.deb "$tmp"/*.buildinfo "$tmp"/*.changes "$out"/
find "$tmp" -maxdepth 1 -name '*.ddeb' -exec mv {} "$out"/ \;
echo "build-deb: the packages are in $out/:"
ls -1 "$out"
