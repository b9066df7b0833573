#!/usr/bin/env bash
# Fails when a C++ source is not laid out as the committed .clang-format says.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
find app core media gui tests bench tools -name '*.cpp' -o -name '*.h' |
  sort | xargs clang-format --dry-run --Werror
