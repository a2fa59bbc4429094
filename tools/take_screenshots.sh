#!/usr/bin/env bash
# Takes the README's pictures of the program's window: installs what is
# missing, builds tools/screenshots (quorvel-screenshots) in build/, runs it
# on a virtual X screen (1024 x 768, 24 bit) with a window manager for the
# window frames, and writes docs/screenshots/*.png.
#
#   tools/take_screenshots.sh
#
# QUORVEL_BUILD_DIR names another build directory (default: build).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"

# build_packages, install_missing
source "$here/tools/lib.sh"
# The build's packages, the virtual screen and the window manager.
install_missing "${build_packages[@]}" xvfb xauth openbox

build_dir="${QUORVEL_BUILD_DIR:-build}"
if [ ! -f "$build_dir/build.ninja" ]; then
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build_dir" -j "$(nproc 2>/dev/null || echo 2)" --target quorvel-screenshots quorvel-station-screenshot
program="$(realpath "$build_dir/tools/screenshots/quorvel-screenshots")"
out="$here/docs/screenshots"

# A home of its own, so that no one's settings (window manager theme, Qt's
# file dialog history) show in the pictures.
session="$(mktemp -d)"
trap 'rm -rf "$session"' EXIT
mkdir -m 700 "$session/run"

# Runs on the virtual screen: the window manager first, the program once the
# window manager has started.
on_screen() {  # on_screen PROGRAM OUTPUT_DIR
  local ready="$HOME/wm-ready"
  openbox --sm-disable --startup "touch $ready" >"$HOME/openbox.log" 2>&1 &
  local wm=$!
  local waited=0
  while [ ! -e "$ready" ]; do
    if [ "$waited" -ge 100 ] || ! kill -0 "$wm" 2>/dev/null; then
      echo "take_screenshots: the window manager did not start:" >&2
      cat "$HOME/openbox.log" >&2
      kill "$wm" 2>/dev/null || true
      return 1
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
  local rc=0
  "$1" "$2" || rc=$?
  kill "$wm" 2>/dev/null || true
  wait "$wm" 2>/dev/null || true
  return "$rc"
}

env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u QT_QPA_PLATFORMTHEME -u QT_STYLE_OVERRIDE \
  -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS -u QT_AUTO_SCREEN_SCALE_FACTOR -u QT_FONT_DPI \
  HOME="$session" XDG_CONFIG_HOME="$session/config" XDG_CACHE_HOME="$session/cache" \
  XDG_RUNTIME_DIR="$session/run" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1024x768x24" \
  bash -c "$(declare -f on_screen); on_screen \"\$@\"" on_screen "$program" "$out"

# The station window, four tiles in four states (no window manager: the
# window's own contents are grabbed).
env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u QT_QPA_PLATFORMTHEME -u QT_STYLE_OVERRIDE \
  -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS -u QT_AUTO_SCREEN_SCALE_FACTOR -u QT_FONT_DPI \
  HOME="$session" XDG_CONFIG_HOME="$session/config" XDG_CACHE_HOME="$session/cache" \
  XDG_RUNTIME_DIR="$session/run" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1024x768x24" \
  "$build_dir/tools/screenshots/quorvel-station-screenshot" "$(realpath "$build_dir/cli/quorvel-flash")" \
  "$out/station.png"
