#!/usr/bin/env bash
# Installs what is missing, builds, and then runs the program or the tests.
#
#   tools/dev.sh run    install what the program and the demo need, build
#                       just those two (no tests), and start the demo
#   tools/dev.sh test   build twice (normal, and with AddressSanitizer and
#                       UndefinedBehaviorSanitizer; warnings are errors in
#                       both) and run the whole test
#                       suite in both, then the static analysis, short
#                       fuzz runs, and the Windows program cross-built with
#                       its tests under Wine (tools/windows.sh)
#
# Safe to run again: packages already installed and builds already up to date
# are left as they are. Both use build/; run after test builds no test, and
# test after run adds the tests to it.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"

# program_packages, build_packages, install_missing
source "$here/tools/lib.sh"

# Debian packages the tests and checks need: the build's own with its tests,
# the sample generator, the fuzzing compiler and the analysers.
test_packages=(
  "${build_packages[@]}"
  python3 clang-14 libclang-rt-14-dev clang-tidy cppcheck
)

jobs="$(nproc 2>/dev/null || echo 2)"

build() {  # build DIR [cmake options...]
  local dir="$1"; shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja "$@"
  fi
  cmake --build "$dir" -j "$jobs"
}

run_tests() {  # run_tests DIR
  (cd "$1" && ctest --output-on-failure -j "$jobs" --timeout 300)
}

case "${1:-}" in
  run)
    install_missing "${program_packages[@]}"
    # A first configuration leaves the tests out (they would need GoogleTest);
    # a build directory the test command made keeps them, unbuilt.
    if [ ! -f build/build.ninja ]; then
      cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_BUILD_TESTS=OFF
    fi
    cmake --build build -j "$jobs" --target quorvel quorvel-demo
    # The demo (it says so when there is no display): the program's window with a simulated adapter and device.
    # With a real adapter plugged in, start build/quorvel instead.
    exec build/demo/quorvel-demo
    ;;
  test)
    install_missing "${test_packages[@]}"
    echo "== normal build"
    # The tests, also in a build directory the run command made without them.
    # Both builds treat warnings as errors, also in build directories made
    # before.
    if [ -f build/build.ninja ]; then cmake -S . -B build -DQUORVEL_BUILD_TESTS=ON -DQUORVEL_WERROR=ON >/dev/null; fi
    build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_WERROR=ON
    run_tests build
    echo "== build with AddressSanitizer and UndefinedBehaviorSanitizer"
    if [ -f build-asan/build.ninja ]; then cmake -S . -B build-asan -DQUORVEL_WERROR=ON >/dev/null; fi
    build build-asan -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON -DQUORVEL_WERROR=ON
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      run_tests build-asan
    echo "== sample files are what their generator writes"
    python3 tools/make_samples.py --check
    echo "== static analysis"
    tools/analyse.sh build
    echo "== short fuzz runs"
    tools/fuzz.sh 15
    echo "== the Windows program, cross-built, and its tests under Wine"
    tools/windows.sh
    echo "== all checks passed"
    ;;
  *)
    echo "usage: tools/dev.sh run|test" >&2
    exit 2
    ;;
esac
