#!/usr/bin/env bash
# The Windows program, cross-built on Debian and tested under Wine.
#
#   tools/windows.sh          install what is missing, cross-build the program
#                             and the Windows tests, run the tests under Wine
#                             in a throw-away prefix, then pack the installer
#                             and try it there: install, start, uninstall
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
  if [ -z "${1:-}" ]; then
    installer_round_trip
  fi

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

# wine_split TEXT: TEXT as words, for the installer's /D= and _?=, which
# must stand unquoted at the end of its command line even with blanks in the
# folder: Wine joins the words with blanks and quotes none of them.
wine_split() {
  local -a words
  read -ra words <<<"$1"
  printf '%s\0' "${words[@]}"
}

# Wine's loader for 64-bit programs: `wine` is the 32-bit one where wine32
# is installed, and runs Wine's own commands (taskkill) as 32-bit programs.
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=wine

# installed_program_running FOLDER: whether quorvel.exe from FOLDER\bin runs
# in this prefix.
installed_program_running() {
  local pid
  for pid in $(pgrep -f 'quorvel\.exe' || true); do
    grep -qzxF -- "$1\bin\quorvel.exe" "/proc/$pid/cmdline" 2>/dev/null &&
      grep -qzxF -- "WINEPREFIX=$prefix" "/proc/$pid/environ" 2>/dev/null && return 0
  done
  return 1
}

# installer_round_trip: packs the installer, installs silently with the
# programs' folder on the PATH (twice, the second over the first), starts the window program from its
# Start-menu entry and closes it, runs the installed flasher against COM5,
# uninstalls silently, and checks that nothing of it is left but the
# language switch a user set. Inside run_tests, in its prefix.
installer_round_trip() {
  local started=$SECONDS
  echo "Trying the installer"
  (cd "$cross" && cpack -G NSIS >/dev/null)
  local installer
  installer="$(ls "$cross"/quorvel-*-windows-x64.exe)"
  local dir='C:\Production Tools\Quorvel'
  local unix_dir="$prefix/drive_c/Production Tools/Quorvel"
  local menu="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
  local uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvel Setup'
  local setup_key='HKLM\Software\Vendrall\Quorvel Setup'
  local switch_key='HKLM\Software\Vendrall\Quorvel'
  local env_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
  local failed=0
  fail() { echo "installer: $*" >&2; failed=1; }

  local -a args
  mapfile -d '' args < <(wine_split "/D=$dir")
  wine "$installer" /S /PATH "${args[@]}" || fail "the installer exited with $?"
  # Again, as an upgrade runs it: the installed version is uninstalled first.
  wine "$installer" /S /PATH "${args[@]}" || fail "the installer over an installed version exited with $?"
  local f
  for f in bin/quorvel.exe bin/JapZemb.ini Uninstall.exe; do
    [ -f "$unix_dir/$f" ] || fail "not installed: $f"
  done
  local link
  link="$(ls "$menu"/*/"Update Routine.lnk" 2>/dev/null | head -n 1)"
  [ -n "$link" ] || fail "no Start-menu entry \"Update Routine\""
  wine reg query "$uninstall_key" /reg:32 >/dev/null 2>&1 || fail "no uninstall entry"
  wine reg query "$env_key" /v PATH | grep -qF "$dir\\bin" || fail "the programs' folder is not on the PATH"
  # What a user may set: the Japanese texts, as the README shows.
  wine reg add "$switch_key" /v Language /d Japanese /reg:32 /f >/dev/null

  # The window program, started as a person starts it: from the Start menu.
  # Its caption is the Japanese file's, so that file was found beside it.
  if [ -n "$link" ]; then
    # In the background: a link to nowhere leaves start.exe waiting on a
    # message box.
    wine start /unix "$link" &
    local starter=$!
    local deadline=$((SECONDS + 30)) shown=""
    while [ $SECONDS -lt $deadline ] && [ -z "$shown" ]; do
      shown="$(xwininfo -root -tree 2>/dev/null | grep -E ' V[0-9]+\.[0-9]+\.[0-9]+"' || true)"
      [ -n "$shown" ] || sleep 0.2
    done
    if [ -z "$shown" ]; then
      fail "the installed program's window did not appear within 30 s"
    else
      local id
      id="$(awk '{print $1; exit}' <<<"$shown")"
      xprop -id "$id" _NET_WM_NAME | grep -qF 'ファームウェア更新' ||
        fail "the installed program's caption is not the Japanese one: $(xprop -id "$id" _NET_WM_NAME)"
    fi
    # Closed as its close box does (taskkill without /f sends WM_CLOSE; the
    # 64-bit one, which sees the 64-bit program), then its end waited for.
    "$wine64" taskkill /im quorvel.exe >/dev/null 2>&1 || true
    deadline=$((SECONDS + 15))
    while [ $SECONDS -lt $deadline ] && installed_program_running "$dir"; do sleep 0.2; done
    if installed_program_running "$dir"; then
      fail "the installed program did not end within 15 s of its close"
      "$wine64" taskkill /f /im quorvel.exe >/dev/null 2>&1 || true
    fi
    kill "$starter" 2>/dev/null || true
    wait "$starter" || true
  fi

  # The flasher, where the build has it.
  local flash="$unix_dir/bin/quorvel-flash.exe"
  if [ -f "$flash" ]; then
    wine "$flash" --version | grep -q '^quorvel-flash ' || fail "quorvel-flash --version"
    wine "$flash" update --model olmar --port COM5 "$(winepath -w "$here/samples/olmar-demo.pkc")" ||
      fail "quorvel-flash update on COM5 exited with $?"
  fi

  # Uninstalled silently. The uninstaller runs from a copy, as it does
  # itself from %TEMP%; run here, not through its own copy, it is waited for.
  local copy="$prefix/uninstall-copy.exe"
  cp "$unix_dir/Uninstall.exe" "$copy"
  mapfile -d '' args < <(wine_split "_?=$dir")
  wine "$copy" /S "${args[@]}" || fail "the uninstaller exited with $?"
  rm -f "$copy"
  [ ! -e "$unix_dir" ] || fail "left in the install folder: $(find "$unix_dir" | tr '\n' ' ')"
  [ -z "$(ls "$menu"/*/"Update Routine.lnk" "$menu"/Quorvel* 2>/dev/null)" ] || fail "left in the Start menu"
  wine reg query "$uninstall_key" /reg:32 >/dev/null 2>&1 && fail "left: the uninstall entry"
  wine reg query "$setup_key" /reg:32 >/dev/null 2>&1 && fail "left: the installer's key"
  wine reg query "$env_key" /v PATH | grep -qF "$dir" && fail "left on the PATH"
  wine reg query "$switch_key" /v Language /reg:32 >/dev/null 2>&1 || fail "the language switch a user set is gone"
  echo "The installer's round trip took $((SECONDS - started)) s"
  return "$failed"
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
