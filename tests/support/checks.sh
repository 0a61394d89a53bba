# shellcheck shell=bash
# Counted checks for the shell suites. A suite ends with "SUITE: N passed, M failed", the line
# scripts/run-tests.sh counts.

passed=0
failed=0

# check NAME COMMAND...: runs the command; its success passes the check.
check() {
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "  ok    $name"
  else
    failed=$((failed + 1))
    echo "  FAIL  $name"
  fi
}
