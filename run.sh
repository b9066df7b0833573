#!/usr/bin/env bash
# Installs what is missing, builds, and starts OrviLoop with the given arguments.
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh" "$top/build"
exec "$top/build/orviloop" "$@"
