#!/usr/bin/env bash
# Fails when a tracked C++ source is not formatted as .clang-format says; `clang-format -i FILE` mends it.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if clang-format --dry-run -Werror "${files[@]}"; then
  echo "format: ${#files[@]} passed, 0 failed"
else
  exit 1
fi
