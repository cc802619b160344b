#!/usr/bin/env bash
# The program's layers depend one way: platform <- log <- emulator <- tracking
# <- history <- report <- livesplit <- stream <- app. A file may include headers of its own layer and
# of the layers to its left, never of a layer to its right, nor anything of the
# repository outside the layers (tests, tools, bench). Prints every include that breaks this and
# fails when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

layers=(platform log emulator tracking history report livesplit stream app)
rank() {
  local i
  for i in "${!layers[@]}"; do [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }; done
  echo -1
}

bad=0
for layer in "${layers[@]}"; do
  own=$(rank "$layer")
  while IFS=: read -r file line target; do
    top=${target%%/*}
    [ "$top" = "$target" ] && continue   # a header beside the file, no folder
    to=$(rank "$top")
    if [ "$to" -lt 0 ] || [ "$to" -gt "$own" ]; then
      echo "$file:$line: $layer includes \"$target\", above it or outside the layers"
      bad=1
    fi
  done < <(grep -rnoE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]+"' --include='*.h' --include='*.cpp' "$layer" |
           sed -E 's/^([^:]+):([0-9]+):.*"([^"]+)"$/\1:\2:\3/')
done
if [ "$bad" -ne 0 ]; then
  echo "includes must point down the stack: ${layers[*]}"
  exit 1
fi
echo "includes point down the stack: ${layers[*]}"
