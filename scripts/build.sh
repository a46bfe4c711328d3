#!/usr/bin/env bash
# build.sh DIR [cmake options...] [-- targets...]: configures DIR and builds the targets named
# after "--" (everything without them). The options given are applied again to an existing
# build tree, so a later run with other options takes effect.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
options=()
targets=()
while (($#)); do
  if [ "$1" = -- ]; then
    shift
    targets=("$@")
    break
  fi
  options+=("$1")
  shift
done
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >/dev/null
elif ((${#options[@]})); then
  cmake -S "$here" -B "$dir" "${options[@]}" >/dev/null
fi
if ((${#targets[@]})); then
  cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}"
else
  cmake --build "$dir" -j "$(nproc)"
fi
