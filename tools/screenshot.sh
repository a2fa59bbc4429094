#!/bin/sh
# Takes a screenshot of the program on a virtual X screen (800 x 600, 24 bit).
# Usage: tools/screenshot.sh PROGRAM OUT.png [about]
#   about: also opens the About box (Shift+F10, then the menu's item), which
#          needs xdotool.
# Needs xvfb (xvfb-run) and ImageMagick (import).
set -eu

if [ $# -lt 2 ]; then
  echo "usage: $0 PROGRAM OUT.png [about]" >&2
  exit 2
fi
program=$(realpath "$1")
out=$(realpath -m "$2")
mode=${3:-}

if [ "$mode" = about ] && ! command -v xdotool >/dev/null 2>&1; then
  echo "$0: 'about' needs xdotool" >&2
  exit 2
fi

inner=$(mktemp)
trap 'rm -f "$inner"' EXIT
cat >"$inner" <<'INNER'
#!/bin/sh
set -eu
program=$1 out=$2 mode=$3
QT_QPA_PLATFORM=xcb "$program" &
pid=$!
sleep 3
if [ "$mode" = about ]; then
  window=$(xdotool search --sync --pid "$pid" --onlyvisible | head -n 1)
  xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
  xdotool key --clearmodifiers shift+F10
  sleep 1
  xdotool key Down Return
  sleep 2
fi
import -window root "$out"
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
INNER
chmod +x "$inner"

xvfb-run -a -s "-screen 0 800x600x24" "$inner" "$program" "$out" "$mode"
echo "$out"
