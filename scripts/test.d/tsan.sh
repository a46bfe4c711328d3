#!/usr/bin/env bash
# ThreadSanitizer runs: the port layer and converter tests (the converter pump shares the rings
# and its pause handshake with the caller's thread without locks), the two lines that run side by
# side on two threads (test_protocol's LineContextTest), and the window's tests, whose exchanges
# run on the exchange thread. Qt itself is not instrumented: tests/tsan_qt.supp keeps
# its internals out of the reports.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
dir=${VELMAR_TSAN_DIR:-$here/build-tsan}
# Line tables are enough for the reports, and much cheaper to build than full debug information.
bash "$here/scripts/build.sh" "$dir" -DVELMAR_TSAN=ON -DVELMAR_DEBUG_LEVEL=1 \
  -- test_link test_usb test_protocol test_gui test_builders velmar_fakeusb
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$here/tests/tsan_qt.supp ${TSAN_OPTIONS:-}"
export QT_QPA_PLATFORM=offscreen VELMAR_SOURCE_DIR="$here" VELMAR_BINARY_DIR="$dir"
status=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The programs mostly wait on the line: one per core at a time, each output printed as it ends.
run() {
  local t=$1 filter='*' rc=0
  # The seeded walk through the window runs once here; the other builds run every seed.
  [ "$t" = test_gui ] && filter='-Seeds/SeededWalk.*/1:Seeds/SeededWalk.*/2'
  # The other protocol tests run one line on one thread: the other builds cover them.
  [ "$t" = test_protocol ] && filter='LineContextTest.*'
  "$dir/tests/$t" --gtest_color=no --gtest_brief=1 --gtest_filter="$filter" >"$work/$t" 2>&1 ||
    rc=$?
  echo "-- $t$([ $rc -eq 0 ] || echo ": FAILED ($rc)")"
  cat "$work/$t"
  return $rc
}
source "$here/scripts/lib/per_core.sh"
per_core run test_link test_usb test_protocol test_gui test_builders || status=1
exit $status
