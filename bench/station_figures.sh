#!/bin/bash
# The station window's figures against quorvel-sim at the line rate: the
# time from start until N devices are in the log, then the window's own
# processor time over 10 s with its N tiles waiting for their devices'
# removal. Run under a display (xvfb-run), from a built tree:
#
#   xvfb-run -a -s "-screen 0 1400x1000x24" bench/station_figures.sh 1
#   xvfb-run -a -s "-screen 0 1400x1000x24" bench/station_figures.sh 16
set -euo pipefail

build="$(realpath "${QUORVEL_BUILD_DIR:-build}")"
n="${1:-16}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

"$build/quorvel-sim" --count "$n" >sim.out 2>&1 &
sim=$!
while [ "$(grep -c '^Simulated adapter on' sim.out || true)" -lt "$n" ]; do sleep 0.05; done
ports=()
for port in $(sed -n 's/^Simulated adapter on //p' sim.out); do ports+=(--port "$port"); done

start=$(date +%s.%N)
"$build/cli/quorvel-station" --model olmar "${ports[@]}" --log "$work/station.log" \
  "$build/samples/olmar-demo.pkc" 2>/dev/null &
window=$!
while [ "$( (cat station.log 2>/dev/null || true) | wc -l)" -lt "$n" ]; do sleep 0.02; done
end=$(date +%s.%N)
echo "$n tiles: all $n devices in the log after $(echo "$end - $start" | bc) s"

sleep 3
ticks() { awk '{print $14 + $15}' "/proc/$window/stat"; }
before=$(ticks)
sleep 10
after=$(ticks)
echo "window idle with $n tiles: $((after - before)) ticks of 1/$(getconf CLK_TCK) s in 10 s"

kill -TERM "$window"
wait "$window" || true
kill "$sim"
wait "$sim" 2>/dev/null || true
