#!/usr/bin/env bash
# Fails when a source file includes a header of a layer above its own.
# Includes run one way:
#   platform <- mail <- base <- archive, pack, transfer <- engine
#            <- updatemodule <- host <- cli, launcher
# archive, pack and transfer are siblings: none of them includes another.
# The publisher (tools/publish) may use every layer up to the engine.
# Also fails when a file outside src/platform/ includes an operating-system
# header, so that a second platform is added by adding files there.
set -euo pipefail
cd "$(dirname "$0")/.."

rank() {  # folder -> layer number ("" for folders this script does not know)
  case $1 in
    platform) echo 0 ;; mail) echo 1 ;; base) echo 2 ;;
    archive | pack | transfer) echo 3 ;; engine) echo 4 ;;
    updatemodule) echo 5 ;; host) echo 6 ;; cli | launcher | publish) echo 7 ;;
    *) echo "" ;;
  esac
}

fail=0
while IFS= read -r file; do
  case $file in
    tools/publish/*) own=publish; ceiling=4 ;;
    src/*) own=$(echo "$file" | cut -d/ -f2); ceiling="" ;;
    *) continue ;;
  esac
  own_rank=$(rank "$own")
  [ -n "$own_rank" ] || { echo "check-layers: $file: folder '$own' has no layer"; fail=1; continue; }
  [ -n "$ceiling" ] || ceiling=$own_rank
  while IFS= read -r inc; do
    dir=${inc%%/*}
    [ "$dir" = "$own" ] && continue
    r=$(rank "$dir")
    [ -n "$r" ] || continue
    if [ "$r" -gt "$ceiling" ] || { [ "$r" -eq "$own_rank" ] && [ "$own" != publish ]; }; then
      echo "check-layers: $file includes $inc (layer $dir is not below $own)"
      fail=1
    fi
  done < <(sed -n -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]+"([a-z]+\/[^"]+)".*/\1/p' "$file")
  if [ "$own" != platform ] &&
    grep -n -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*<(unistd|fcntl|dirent|strings|pthread|signal|termios|windows|io)\.h>|<sys/' "$file"; then
    echo "check-layers: $file includes an operating-system header (only src/platform/ may)"
    fail=1
  fi
done < <(git ls-files 'src/*.cpp' 'src/*.h' 'tools/publish/*.cpp' 'tools/publish/*.h')

[ "$fail" = 0 ] && echo "check-layers: every include runs down"
exit "$fail"
