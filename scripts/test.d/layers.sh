#!/usr/bin/env bash
# Includes go one way. The core is layered base <- link <- protocol <- data: no folder includes
# one above it, and none of them includes Qt, the window or the simulator. In the window, fields/
# and exchange/ sit below pages/ and dialogs/, and below the files at the top of ui/ (the session,
# the main window) that wire those; a dialog includes no page. Includes name their folder from the top of the tree: a
# relative "../" would slip past these checks. (The build checks the core's layering too: each
# layer links alone against the ones below it.)
set -euo pipefail
cd "$(dirname "$0")/../.."
status=0

# refuse FOLDER WHAT PATTERN [KNOWN...]: fails when a source in FOLDER (or the file FOLDER)
# includes a path that starts with PATTERN (an extended regular expression), but for the KNOWN
# ones ("file:path").
refuse() {
  local folder=$1 what=$2 pattern=$3
  shift 3
  local hits="" line file path known skip
  while IFS= read -r line; do
    [ -n "$line" ] || continue
    file=${line%%:*}
    path=$(sed -E 's/^[^#]*#[[:space:]]*include[[:space:]]*[<"]([^>"]*)[>"].*/\1/' <<<"$line")
    skip=0
    for known in "$@"; do
      [ "$known" = "$file:$path" ] && skip=1
    done
    [ $skip -eq 1 ] || hits+="$line"$'\n'
  done < <(grep -rnHE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]($pattern)" "$folder" \
    --include=*.h --include=*.cpp || true)
  if [ -n "$hits" ]; then
    echo "$folder$([ -d "$folder" ] && echo /) includes $what:"
    printf '%s' "$hits"
    status=1
  fi
}

for folder in base link protocol data ui; do
  refuse "$folder" "by a relative path" '[^>"]*\.\./'
done

refuse base "a folder above it" '(link|protocol|data|ui|app|cli|sim|Q[A-Za-z]+)/'
refuse link "a folder above it" '(protocol|data|ui|app|cli|sim|Q[A-Za-z]+)/'
refuse protocol "a folder above it" '(data|ui|app|cli|sim|Q[A-Za-z]+)/'
refuse data "a folder above it" '(ui|app|cli|sim|Q[A-Za-z]+)/'

above_fields='ui/(pages|dialogs)/|ui/[^/>"]+\.h'
refuse ui/fields "a part of the window above it" "$above_fields"
refuse ui/exchange "a part of the window above it" "$above_fields"
# A dialog and a page share only what lies below both (fields/).
refuse ui/dialogs "a page" 'ui/pages/'
# The session sits above what it wires: pages and dialogs know it, it knows neither of them.
refuse ui/session.h "a page or a dialog" 'ui/(pages|dialogs)/'
refuse ui/session.cpp "a page or a dialog" 'ui/(pages|dialogs)/'

[ $status -eq 0 ] && echo "layers: base <- link <- protocol <- data, fields/ and exchange/ below" \
  "the rest of the window, dialogs/ beside pages/, no relative includes"
exit $status
