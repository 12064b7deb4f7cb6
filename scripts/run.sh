#!/usr/bin/env bash
# Builds Quindelo and starts the window program (build/bin/quindelo). Without
# a display (neither DISPLAY nor WAYLAND_DISPLAY is set) it says so and runs
# the command-line finder's demonstration instead: first the drives it sees,
# then a find for stdio* under C:\usr\include (the drive C: index is built on
# first use and kept current from then on).
# Extra arguments go to quindelo-find instead of the demonstration.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
if (($#)); then
  exec build/bin/quindelo-find "$@"
fi
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  exec build/bin/quindelo
fi
echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): running the command-line finder's demonstration instead of the window."
echo "== Drives"
build/bin/quindelo-find --drives
echo
echo "== quindelo-find --look-in 'C:\\usr\\include' --named 'stdio*'"
build/bin/quindelo-find --look-in 'C:\usr\include' --named 'stdio*' || true
