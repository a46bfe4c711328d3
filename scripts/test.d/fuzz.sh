#!/usr/bin/env bash
# A short libFuzzer run of every fuzz target (image files, the demo image backend, com.ini, the
# field entry rules): each starts from its seeds in fuzz/seeds and runs for
# VELMAR_FUZZ_SECONDS (30) seconds. Needs clang; skipped without it.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
if ! command -v clang++ >/dev/null; then
  echo "clang++ not found: fuzz run skipped"
  exit 0
fi
dir=${VELMAR_FUZZ_DIR:-$here/build-fuzz}
seconds=${VELMAR_FUZZ_SECONDS:-30}
if [ ! -f "$dir/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELMAR_FUZZ=ON -DVELMAR_GUI=OFF >/dev/null
fi
cmake --build "$dir" --target fuzz_all -j "$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
# One fuzz target per core at a time; each writes its own log, printed when it ends.
fuzz() {
  local target=$1 name seeds extra=()
  name=$(basename "$target")
  seeds="$here/fuzz/seeds/${name#fuzz_}"
  mkdir -p "$work/$name/corpus" "$work/$name/artifacts"
  # Image files are refused above the 18432-byte image buffer: let inputs grow past it.
  [ "$name" = fuzz_image_file ] && extra=(-max_len=19000)
  # A fixed seed keeps the run repeatable from one CI run to the next.
  if ! "$target" -seed=1 -max_total_time="$seconds" -print_final_stats=1 "${extra[@]}" \
      -artifact_prefix="$work/$name/artifacts/" "$work/$name/corpus" "$seeds" \
      >"$work/$name/log" 2>&1; then
    echo "-- $name (${seconds}s): FAILED"
    tail -n 40 "$work/$name/log"
    for a in "$work/$name"/artifacts/*; do
      [ -e "$a" ] && echo "input: $(base64 -w0 "$a")"
    done
    return 1
  fi
  echo "-- $name (${seconds}s)"
  grep -E '^stat::number_of_executed_units|^Done' "$work/$name/log" || true
}
targets=()
for target in "$dir"/fuzz/fuzz_*; do
  if [ -x "$target" ]; then targets+=("$target"); fi
done
source "$here/scripts/lib/per_core.sh"
per_core fuzz "${targets[@]}" || status=1
exit $status
