#!/usr/bin/env bash
# Fails when a tracked C++ source is not formatted as .clang-format says; `clang-format -i FILE` mends it.
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(git ls-files '*.cpp' '*.h')
mapfile -t files <<<"$files"
# No file found means nothing was checked, which is no pass.
if [ -z "${files[0]}" ]; then
  echo "format: no C++ sources found to check" >&2
  exit 1
fi
if clang-format --dry-run -Werror "${files[@]}"; then
  echo "format: ${#files[@]} passed, 0 failed"
else
  exit 1
fi
