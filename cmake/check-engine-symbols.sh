#!/usr/bin/env bash
# Usage: check-engine-symbols.sh ENGINE.a SHARED_LIBRARY...
# Fails, naming them, when the static library needs a symbol that one of the
# shared libraries defines: the engine must link without a window or camera.
set -euo pipefail
archive=$1
shift
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

nm -u "$archive" | awk '$1 == "U" { print $2 }' | sort -u > "$tmp/needed"
for lib in "$@"; do
  nm -D --defined-only "$lib" | awk 'NF == 3 { sub(/@.*/, "", $3); print $3 }'
done | sort -u > "$tmp/forbidden"

# An empty list means nm read nothing, not that all is well.
if [ ! -s "$tmp/needed" ] || [ ! -s "$tmp/forbidden" ]; then
  echo "no symbols read from $archive or from $*" >&2
  exit 2
fi
comm -12 "$tmp/needed" "$tmp/forbidden" > "$tmp/found"
if [ -s "$tmp/found" ]; then
  echo "$(basename "$archive") needs symbols of these libraries ($(basename -a "$@" | tr '\n' ' ')):" >&2
  c++filt < "$tmp/found" >&2
  exit 1
fi
echo "$(basename "$archive"): $(wc -l < "$tmp/needed") symbols needed, none from $#" \
  "window or camera libraries"
