#!/usr/bin/env bash
# Configures the project with one faulty firmware image and expects the configure to stop with a message that
# names the file and the fault.
#   refuses_bad_image.sh <source dir> <work dir> <case: size|pointer|unterminated>
set -u
src=$1 work=$2 case=$3
mkdir -p "$work"
bad="$work/$case.bin"
cp "$src/update/images/main.bin" "$bad"
chmod u+w "$bad"

# Writes the given hex bytes at a byte offset of the bad image.
patch_bytes() {
  local offset=$1 hex=$2
  printf "$(sed 's/\(..\)/\\x\1/g' <<<"$hex")" | dd of="$bad" bs=1 seek="$offset" conv=notrunc status=none
}

case $case in
  size)
    truncate -s 524287 "$bad"
    expect="Firmware image .*$case.bin: 524287 bytes, but it must be exactly 524288 bytes"
    ;;
  pointer)
    patch_bytes $((0x1014)) 00fff7ff  # 0xFFF7FF00, below the image
    expect="$case.bin: the version pointer 0xFFF7FF00 lies outside 0xFFF80000-0xFFFFFFFF"
    ;;
  unterminated)
    patch_bytes $((0x1010)) f0ffffff  # 0xFFFFFFF0: a text running to the image's end
    patch_bytes $((0x7FFF0)) 41414141414141414141414141414141
    expect="$case.bin: the model-name text at 0xFFFFFFF0 has no NUL inside the image"
    ;;
  *)
    echo "unknown case $case" >&2
    exit 2
    ;;
esac

# Ninja, as every configure here names its generator; the images are checked before any tool is looked for.
out=$(cmake -S "$src" -B "$work/build-$case" -G Ninja -DFWU_MAIN_IMAGE="$bad" -DFWU_BUILD_TESTS=OFF 2>&1)
status=$?
# CMake wraps its messages at blanks; read them as one line.
out=$(tr -s ' \n' '  ' <<<"$out")
if [ $status -eq 0 ]; then
  echo "configure accepted the faulty image ($case)"
  exit 1
fi
if ! grep -q -E "$expect" <<<"$out"; then
  echo "configure failed without the expected message: $expect"
  echo "$out"
  exit 1
fi
echo "refused as expected: $(grep -o -E "$expect" <<<"$out")"
