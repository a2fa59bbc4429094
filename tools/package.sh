#!/usr/bin/env bash
# Builds the Debian package: a Release build laid out under /usr in
# build-package/, packed by CPack. Prints the path of the .deb.
#
#   tools/package.sh
#   sudo apt install ./build-package/quorvel_1.1.1_amd64.deb
#   lintian --pedantic build-package/quorvel_1.1.1_amd64.deb   # no finding
#
# Installs the Debian packages the build needs when they are missing.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"

# program_packages, install_missing
source "$here/tools/lib.sh"

# The build (no tests), plus dpkg-shlibdeps (dpkg-dev) and file, with which
# CPack works out the package's library dependencies.
install_missing "${program_packages[@]}" dpkg-dev file

dir=build-package
jobs="$(nproc 2>/dev/null || echo 2)"

# Warnings are errors here too: a Release build's optimiser sees some that
# the test command's builds do not.
cmake -S . -B "$dir" -G Ninja \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX=/usr \
  -DQUORVEL_BUILD_QT=ON \
  -DQUORVEL_BUILD_TESTS=OFF \
  -DQUORVEL_WERROR=ON
cmake --build "$dir" -j "$jobs"

log="$dir/cpack.log"
(cd "$dir" && cpack -G DEB) | tee "$log"
deb="$(sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p' "$log" | tail -n 1)"
if [ -z "$deb" ] || [ ! -f "$deb" ]; then
  echo "No .deb was made; see $log" >&2
  exit 1
fi
echo "$deb"
