#!/usr/bin/env bash
# The GUI tests that need a real X server, on Xvfb: offscreen runs never place or size a window,
# so only here do a dialog's size and position count (those checks skip themselves elsewhere).
# The tests the last ctest run of the build reported as skipped (its gtest XML in test-results/)
# run here; a program without results, or every program with VELMAR_XCB_ALL=1, runs whole.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
dir=${VELMAR_BUILD_DIR:-$here/build}
results=$dir/test-results
programs=()
for t in "$dir"/tests/test_gui*; do
  [ -f "$t" ] && [ -x "$t" ] && programs+=("$t")
done
if [ ${#programs[@]} -eq 0 ]; then
  echo "no GUI test programs in $dir/tests" >&2
  exit 1
fi
export QT_QPA_PLATFORM=xcb VELMAR_SOURCE_DIR="$here" VELMAR_BINARY_DIR="$dir"
status=0
for t in "${programs[@]}"; do
  area=${t##*/test_}
  filter='*'
  xml=()
  for f in "$results/$area".xml "$results/$area"-*of*.xml; do
    [ -f "$f" ] && xml+=("$f")
  done
  if [ "${VELMAR_XCB_ALL:-0}" != 1 ] && ((${#xml[@]})); then
    filter=$({ grep -h '<testcase .*result="skipped"' "${xml[@]}" || true; } |
      sed -E 's/^ *<testcase name="([^"]*)".* classname="([^"]*)".*/\2.\1/' | paste -sd: -)
    if [ -z "$filter" ]; then
      echo "-- $area: no test needs a real window system"
      continue
    fi
  fi
  echo "-- $area: $filter"
  xvfb-run -a -s "-screen 0 1280x1024x24" "$t" --gtest_color=no --gtest_brief=1 \
    --gtest_filter="$filter" || status=1
done
exit $status
