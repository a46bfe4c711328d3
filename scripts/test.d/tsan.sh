#!/usr/bin/env bash
# ThreadSanitizer run of the port layer and converter tests: the converter pump shares the
# rings and its pause handshake with the caller's thread without locks.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
dir=${VELMAR_TSAN_DIR:-$here/build-tsan}
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELMAR_TSAN=ON -DVELMAR_GUI=OFF >/dev/null
fi
cmake --build "$dir" --target test_link test_usb velmar_fakeusb -j "$(nproc)"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
status=0
"$dir/tests/test_link" --gtest_color=no || status=1
"$dir/tests/test_usb" --gtest_color=no || status=1
exit $status
