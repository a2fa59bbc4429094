# Shell helpers of the developer scripts; sourced, not run.

# Debian packages that building and running the program and the demo need.
# libqt6gui6 (with qt6-base-dev) brings Qt's X11 and offscreen platform
# plugins; the fonts are the dialog's and those of its Chinese texts.
program_packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libgl-dev
  fonts-ipafont-gothic fonts-wqy-zenhei
)

# What building the tests needs beyond that.
test_build_packages=(
  libgtest-dev libgmock-dev
)

# Everything a build with its tests needs.
build_packages=(
  "${program_packages[@]}"
  "${test_build_packages[@]}"
)

# Debian packages that cross-building the Windows program, running its tests
# under Wine (on a virtual display) and packing its installer need.
windows_packages=(
  cmake ninja-build g++ libgtest-dev libgmock-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth nsis zip
)

# install_missing PACKAGE...: installs the Debian packages that are not
# installed yet, through sudo when not root.
install_missing() {
  local missing=()
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}
