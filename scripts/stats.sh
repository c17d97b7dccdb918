#!/usr/bin/env bash
# Prints the non-blank lines of the tracked sources: production, tests, and
# the tests' share of the total. Tests are files under tests/, files named
# *_test.* or *_tests.*, and anything in a fuzz/ folder.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files | awk '
  /(\.(c|cc|cpp|cxx|h|hh|hpp|inl|rc|def|cmake|sh|py)|(^|\/)CMakeLists\.txt)$/ {
    file = $0
    test = (file ~ /^tests\// || file ~ /(^|\/)fuzz\// || file ~ /_tests?\.[^\/]*$/)
    while ((getline line < file) > 0)
      if (line ~ /[^[:space:]]/) { if (test) t++; else p++ }
    close(file)
  }
  END { printf "production %d\ntests %d\nshare %.1f%%\n", p, t, (p + t) ? 100 * t / (p + t) : 0 }'
