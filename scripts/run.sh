#!/usr/bin/env bash
# Builds Quindelo and runs the command-line finder: first the drives it
# sees, then a find for stdio* under C:\usr\include (the drive C: index is
# built on first use and kept current from then on).
# Extra arguments go to quindelo-find instead of the demonstration.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
if (($#)); then
  exec build/bin/quindelo-find "$@"
fi
echo "== Drives"
build/bin/quindelo-find --drives
echo
echo "== quindelo-find --look-in 'C:\\usr\\include' --named 'stdio*'"
build/bin/quindelo-find --look-in 'C:\usr\include' --named 'stdio*' || true
