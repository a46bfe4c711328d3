#!/usr/bin/env bash
# Builds and runs every test: the normal build, the AddressSanitizer + UndefinedBehaviorSanitizer
# build, then the extra runs in scripts/test.d (thread sanitizer, short fuzzing, the package, the
# window on a real X server). Tests never share the machine with a build: many of them time the
# line, and a loaded machine makes them fail for no fault of the program. Each stage prints its
# wall and CPU time.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
export QT_QPA_PLATFORM=offscreen
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
status=0

# Seconds of CPU (user + system) the finished children of this shell have used.
children_cpu() {
  times >"$logs/times.$BASHPID"
  awk 'NR == 2 {
    total = 0
    for (i = 1; i <= 2; i++) { split($i, t, /[ms]/); total += t[1] * 60 + t[2] }
    printf "%.0f", total }' "$logs/times.$BASHPID"
}

# stage NAME COMMAND...: runs COMMAND in a subshell and reports its wall and CPU time.
stage_body() {
  local name=$1; shift
  local start=$SECONDS rc=0
  "$@" || rc=$?
  # Not in $(...): a command substitution's shell has no finished children of its own.
  local cpu_file=$logs/cpu.$BASHPID
  children_cpu >"$cpu_file"
  echo "== $name: $((SECONDS - start))s wall, $(cat "$cpu_file")s CPU$([ $rc -eq 0 ] || echo ", FAILED ($rc)")"
  return $rc
}
stage() {
  echo "== $1 (at ${SECONDS}s)"
  (stage_body "$@") || status=1
}

# The tests mostly wait on their lines (a whole run keeps the processors a few percent busy), so
# three run per core: each still takes as long as it does alone, and the run a third of the time.
tests_at_once=$((3 * $(nproc)))
# The results of this run only: xcb.sh reads from them which tests need a real window system.
ctest_in() {
  rm -rf "$1/test-results"
  (cd "$1" && ctest --output-on-failure -j "$tests_at_once")
}
asan_ctest() {
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest_in build-asan
}

stage deps bash scripts/deps.sh
stage "build (RelWithDebInfo)" bash scripts/build.sh build
stage "tests (RelWithDebInfo)" ctest_in build
# Only what the tests run is built with the sanitizers; line tables are enough for their reports.
stage "build (AddressSanitizer + UndefinedBehaviorSanitizer)" \
  bash scripts/build.sh build-asan -DVELMAR_SANITIZE=ON -DVELMAR_DEBUG_LEVEL=1 -- velmar_tests
stage "tests (AddressSanitizer + UndefinedBehaviorSanitizer)" asan_ctest
for extra in scripts/test.d/*.sh; do
  [ -e "$extra" ] || continue
  stage "$(basename "$extra")" bash "$extra"
done
children_cpu >"$logs/cpu.total"
echo "== all done in ${SECONDS}s, $(cat "$logs/cpu.total")s CPU"
exit $status
