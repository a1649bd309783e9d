#!/bin/sh
# Checks that includes in src/ run only downward (driver > report > jobs,
# cache > walk, audit, rebuild > dat > zip, archive, catalogue > base; jobs
# and cache include none of each other, nor walk, audit and rebuild, nor zip,
# archive and catalogue, nor anything above them) and that no header
# includes itself through others.
# Usage: tools/check-includes.sh
set -eu
cd "$(dirname "$0")/.."

level() {
  case "$1" in
    driver) echo 6 ;;
    report) echo 5 ;;
    jobs | cache) echo 4 ;;
    walk | audit | rebuild) echo 3 ;;
    dat) echo 2 ;;
    zip | archive | catalogue) echo 1 ;;
    base) echo 0 ;;
    *) echo 0 ;;
  esac
}

failed=0
edges=$(mktemp)
trap 'rm -f "$edges"' EXIT

for file in $(find src -name '*.h' -o -name '*.cpp' | sort); do
  from_folder=$(basename "$(dirname "$file")")
  from_level=$(level "$from_folder")
  from=${file#src/}
  for included in $(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file"); do
    to_folder=${included%%/*}
    echo "$from $included" >>"$edges"
    [ "$to_folder" = "$from_folder" ] && continue
    if [ "$(level "$to_folder")" -ge "$from_level" ]; then
      echo "upward or sideways include: $file includes $included"
      failed=1
    fi
  done
done

if ! tsort "$edges" >/dev/null 2>"$edges.loop"; then
  echo "include circle:"
  cat "$edges.loop"
  failed=1
fi
rm -f "$edges.loop"
exit $failed
