#!/usr/bin/env bash
# Runs the dBase lock race of tst_dbf for many rounds: another process takes
# the table's lock, moves records (swaps, appends, deletes, packs, changes
# the fields) and lets go while an update waits for the lock; each round
# checks that the photo name went to the right student or nowhere, and that
# no other byte changed. ROUNDS (default 200) per way of moving records,
# the lock held for a random time up to 1.5 s.
#
# Usage: scripts/dbf-lock-race.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
rounds=${2:-200}
# The rounds of one way take longer than the test library lets a function run.
QTEST_FUNCTION_TIMEOUT=86400000 LUMORA_TEST_DATA=$root/tests/data LUMORA_DBF_RACE_ROUNDS=$rounds \
  exec "$build/tst_dbf" updateMatchesWhatAnotherProgramLeft
