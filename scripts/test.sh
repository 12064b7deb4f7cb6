#!/usr/bin/env bash
# Builds Quindelo with its tests and runs every test. Extra arguments go to
# cmake (e.g. -DQUINDELO_WERROR=ON).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh "$@"
cd build
ctest --output-on-failure -j2 --timeout 600
