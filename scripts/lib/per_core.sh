# Sourced by the test stages. per_core FUNCTION ITEM...: runs FUNCTION ITEM for each item, one per
# core at a time; returns 1 when any of them failed.
per_core() {
  local run=$1 running=0 failed=0 item
  shift
  for item in "$@"; do
    if ((running >= $(nproc))); then
      wait -n || failed=1
      running=$((running - 1))
    fi
    "$run" "$item" &
    running=$((running + 1))
  done
  while ((running > 0)); do
    wait -n || failed=1
    running=$((running - 1))
  done
  return $failed
}
