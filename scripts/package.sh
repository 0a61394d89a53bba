#!/usr/bin/env bash
# Builds the release packages from the committed state (HEAD) into dist/:
#   fwupdate-cli_VERSION_amd64.deb   the Linux command-line updater, its man page, bash completion and udev rule
#   fwupdate-VERSION-windows.zip     fwupdate.exe (32-bit), fwupdate-cli.exe (32- and 64-bit), README, licences
#   SHA256SUMS                       over both
# VERSION is the project's (the top CMakeLists.txt), read back from the build. The same commit gives the same bytes
# wherever and whenever it is built: the sources are a `git archive` of HEAD in a new folder (untracked and
# uncommitted files never enter), every time stamp is the commit's, build paths are mapped away and the Windows
# programs carry no link time.
#
#   scripts/package.sh [--check-reproducible [deb|zip]]
#
# --check-reproducible then builds the package named (both when none is) a second time, in another folder, and
# fails unless its bytes equal those in dist/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

check=""
case "${1:-}" in
  "") ;;
  --check-reproducible) check=${2:-deb zip} ;;
  *) sed -n '2,15p' "$0" >&2; exit 2 ;;
esac
case "$check" in
  "" | deb | zip | "deb zip") ;;
  *) echo "package: --check-reproducible takes deb or zip, not '$check'" >&2; exit 2 ;;
esac

# Debian's own Python: the zip's bytes come from the zlib it uses, and another python3 may come first on the PATH.
python=/usr/bin/python3
for tool in git cmake ninja scdoc dpkg-deb dpkg-shlibdeps dpkg-buildflags lintian i686-w64-mingw32-g++-posix \
  x86_64-w64-mingw32-g++-posix $python; do
  command -v "$tool" >/dev/null || { echo "package: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done
if ! git diff --quiet HEAD --; then
  echo "package: uncommitted changes are not packaged; the packages are built from HEAD" >&2
fi

# Everything the build reads from its surroundings is fixed here: time stamps from the commit, the commit itself
# (the archive has no .git), the time zone, the collation order and the files' permissions.
export SOURCE_DATE_EPOCH FWU_COMMIT TZ=UTC LC_ALL=C.UTF-8
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct HEAD)
FWU_COMMIT=$(git rev-parse --short=12 HEAD)
umask 022
maintainer=${FWU_MAINTAINER:-$(git log -1 --format='%an <%ae>' HEAD)}

work_dirs=()
trap 'rm -rf "${work_dirs[@]}"' EXIT

# new_tree: a new folder holding the committed sources in src/; prints its path.
new_tree() {
  local work
  work=$(mktemp -d /tmp/fwu-package.XXXXXX)
  work_dirs+=("$work")
  mkdir "$work/src"
  git archive --format=tar HEAD | tar -x -C "$work/src"
  echo "$work"
}

# build SRC NAME TARGETS... [-- CMAKE_ARGS...]: a release build without tests in SRC/build/NAME.
build() {
  local src=$1 name=$2
  shift 2
  local targets=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    targets+=("$1")
    shift
  done
  [ $# -gt 0 ] && shift
  echo "package: building ${targets[*]} ($name)"
  if ! cmake -S "$src" -B "$src/build/$name" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFWU_BUILD_TESTS=OFF \
    -DFWU_REPRODUCIBLE=ON "$@" >"$src/build-$name.log" 2>&1 ||
    ! cmake --build "$src/build/$name" --target "${targets[@]}" >>"$src/build-$name.log" 2>&1; then
    tail -40 "$src/build-$name.log" >&2
    echo "package: the $name build failed" >&2
    return 1
  fi
}

# touch_tree DIR: every file and folder in DIR gets the commit's time.
touch_tree() {
  find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

# installed_size DIR: KiB as dpkg-gencontrol counts them, the same on every file system: each file's size rounded
# up to whole KiB, one for each folder and link; DEBIAN/ is not installed.
installed_size() {
  find "$1" -mindepth 1 -path "$1/DEBIAN" -prune -o -printf '%y %s\n' |
    awk '{ total += ($1 == "f") ? int(($2 + 1023) / 1024) : 1 } END { print total }'
}

# make_deb WORK OUT_DIR: builds the Linux program with Debian's flags and writes the .deb into OUT_DIR.
make_deb() {
  local src=$1/src stage=$1/deb
  # Debian's compiler and linker flags (hardening, as lintian checks), taken in the source folder so that their
  # own path map names it.
  local cxxflags ldflags
  cxxflags=$(cd "$src" && DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS)
  cxxflags+=" $(cd "$src" && DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS)"
  ldflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS)
  build "$src" linux fwupdate-cli -- "-DCMAKE_CXX_FLAGS=$cxxflags" "-DCMAKE_EXE_LINKER_FLAGS=$ldflags"

  local version
  version=$(sed -n 's/^#define FWU_VERSION "\(.*\)"$/\1/p' "$src/build/linux/generated/build_version.h")
  [ -n "$version" ] || { echo "package: no version in build_version.h" >&2; return 1; }

  local doc=$stage/usr/share/doc/fwupdate-cli
  install -d "$stage/DEBIAN" "$stage/usr/bin" "$stage/usr/share/man/man1" "$doc" \
    "$stage/usr/share/bash-completion/completions" "$stage/lib/udev/rules.d"
  # Stripped as debhelper strips a program.
  install -m 755 "$src/build/linux/cli/fwupdate-cli" "$stage/usr/bin/"
  strip --remove-section=.comment --remove-section=.note --strip-unneeded "$stage/usr/bin/fwupdate-cli"
  sed "s/@VERSION@/$version/" "$src/packaging/fwupdate-cli.1.scd" | scdoc | gzip -9n >"$stage/usr/share/man/man1/fwupdate-cli.1.gz"
  install -m 644 "$src/packaging/fwupdate-cli.bash-completion" "$stage/usr/share/bash-completion/completions/fwupdate-cli"
  install -m 644 "$src/packaging/60-fwupdate-cli.rules" "$stage/lib/udev/rules.d/"
  {
    echo "fwupdate-cli, built from the fwupdate sources."
    echo
    cat "$src/LICENSE"
    echo
    echo "The third-party code that fwupdate-cli carries or uses, and its licences: THIRD-PARTY-NOTICES.gz"
  } >"$doc/copyright"
  gzip -9n <"$src/THIRD-PARTY-NOTICES" >"$doc/THIRD-PARTY-NOTICES.gz"
  {
    echo "fwupdate-cli ($version) stable; urgency=medium"
    echo
    echo "  * Release $version, built from commit $FWU_COMMIT."
    echo
    echo " -- $maintainer  $(date -R -u -d "@$SOURCE_DATE_EPOCH")"
  } | gzip -9n >"$doc/changelog.gz"

  # The libraries it links, as dpkg-shlibdeps reads them from the program (it wants a debian/control to exist).
  local depends
  mkdir -p "$1/shlibs/debian"
  printf 'Source: fwupdate\n\nPackage: fwupdate-cli\nArchitecture: amd64\n' >"$1/shlibs/debian/control"
  depends=$(cd "$1/shlibs" && dpkg-shlibdeps -O "$stage/usr/bin/fwupdate-cli" | sed -n 's/^shlibs:Depends=//p')
  cat >"$stage/DEBIAN/control" <<END
Package: fwupdate-cli
Version: $version
Architecture: amd64
Maintainer: $maintainer
Installed-Size: $(installed_size "$stage")
Depends: $depends
Section: electronics
Priority: optional
Description: controller firmware updater for serial lines, for the command line
 fwupdate-cli writes a controller's firmware through its boot loader over a
 serial line, as the Windows dialog program fwupdate.exe does: the same bytes
 on the line, the same time limits, the same messages. It carries both
 firmware images, or takes raw, Intel HEX or S-record files, and updates
 several controllers at once, with a live progress line per port, a JSON
 summary and a byte trace of the line.
 .
 A udev rule gives the dialout group the USB serial adapters.
END
  (cd "$stage" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z | xargs -0 md5sum) \
    >"$stage/DEBIAN/md5sums"
  chmod 644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums"
  touch_tree "$stage"
  dpkg-deb --root-owner-group -Zxz --build "$stage" "$2/fwupdate-cli_${version}_amd64.deb" >/dev/null
}

# make_zip WORK OUT_DIR: builds the Windows programs and writes the .zip into OUT_DIR.
make_zip() {
  local src=$1/src files=$1/zip
  # Linked with -s: no symbol table, which the programs do not need.
  build "$src" win32 fwupdate fwupdate-cli -- "--toolchain=$src/cmake/mingw-i686.cmake" -DCMAKE_EXE_LINKER_FLAGS=-s
  build "$src" win64 fwupdate-cli -- "--toolchain=$src/cmake/mingw-x86_64.cmake" -DCMAKE_EXE_LINKER_FLAGS=-s
  local version
  version=$(sed -n 's/^#define FWU_VERSION "\(.*\)"$/\1/p' "$src/build/win32/generated/build_version.h")
  local top=$files/fwupdate-$version-windows
  install -d "$top/x86_64"
  install -m 644 "$src/build/win32/app/fwupdate.exe" "$src/build/win32/cli/fwupdate-cli.exe" "$top/"
  install -m 644 "$src/build/win64/cli/fwupdate-cli.exe" "$top/x86_64/"
  # Text files with Windows line ends, so that every editor there shows their lines.
  local text
  for text in README.md:README.txt LICENSE:LICENSE.txt THIRD-PARTY-NOTICES:THIRD-PARTY-NOTICES.txt; do
    sed 's/$/\r/' "$src/${text%%:*}" >"$top/${text#*:}"
  done
  "$python" "$src/scripts/write-zip.py" "$2/fwupdate-$version-windows.zip" "$files"
}

rm -rf dist
mkdir dist
first=$(new_tree)
make_deb "$first" dist
make_zip "$first" dist
(cd dist && sha256sum -- *.deb *.zip >SHA256SUMS)

echo "package: lintian"
# Any error or warning fails; the one piece of information that lintian -I adds is explained in the README.
lintian --fail-on error,warning dist/*.deb

if [ -n "$check" ]; then
  # Another folder, and a later time: neither may show in the bytes.
  second=$(new_tree)
  mkdir "$second/out"
  for package in $check; do
    "make_$package" "$second" "$second/out"
  done
  echo "package: comparing the second build's bytes with dist/"
  same=0
  for file in "$second"/out/*; do
    if cmp "$file" "dist/${file##*/}"; then
      echo "  same       ${file##*/}"
    else
      echo "  DIFFERENT  ${file##*/}"
      same=1
    fi
  done
  [ "$same" -eq 0 ] || exit 1
fi
echo "package: done"
(cd dist && sha256sum -- *)
