#!/usr/bin/env bash
# The GUI test programs once more on a real X server (Xvfb): offscreen runs never place or size
# a window, so only here do a dialog's size and position count (the on-screen check skips
# itself elsewhere).
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
dir=${VELMAR_BUILD_DIR:-$here/build}
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
  xvfb-run -a -s "-screen 0 1280x1024x24" "$t" --gtest_color=no --gtest_brief=1 || status=1
done
exit $status
