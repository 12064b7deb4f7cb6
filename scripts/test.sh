#!/usr/bin/env bash
# Builds Quindelo with its tests and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cd build
ctest --output-on-failure -j2 --timeout 600
