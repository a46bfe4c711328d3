#!/usr/bin/env bash
# Runs the tool's main job on the built-in controller simulator: starts velmar-sim on a
# pseudo-terminal and lets velmar-cli identify the controller and read its parameter block.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/deps.sh
bash scripts/build.sh build >/dev/null
link=$(mktemp -u /tmp/velmar-sim.XXXXXX)
./build/sim/velmar-sim --link "$link" --address 1 >/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
for cmd in identify sizes "read ER 3100 3B"; do
  echo "== velmar-cli $cmd"
  # shellcheck disable=SC2086
  ./build/cli/velmar-cli -p "$link" -b 4800 $cmd
done
