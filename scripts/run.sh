#!/usr/bin/env bash
# Builds Quindelo and runs the command-line finder: first the drives it
# sees, then a find over the drive C: index (built on first use).
# Extra arguments go to quindelo-find instead of the demonstration.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
if (($#)); then
  exec build/bin/quindelo-find "$@"
fi
echo "== Drives =="
build/bin/quindelo-find --drives
