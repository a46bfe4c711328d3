#!/usr/bin/env bash
# Builds and runs every test: the normal build, the AddressSanitizer + UndefinedBehaviorSanitizer
# build, then the extra runs in scripts/test.d (thread sanitizer, short fuzzing).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/deps.sh
export QT_QPA_PLATFORM=offscreen
status=0

echo "== build and test (RelWithDebInfo)"
bash scripts/build.sh build
(cd build && ctest --output-on-failure -j 2) || status=1

echo "== build and test (AddressSanitizer + UndefinedBehaviorSanitizer) (at ${SECONDS}s)"
bash scripts/build.sh build-asan -DVELMAR_SANITIZE=ON
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j 2) || status=1

for extra in scripts/test.d/*.sh; do
  [ -e "$extra" ] || continue
  echo "== $(basename "$extra") (at ${SECONDS}s)"
  bash "$extra" || status=1
done
echo "== all done in ${SECONDS}s"
exit $status
