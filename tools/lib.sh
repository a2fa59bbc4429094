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
# under Wine (on a virtual display) and packing its installer need. The
# installer and its uninstaller are 32-bit programs: Wine runs them with
# wine32, of the i386 architecture. x11-utils finds the installed program's
# window on the virtual display.
windows_packages=(
  cmake ninja-build g++ libgtest-dev libgmock-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 wine32:i386 xvfb xauth x11-utils nsis zip
)

# install_missing PACKAGE...: installs the Debian packages that are not
# installed yet, through sudo when not root. A package named with an
# architecture (wine32:i386) has that architecture added to dpkg first.
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
  local arch
  for p in "${missing[@]}"; do
    [[ "$p" == *:* ]] || continue
    arch="${p##*:}"
    if [ "$arch" != "$(dpkg --print-architecture)" ] &&
       ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
      "${sudo[@]}" dpkg --add-architecture "$arch"
    fi
  done
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}
