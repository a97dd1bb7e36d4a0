#!/usr/bin/env bash
# The Access write-back under stress, for a run by hand: a writer killed at
# random moments, and 2 and 5 lumora-sql writers at once, ROUNDS rounds
# each (the test suite runs a few). Prints the figures the suite logs.
#   scripts/mdb-stress.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
rounds=${2:-200}
export LUMORA_TEST_DATA="$here/tests/data" LUMORA_TEST_SOURCES="$here/tests" LUMORA_NPM="$build/npm"
export LUMORA_CRASH_ROUNDS=$rounds LUMORA_CONCURRENT_ROUNDS=$rounds QT_QPA_PLATFORM=offscreen
cmake --build "$build" --target tst_mdbwritebackcrash writeback_child lumora-sql >/dev/null
"$here/scripts/npm-test-tools.sh" "$build/npm"
"$build/tst_mdbwritebackcrash" killedWriterLeavesDatabaseReadable concurrentWritersLoseNothing |
  grep -E 'QINFO|FAIL|Totals'
