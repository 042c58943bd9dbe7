# Shared by the shell test scripts (the desktop's and the Windows program's): counts checks and
# prints one line for each, so that every script reports alike and run_wine_tests.sh can add up
# the counts. Source it, call `check NAME COMMAND...` for every check and `finish SUITE` at the end.

passed=0
failed=0

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

finish() {
  echo "$1: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
