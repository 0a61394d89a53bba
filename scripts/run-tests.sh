#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the native tests (AddressSanitizer and
# UndefinedBehaviorSanitizer) and both Windows programs, and runs the suites.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

echo "== Windows programs (MinGW-w64, warnings are errors)"
cmake --workflow --preset mingw-i686
cmake --workflow --preset mingw-x86_64

echo "== Native build and tests"
cmake --workflow --preset native
