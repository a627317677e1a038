#!/usr/bin/env bash
# Makes sure the tools and libraries the build needs are present.
# Usage: scripts/ensure-deps.sh [clang] [benchmark] [pkg-config] [fuzzer] [lint] [shells]
#                              [valgrind] [browser] [deb]
# Missing Debian packages are installed with apt-get when running as root;
# otherwise the script names what is missing and fails.
set -euo pipefail

want_clang=0
want_benchmark=0
want_pkg_config=0
want_fuzzer=0
want_lint=0
want_shells=0
want_valgrind=0
want_browser=0
want_deb=0
for extra in "$@"; do
  case "$extra" in
    clang) want_clang=1 ;;
    benchmark) want_benchmark=1 ;;
    pkg-config) want_pkg_config=1 ;;
    fuzzer) want_fuzzer=1 ;;
    lint) want_lint=1 ;;
    shells) want_shells=1 ;;
    valgrind) want_valgrind=1 ;;
    browser) want_browser=1 ;;
    deb) want_deb=1 ;;
    *) echo "ensure-deps: unknown extra '$extra'" >&2; exit 2 ;;
  esac
done

missing=()
have_cmake_package() {
  compgen -G "/usr/lib/*/cmake/$1/$2" >/dev/null || compgen -G "/usr/lib/cmake/$1/$2" >/dev/null \
    || compgen -G "/usr/local/lib/cmake/$1/$2" >/dev/null || compgen -G "/usr/local/lib/*/cmake/$1/$2" >/dev/null
}

command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
command -v make >/dev/null || missing+=(make)
have_cmake_package GTest GTestConfig.cmake || missing+=(libgtest-dev libgmock-dev)
# The Python module's tests run under Debian's interpreter with its pytest.
/usr/bin/python3 -c 'import pytest' 2>/dev/null || missing+=(python3 python3-pytest)
# `tallowmere serve` answers HTTP through libmicrohttpd, found with pkg-config.
command -v pkg-config >/dev/null || missing+=(pkg-config)
compgen -G "/usr/lib/*/pkgconfig/libmicrohttpd.pc" >/dev/null \
  || compgen -G "/usr/local/lib/pkgconfig/libmicrohttpd.pc" >/dev/null || missing+=(libmicrohttpd-dev)
if [ "$want_clang" = 1 ]; then
  # The sanitizer runtimes come with libclang-rt-14-dev, which clang only recommends.
  if ! command -v clang++ >/dev/null; then
    missing+=(clang libclang-rt-14-dev)
  elif ! compgen -G "$(clang++ -print-runtime-dir)/libclang_rt.asan*.a" >/dev/null; then
    missing+=(libclang-rt-14-dev)
  fi
fi
if [ "$want_fuzzer" = 1 ]; then
  # libFuzzer and the sanitizer runtimes of clang 14: only recommended by the clang package.
  if ! command -v clang++ >/dev/null; then
    missing+=(clang libclang-rt-14-dev)
  elif ! compgen -G "$(clang++ -print-runtime-dir)/libclang_rt.fuzzer*.a" >/dev/null; then
    missing+=(libclang-rt-14-dev)
  fi
fi
if [ "$want_benchmark" = 1 ]; then
  have_cmake_package benchmark benchmarkConfig.cmake || missing+=(libbenchmark-dev)
  # bench/capi.sh compares the module's ctypes calls with cffi's.
  /usr/bin/python3 -c 'import cffi' 2>/dev/null || missing+=(python3-cffi)
fi
if [ "$want_lint" = 1 ]; then
  # The formatter and the linter of clang 14, whose output the checks compare against.
  command -v clang-format-14 >/dev/null || command -v clang-format >/dev/null || missing+=(clang-format)
  command -v clang-tidy-14 >/dev/null || command -v clang-tidy >/dev/null || missing+=(clang-tidy)
fi
if [ "$want_shells" = 1 ]; then
  # The shells whose completion scripts the tests load (the tests skip a missing one).
  command -v zsh >/dev/null || missing+=(zsh)
  command -v fish >/dev/null || missing+=(fish)
fi
if [ "$want_valgrind" = 1 ]; then
  command -v valgrind >/dev/null || missing+=(valgrind)
fi
if [ "$want_browser" = 1 ]; then
  # The test of the server's pages in a real browser (tests/serve/browser.sh).
  command -v chromium >/dev/null || missing+=(chromium)
fi
if [ "$want_deb" = 1 ]; then
  # Building the Debian packages (packaging/debian) and checking them.
  command -v dpkg-buildpackage >/dev/null || missing+=(dpkg-dev)
  command -v dh >/dev/null || missing+=(debhelper)
  command -v lintian >/dev/null || missing+=(lintian)
  command -v dh_python3 >/dev/null || missing+=(dh-python)
  command -v pkg-config >/dev/null || missing+=(pkg-config)
fi
if [ "$want_pkg_config" = 1 ]; then
  command -v pkg-config >/dev/null || missing+=(pkg-config)
fi

[ ${#missing[@]} -eq 0 ] && exit 0

echo "ensure-deps: missing Debian packages: ${missing[*]}" >&2
if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
  echo "ensure-deps: installing them with apt-get" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
else
  echo "ensure-deps: install them (as root: apt-get install ${missing[*]}) and run again" >&2
  exit 1
fi
