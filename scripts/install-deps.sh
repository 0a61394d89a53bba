#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when they are missing. Safe to run again.
set -euo pipefail

packages=(
  # native build, tests and checks
  cmake ninja-build g++ clang clang-format clang-tidy libclang-rt-14-dev libgtest-dev libgmock-dev googletest
  python3 valgrind
  # the command-line updater: option parser and JSON (header-only), the port list (libserialport) and image
  # digests (nettle), found through pkg-config; tmux for its screen captures
  pkgconf libcli11-dev nlohmann-json3-dev libserialport-dev nettle-dev tmux
  # the Windows program: MinGW-w64 cross compilers, and Wine with a virtual X display to run it
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 xvfb x11-apps imagemagick
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
# A caller that has just refreshed the package lists says so, so that they are fetched once.
if [ -z "${FWU_APT_UPDATED:-}" ]; then
  "${sudo[@]}" apt-get update
fi
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
