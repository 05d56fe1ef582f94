# SPDX-License-Identifier: Apache-2.0
# Sourced by the end-to-end scripts of vidange: one line per check, and a
# closing count. `check DESCRIPTION EXPECTED ACTUAL` compares two texts;
# `end_checks` prints "N passed, N failed" and fails when any did.
failures=0
passes=0
check() {
  if [ "$2" == "$3" ]; then
    echo "ok: $1"; passes=$((passes + 1))
  else
    echo "FAILED: $1"; echo "  expected: $2"; echo "  actual:   $3"; failures=$((failures + 1))
  fi
}
end_checks() {
  echo "$passes passed, $failures failed"
  [ "$failures" -eq 0 ]
}
