#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when they are missing. Safe to run again.
set -euo pipefail

packages=(
  # native build, tests and checks (git: the format check reads the list of tracked sources)
  cmake ninja-build g++ clang clang-format clang-tidy libclang-rt-14-dev libgtest-dev libgmock-dev googletest
  python3 valgrind git
  # the command-line updater: option parser and JSON (header-only), the port list (libserialport) and image
  # digests (nettle), found through pkg-config; tmux for its screen captures
  pkgconf libcli11-dev nlohmann-json3-dev libserialport-dev nettle-dev tmux
  # the serial device server the network port's tests and its benchmark row start in front of the simulator
  ser2net
  # the Windows programs: MinGW-w64 cross compilers, and Wine with a virtual X display to run them; wine32 (from
  # the i386 architecture, added below) runs the shipped 32-bit program beside wine64
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 wine32:i386 xvfb x11-apps imagemagick
)

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi

# The 32-bit Wine comes from Debian's i386 architecture; once it is added the package lists must be fetched again.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "Adding the i386 architecture (for the 32-bit Wine)"
  "${sudo[@]}" dpkg --add-architecture i386
  unset FWU_APT_UPDATED
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
# A caller that has just refreshed the package lists says so, so that they are fetched once.
if [ -z "${FWU_APT_UPDATED:-}" ]; then
  "${sudo[@]}" apt-get update
fi
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
