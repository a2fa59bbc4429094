#!/usr/bin/env bash
# The Windows program, cross-built on Debian and tested under Wine.
#
#   tools/windows.sh          install what is missing, cross-build the program
#                             and the Windows tests, and run the tests under
#                             Wine in a throw-away prefix
#   tools/windows.sh build    only build
#   tools/windows.sh package  build, then pack the installer (NSIS) and the
#                             zip into build-windows/
#   tools/windows.sh screenshots
#                             test, and keep the window's pictures in each
#                             link state in docs/screenshots/
#
# Builds in build-windows/ (the Windows program, mingw-w64) and
# build-windows-host/ (the Linux helper that serves the simulated adapter on
# a pseudo-terminal). In the prefix COM5 and COM7 are adapters with a demo
# device behind each, COM6 an adapter with no device. The window tests run on a
# virtual display (Xvfb). Safe to run again.
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
  cmake --build "$cross" -j "$jobs"
  if [ ! -f "$host/build.ninja" ]; then
    cmake -S . -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_QT=OFF "${launcher[@]}"
  fi
  cmake --build "$host" -j "$jobs" --target wine_line_server
}

server_pids=()
prefix=""
cleanup() {
  local pid
  for pid in "${server_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
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
  # Wine draws the window frames itself: the virtual display has no window
  # manager.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1

  # COM5 and COM7 have a demo device each, seen and unplugged by the tests
  # through their control folders (tests/wine/line_server.cpp).
  mkdir -p "$prefix/lines"
  serve_line com5 --control "$prefix/lines/com5"
  serve_line com6 --no-device
  serve_line com7 --control "$prefix/lines/com7"

  local shots=""
  if [ -n "${1:-}" ]; then
    mkdir -p "$prefix/shots"
    shots="$(winepath -w "$prefix/shots")"
  fi
  QUORVEL_TEST_COM_PORT=COM5 QUORVEL_TEST_SILENT_COM_PORT=COM6 QUORVEL_TEST_SECOND_COM_PORT=COM7 \
    QUORVEL_TEST_LINES="$(winepath -w "$prefix/lines")" \
    QUORVEL_TEST_SAMPLE="$(winepath -w "$here/samples/olmar-demo.pkc")" \
    QUORVEL_TEST_SCREENSHOTS="$shots" \
    wine "$cross/tests/test_windows.exe" --gtest_brief=1

  if [ -n "${1:-}" ]; then
    local shot
    for shot in "$prefix"/shots/*.bmp; do
      convert "$shot" "$1/$(basename "${shot%.bmp}").png"
    done
  fi
}

# serve_line DEVICE [--no-device]: a simulated adapter on a pseudo-terminal,
# mapped in the prefix as DEVICE (com5 ...).
serve_line() {
  local device="$1"; shift
  local fifo="$prefix/$device.line"
  mkfifo "$fifo"
  "$host/tests/wine_line_server" "$@" >"$fifo" &
  server_pids+=($!)
  local pty
  read -r pty <"$fifo"
  ln -sfn "$pty" "$prefix/dosdevices/$device"
}

case "${1:-test}" in
  build)
    install_missing "${windows_packages[@]}"
    build
    ;;
  test)
    install_missing "${windows_packages[@]}"
    build
    # The whole prefix lives on one virtual display: Wine's desktop process,
    # started with the prefix, draws every window of it.
    xvfb-run -a -s "-screen 0 1024x768x24" "$0" run-tests
    ;;
  screenshots)
    install_missing "${windows_packages[@]}" imagemagick
    build
    mkdir -p docs/screenshots
    xvfb-run -a -s "-screen 0 1024x768x24" "$0" run-tests "$here/docs/screenshots"
    ;;
  package)
    install_missing "${windows_packages[@]}"
    build
    (cd "$cross" && cpack -G "NSIS;ZIP")
    ;;
  run-tests)  # inside xvfb-run, after a build
    run_tests "${2:-}"
    ;;
  *)
    echo "usage: $0 [test|build|package|screenshots]" >&2
    exit 2
    ;;
esac
