#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when they are missing. Safe to run again.
#
# The 32-bit Wine (wine32, from the i386 architecture) only where the kernel runs 32-bit programs
# (scripts/wine32-probe.sh): elsewhere it could never start. A package list that apt-get update cannot fetch is
# reported once and the rest goes on; the script fails only when a package cannot be installed, naming it and the
# likely cause.
set -uo pipefail

# What configuring and building every preset needs (ser2net too: the native configure looks for it).
build_packages=(
  # native build, tests and checks (git: the format check reads the list of tracked sources)
  cmake ninja-build g++ clang clang-format libclang-rt-14-dev libgtest-dev libgmock-dev googletest python3 valgrind git
  # the command-line updater: option parser and JSON (header-only), the port list (libserialport) and image
  # digests (nettle), found through pkg-config
  pkgconf libcli11-dev nlohmann-json3-dev libserialport-dev nettle-dev
  # the serial device server the network port's tests and its benchmark row start in front of the simulator
  ser2net
  # the record store: the PostgreSQL client library (the native configure looks for it)
  libpq-dev
  # the Windows programs: MinGW-w64 cross compilers
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
)
# What the tests, checks and packages need besides.
packages=(
  "${build_packages[@]}"
  clang-tidy
  # tmux for the command line's screen captures
  tmux
  # firmware files written by other tools for the firmware-file tests: srec_cat, and objcopy from binutils
  srecord binutils
  # the PostgreSQL server (15) that the record store's tests and benchmark row start
  postgresql
  # Wine with a virtual X display to run the Windows programs
  wine wine64 xvfb x11-apps imagemagick
  # the release packages (scripts/package.sh) and their test: the man page's source format, Debian's package
  # tools and checker, man to read the page back, and a reader of the Windows programs' version resources
  scdoc dpkg-dev lintian man-db python3-pefile
)
# --build-tools: only what the builds need, so that they can start while the rest installs (a second run without
# it installs the rest).
build_tools_only=
case ${1:-} in
  "") ;;
  --build-tools) build_tools_only=1 packages=("${build_packages[@]}") ;;
  *)
    echo "usage: $0 [--build-tools]" >&2
    exit 2
    ;;
esac

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi

# shellcheck source=scripts/wine32-probe.sh
. "$(dirname "$0")/wine32-probe.sh"
wine32_probe
packages32=()
if [ -n "$build_tools_only" ]; then
  : # the 32-bit Wine comes with the rest
elif [ "$WINE32_STATE" = no-32-bit ]; then
  echo "32-bit Wine: this kernel runs no 32-bit programs, so wine32:i386 is left out ($WINE32_DETAIL)"
else
  # The 32-bit Wine runs the shipped 32-bit program beside wine64.
  packages32=(wine32:i386)
  # It comes from Debian's i386 architecture; once that is added the package lists must be fetched again.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "Adding the i386 architecture (for the 32-bit Wine)"
    "${sudo[@]}" dpkg --add-architecture i386
    unset FWU_APT_UPDATED
  fi
fi

# missing_of <package...>: prints those not installed, one a line.
missing_of() {
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      printf '%s\n' "$p"
    fi
  done
}
# Once wine32:i386 is installed, the 32-bit Wine must start (the kernel runs 32-bit programs, as the probe found).
check_wine32_starts() {
  wine32_probe
  if [ "$WINE32_STATE" != runs ]; then
    echo "error: wine32:i386 is installed, but the 32-bit Wine does not start: $WINE32_DETAIL" >&2
    exit 1
  fi
}

mapfile -t missing < <(missing_of "${packages[@]}")
mapfile -t missing32 < <(missing_of "${packages32[@]}")
if [ ${#missing[@]} -eq 0 ] && [ ${#missing32[@]} -eq 0 ]; then
  [ ${#packages32[@]} -eq 0 ] || [ "$WINE32_STATE" = runs ] || check_wine32_starts
  exit 0
fi

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# The package lists apt-get update could not fetch, one a line: "<list>: <apt's reason>".
unfetched=
# A caller that has just refreshed the package lists says so, so that they are fetched once.
if [ -z "${FWU_APT_UPDATED:-}" ]; then
  echo "Fetching the package lists (apt-get update)"
  # A mirror caught mid-sync serves a list that does not match its index for a while: try again before giving up.
  for attempt in 1 2 3; do
    status=0
    "${sudo[@]}" apt-get update -q >"$logs/update" 2>&1 || status=$?
    unfetched=$(sed -n -E 's#^[EW]: Failed to fetch [a-z+]+://[^/]+/([^ ]+) +#\1: #p' "$logs/update")
    if [ "$status" -eq 0 ] && [ -z "$unfetched" ]; then
      break
    fi
    [ "$attempt" -eq 3 ] || sleep 5
  done
  if [ "$status" -ne 0 ] || [ -n "$unfetched" ]; then
    echo "apt-get update could not fetch some package lists (3 tries); going on with the lists there are:"
    if [ -n "$unfetched" ]; then
      printf '%s\n' "$unfetched" | sed 's/^/  /'
    else
      grep '^E:' "$logs/update" | sed 's/^/  /'
    fi
  fi
fi

failed=()
# install_all <package...>: installs them together, or, when that fails, one by one, so that every package that
# can be installed is; those that cannot go to failed, apt-get's output to $logs/install.
install_all() {
  [ $# -gt 0 ] || return 0
  echo "Installing: $*"
  local status=0 p
  apt_install "$@" 2>&1 | tee -a "$logs/install" || status=$?
  [ "$status" -ne 0 ] || return 0
  for p in $(missing_of "$@"); do
    if [ $# -gt 1 ] && apt_install "$p" >>"$logs/install" 2>&1; then
      continue
    fi
    failed+=("$p")
  done
}
apt_install() { DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "$@"; }

# The likely cause of a failed install, in one line, read from apt-get's messages.
likely_cause() {
  local out=$logs/install lists
  if [ -n "$unfetched" ]; then
    lists=$(grep 'binary-i386' <<<"$unfetched" | sed 's/: .*//' | paste -sd' ')
    if [[ " ${failed[*]}" == *:i386* ]] && [ -n "$lists" ]; then
      echo "apt-get update could not fetch $lists (above), so the i386 packages cannot match the newer" \
        "versions installed for this machine's own architecture; run this again once the mirror has synced"
    else
      echo "apt-get update could not fetch some package lists (above); run this again once they can be fetched"
    fi
  elif grep -q 'Unable to locate package' "$out"; then
    echo "the configured package sources (/etc/apt/sources.list*) do not carry it"
  elif grep -q -E 'held|broken packages|unmet dependencies' "$out"; then
    echo "its dependencies cannot match the versions installed here (apt-get's messages above)"
  elif grep -q 'Could not get lock' "$out"; then
    echo "another program holds the package manager's lock"
  elif grep -q -E 'Failed to fetch|Temporary failure resolving' "$out"; then
    echo "the packages could not be downloaded (network or mirror)"
  else
    echo "apt-get's messages above"
  fi
}

# Everything for this machine's own architecture first, so that it is in place even when the 32-bit Wine is not.
install_all "${missing[@]}"
install_all "${missing32[@]}"
if [ ${#missing32[@]} -gt 0 ] && [[ " ${failed[*]} " != *" wine32:i386 "* ]]; then
  check_wine32_starts
fi
if [ ${#failed[@]} -gt 0 ]; then
  {
    echo "error: could not install ${failed[*]}"
    grep '^E: ' "$logs/install" | sort -u | sed 's/^/  apt-get: /'
    echo "  likely cause: $(likely_cause)"
  } >&2
  exit 1
fi
