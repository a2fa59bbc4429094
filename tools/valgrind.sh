#!/usr/bin/env bash
# Runs the headless test programs under valgrind's memcheck: any invalid
# read or write, use of uninitialised memory, bad free, or block lost for
# good (definitely or indirectly) fails the run.
#
#   tools/valgrind.sh [BUILD_DIR]     default: build/
#
# BUILD_DIR must be a normal build (valgrind and the sanitizers do not mix);
# the test programs are brought up to date first. The Qt window tests are
# left out: they run the toolkit, whose libraries (fontconfig, glib, the
# platform plugin) keep caches for the life of the process and report
# "possibly lost" blocks and uninitialised reads of their own, which would
# need a long list of suppressions that say nothing about our code; the
# dialog logic they drive is the same that test_ui runs headless here.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="$(cd "${1:-$here/build}" && pwd)"

if [ ! -f "$dir/CMakeCache.txt" ]; then
  echo "valgrind.sh: $dir is not a build directory" >&2
  exit 2
fi
if grep -q '^QUORVEL_SANITIZE:BOOL=ON' "$dir/CMakeCache.txt"; then
  echo "valgrind.sh: $dir is a sanitizer build; give a normal one" >&2
  exit 2
fi
command -v valgrind >/dev/null || { echo "valgrind.sh: valgrind is not installed" >&2; exit 2; }

programs=(test_base test_serial test_link test_update test_ui test_faults test_soak test_parts)
cmake --build "$dir" --target "${programs[@]}" -j 2

suppressions=()
if [ -s "$here/tools/valgrind.supp" ]; then
  suppressions=(--suppressions="$here/tools/valgrind.supp")
fi

logs="$(mktemp -d)"
trap 'rm -rf "$logs"' EXIT

failed=()
total_start=$SECONDS
for program in "${programs[@]}"; do
  start=$SECONDS
  echo "== $program"
  if valgrind --tool=memcheck --error-exitcode=1 --leak-check=full \
       --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect \
       --track-fds=no --num-callers=30 "${suppressions[@]}" \
       --log-file="$logs/$program.log" \
       "$dir/tests/$program" --gtest_brief=1 >"$logs/$program.out" 2>&1; then
    echo "   passed in $((SECONDS - start)) s"
  else
    echo "   FAILED after $((SECONDS - start)) s"
    cat "$logs/$program.out" "$logs/$program.log"
    failed+=("$program")
  fi
done

echo "== valgrind: ${#programs[@]} programs in $((SECONDS - total_start)) s"
if [ "${#failed[@]}" -ne 0 ]; then
  echo "failed: ${failed[*]}" >&2
  exit 1
fi
