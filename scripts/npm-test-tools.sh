#!/usr/bin/env bash
# Installs the npm packages the tests use as independent readers into the
# folder given (the build folder's npm/), pinned. Without the registry it
# says so and leaves the folder without them: the tests that need them skip.
set -uo pipefail
prefix=${1:?usage: npm-test-tools.sh PREFIX}
packages=(mdb-reader@3.2.0)
if [ -f "$prefix/node_modules/mdb-reader/package.json" ] &&
   grep -q '"version": "3.2.0"' "$prefix/node_modules/mdb-reader/package.json"; then
  exit 0
fi
if ! command -v npm >/dev/null; then
  echo "npm-test-tools: npm is missing; the mdb-reader comparisons will skip"
  exit 0
fi
mkdir -p "$prefix"
if ! timeout 300 npm install --no-audit --no-fund --prefix "$prefix" "${packages[@]}" >"$prefix/install.log" 2>&1; then
  echo "npm-test-tools: the npm registry could not be reached; the mdb-reader comparisons will skip"
  tail -5 "$prefix/install.log"
fi
exit 0
