#!/usr/bin/env bash
# Sets up what is missing, builds Lumora and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target lumora lumora_resources
exec build/lumora "$@"
