#!/usr/bin/env bash
# What a draw costs from C and from Python, on a collection kept open: tm_collection_draw in a
# loop (bench/capi_draw.c), the Python module's Collection.draw (ctypes), the bare ctypes call,
# and the same call through cffi. Builds a Release tree in BUILD (default build-bench).
# Usage: bench/capi.sh [OPERAND...]   (default: the build's bundled collection)
# Environment: ROUNDS (draws per run, default 20000), BUILD.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build-bench}
rounds=${ROUNDS:-20000}
scripts/ensure-deps.sh benchmark
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTALLOWMERE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target tallowmere_shared \
  tallowmere_data >/dev/null
library=$(find "$build" -maxdepth 1 -name 'libtallowmere.so.*.*' -print -quit)
export tallowmere_datadir=$PWD/$build/share/tallowmere
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"${CC:-cc}" -std=c99 -O2 -Iinclude bench/capi_draw.c "$library" \
  -Wl,-rpath,"$PWD/$build" -o "$tmp/capi_draw"
echo "microseconds a draw, median of 11 runs of $rounds draws (${*:-the bundled collection})"
printf 'C                 %8s\n' "$("$tmp/capi_draw" "$rounds" "$@")"
# A compiled binding for comparison, when Debian's pybind11-dev and python3-dev are installed.
if [ -f /usr/include/pybind11/pybind11.h ]; then
  "${CXX:-c++}" -std=c++20 -O2 -shared -fPIC $(/usr/bin/python3-config --includes) -Iinclude \
    bench/capi_draw_pybind.cc "$library" -Wl,-rpath,"$PWD/$build" \
    -o "$tmp/capi_draw_pybind$(/usr/bin/python3-config --extension-suffix)"
fi
TALLOWMERE_LIBRARY=$PWD/$library PYTHONPATH=$PWD/python:$tmp PYTHONDONTWRITEBYTECODE=1 \
  /usr/bin/python3 bench/capi_draw.py "$PWD/$library" "$rounds" "$@"
