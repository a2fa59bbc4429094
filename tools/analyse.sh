#!/usr/bin/env bash
# Static analysis of the project's own code: clang-tidy with the checked-in
# .clang-tidy, and cppcheck. Fails on any finding.
#
#   tools/analyse.sh [build dir with compile_commands.json, default build]
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"
source tools/lib.sh
install_missing clang-tidy cppcheck

build="${1:-build}"
if [ ! -f "$build/compile_commands.json" ]; then
  echo "no $build/compile_commands.json: build first (tools/dev.sh test)" >&2
  exit 2
fi

sources='/(app|ui|serial|link|update|sim|cli)/'
echo "== clang-tidy"
run-clang-tidy -p "$build" -j "$(nproc)" -quiet "$here$sources" > "$build/clang-tidy.log" 2>&1 || {
  grep -E "(warning|error):" "$build/clang-tidy.log" >&2 || tail -50 "$build/clang-tidy.log" >&2
  exit 1
}
echo "clang-tidy: no findings"

echo "== cppcheck"
cppcheck --enable=warning,performance,portability --std=c++20 --inline-suppr --quiet \
  --error-exitcode=1 --suppress=missingIncludeSystem -I . app ui serial link update sim cli
echo "cppcheck: no findings"
