#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with Clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz, and runs each target for a while
# on a copy of its seed corpus.
#
#   tools/fuzz.sh [seconds-per-target]     (default 30)
#
# Exits non-zero when a target crashes, leaks, hangs or finds an invariant
# broken; the failing input is kept in build-fuzz/artifacts/. New inputs the
# fuzzer finds go to a scratch directory, never into fuzz/corpus/.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"
source tools/lib.sh

seconds="${1:-30}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: tools/fuzz.sh [seconds-per-target]" >&2
  exit 2
fi

install_missing cmake ninja-build clang-14 libclang-rt-14-dev

dir=build-fuzz
jobs="$(nproc 2>/dev/null || echo 2)"
if [ ! -f "$dir/build.ninja" ]; then
  CC=clang-14 CXX=clang++-14 cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUORVEL_FUZZ=ON -DQUORVEL_BUILD_QT=OFF -DQUORVEL_BUILD_TESTS=OFF
fi
cmake --build "$dir" -j "$jobs"

# The longest input each target takes.
max_len_of() {
  case "$1" in
    fuzz_update_file) echo 4096 ;;      # a few records of hex text
    fuzz_language_file) echo 4096 ;;    # thirteen texts of up to 260 characters
    fuzz_language_switch) echo 1024 ;;
    fuzz_sysfs_ports) echo 1024 ;;      # a tree of up to six ports
    fuzz_device_protocol) echo 2048 ;;  # a whole update with resends of every record
    *) echo 4096 ;;
  esac
}

scratch="$(mktemp -d "${TMPDIR:-/tmp}/quorvel-fuzz.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
artifacts="$dir/artifacts"
mkdir -p "$artifacts"

failed=()
while read -r target; do
  [ -n "$target" ] || continue
  corpus="$scratch/$target"
  mkdir -p "$corpus"
  if [ -d "fuzz/corpus/$target" ]; then
    cp -R "fuzz/corpus/$target/." "$corpus/"
  fi
  log="$scratch/$target.log"
  echo "== $target: ${seconds} s"
  rc=0
  "$dir/fuzz/$target" "$corpus" \
    -max_total_time="$seconds" -max_len="$(max_len_of "$target")" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$artifacts/$target-" >"$log" 2>&1 || rc=$?
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  cov="$(grep -Eo 'cov: [0-9]+' "$log" | tail -n 1 || true)"
  echo "   ${execs:-?} executions, ${cov:-cov: ?}, exit status $rc"
  if [ "$rc" -ne 0 ]; then
    failed+=("$target")
    grep -E 'ERROR|INVARIANT|runtime error|SUMMARY|Test unit written' "$log" | head -n 20 || true
    cp "$log" "$artifacts/$target.log"
    echo "   log: $artifacts/$target.log"
  fi
done <"$dir/fuzz/fuzz_targets.txt"

if [ ${#failed[@]} -ne 0 ]; then
  echo "Failed: ${failed[*]}" >&2
  exit 1
fi
echo "All targets ran without a failure."
