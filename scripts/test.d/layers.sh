#!/usr/bin/env bash
# The core is layered base <- link <- protocol <- data: no folder includes one above it, and none
# of them includes Qt, the window or the simulator.
set -euo pipefail
cd "$(dirname "$0")/../.."
status=0
check() {
  local folder=$1 forbidden=$2
  local hits
  hits=$(grep -rnE "#include [<\"]($forbidden)/" "$folder" --include=*.h --include=*.cpp || true)
  if [ -n "$hits" ]; then
    echo "$folder/ includes a folder above it:"
    echo "$hits"
    status=1
  fi
}
check base 'link|protocol|data|ui|app|cli|sim|Q[A-Za-z]+'
check link 'protocol|data|ui|app|cli|sim|Q[A-Za-z]+'
check protocol 'data|ui|app|cli|sim|Q[A-Za-z]+'
check data 'ui|app|cli|sim|Q[A-Za-z]+'
[ $status -eq 0 ] && echo "layers: base <- link <- protocol <- data, no folder includes one above it"
exit $status
