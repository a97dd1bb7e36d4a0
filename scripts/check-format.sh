#!/usr/bin/env bash
# Fails, listing the differences, when a source file is not formatted as
# .clang-format says. Run by scripts/test.sh before building.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(find src tests bench fuzz -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
clang-format --dry-run -Werror --style=file "${files[@]}"
