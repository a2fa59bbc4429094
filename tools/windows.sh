#!/usr/bin/env bash
# The Windows program, cross-built on Debian and tested under Wine.
#
#   tools/windows.sh          install what is missing, cross-build the program
#                             and the Windows tests, and run the tests under
#                             Wine in a throw-away prefix
#   tools/windows.sh build    only build
#
# Builds in build-windows/ (the Windows program, mingw-w64) and
# build-windows-host/ (the Linux helper that serves the simulated adapter on
# a pseudo-terminal, mapped into the prefix as COM5). Safe to run again.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"

# windows_packages, install_missing
source "$here/tools/lib.sh"

jobs="$(nproc 2>/dev/null || echo 2)"
cross="${QUORVEL_WINDOWS_BUILD:-build-windows}"
host="${QUORVEL_WINDOWS_HOST_BUILD:-build-windows-host}"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

build() {
  if [ ! -f "$cross/build.ninja" ]; then
    cmake -S . -B "$cross" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" "${launcher[@]}"
  fi
  cmake --build "$cross" -j "$jobs" --target test_windows
  if [ ! -f "$host/build.ninja" ]; then
    cmake -S . -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_QT=OFF "${launcher[@]}"
  fi
  cmake --build "$host" -j "$jobs" --target wine_line_server
}

server_pid=""
prefix=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  if [ -n "$prefix" ]; then
    WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
  fi
}

run_tests() {
  prefix="$(mktemp -d "${TMPDIR:-/tmp}/quorvel-wine.XXXXXX")"
  trap cleanup EXIT
  export WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH=win64
  # No Mono or Gecko: nothing is fetched, nothing asks.
  export WINEDLLOVERRIDES="mscoree=;mshtml="
  echo "Preparing the Wine prefix $prefix"
  # The prefix's server, kept until the end and quiet: it lists its objects
  # on its way out.
  wineserver -p >/dev/null 2>&1
  wineboot -i >/dev/null 2>&1

  # The simulated adapter on a pseudo-terminal, mapped as COM5.
  local fifo="$prefix/line"
  mkfifo "$fifo"
  "$host/tests/wine_line_server" >"$fifo" &
  server_pid=$!
  local pty
  read -r pty <"$fifo"
  ln -sfn "$pty" "$prefix/dosdevices/com5"

  QUORVEL_TEST_COM_PORT=COM5 wine "$cross/tests/test_windows.exe" --gtest_brief=1
}

case "${1:-test}" in
  build)
    install_missing "${windows_packages[@]}"
    build
    ;;
  test)
    install_missing "${windows_packages[@]}"
    build
    run_tests
    ;;
  *)
    echo "usage: $0 [test|build]" >&2
    exit 2
    ;;
esac
