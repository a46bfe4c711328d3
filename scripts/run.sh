#!/usr/bin/env bash
# Runs the tool on its built-in controller simulator. With a display: builds and starts the
# window, `velmar --simulate`, in build/run (where it keeps com.ini and port.out); extra arguments
# go to velmar, e.g. `bash scripts/run.sh /i` for demo mode. Without a display: says so and shows
# the same work through velmar-cli against velmar-sim on a pseudo-terminal. VELMAR_BUILD_DIR
# names another build folder (default build).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/deps.sh
build=${VELMAR_BUILD_DIR:-build}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  cmake --build "$build" --target velmar -j "$(nproc)" >/dev/null
  mkdir -p "$build/run"
  # Demo mode rewrites its image: give the run its own copy.
  [ -f "$build/run/demo_trk.bin" ] || cp demo_trk.bin "$build/run/"
  cd "$build/run"
  exec ../app/velmar --simulate "$@"
fi

echo "No display (\$DISPLAY is empty): the window cannot be shown here."
echo "Showing the same work through velmar-cli against the controller simulator instead."
cmake --build "$build" --target velmar-sim velmar-cli -j "$(nproc)" >/dev/null
link=$(mktemp -u /tmp/velmar-sim.XXXXXX)
"$build/sim/velmar-sim" --link "$link" --address 1 >/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
for cmd in identify sizes "read ER 3100 3B"; do
  echo "== velmar-cli $cmd"
  # shellcheck disable=SC2086
  "$build/cli/velmar-cli" -p "$link" -b 4800 $cmd
done
