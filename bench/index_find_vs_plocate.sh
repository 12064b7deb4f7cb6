#!/usr/bin/env bash
# Index-only finds against plocate on one folder tree, side by side in one
# hyperfine run per find: a rare name and *.txt, with the result counts and
# the peak memory of each.
#
#   bench/index_find_vs_plocate.sh TREE [RARE]   (after scripts/setup.sh built build/)
#
# TREE is any folder (a synthetic tree of 100,000 or 1,000,000 names, say);
# it becomes drive Q: of a settings folder of the script's own, and plocate
# gets a database of the same tree (updatedb -U TREE). RARE defaults to
# _4211. Set QUINDELO_FIND to compare another build, RUNS for the number of
# runs (default 20), and PREFIX to run every command under, for example,
# "chrt -f 10" on a machine busy with other work.
set -euo pipefail
cd "$(dirname "$0")/.."
tree=$(realpath "${1:?usage: $0 TREE [RARE]}")
rare=${2:-_4211}
find_bin=${QUINDELO_FIND:-$PWD/build/bin/quindelo-find}
runs=${RUNS:-20}
for p in hyperfine plocate updatedb /usr/bin/time; do
  command -v "$p" >/dev/null || { echo "$0: needs $p (apt-get install $p)" >&2; exit 2; }
done

work=$(mktemp -d /tmp/quindelo-find-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
db="$work/plocate.db"
updatedb -U "$tree" -o "$db" --require-visibility no --prunepaths "" --prunenames ""
Q="$find_bin --quiet --drive Q=$tree --look-in Q: --index-only"
# The index is built by a find that is not index-only (the first open lists
# the drive).
"$find_bin" --quiet --drive "Q=$tree" --look-in Q: --named quindelo-no-such-name >/dev/null || true

for named in "$rare" '*.txt'; do
  ${PREFIX:-} hyperfine -N --style basic --warmup 3 --runs "$runs" \
    -n "quindelo $named" "$Q --named $named" \
    -n "plocate $named" "plocate -d $db -i -b $named"
  printf '  results: quindelo %s, plocate %s\n' "$($Q --named "$named" | wc -l)" \
    "$(plocate -d "$db" -i -b "$named" | wc -l)"
  printf '  peak memory (KB): quindelo %s, plocate %s\n' \
    "$( { /usr/bin/time -f %M $Q --named "$named" >/dev/null; } 2>&1 | tail -1)" \
    "$( { /usr/bin/time -f %M plocate -d "$db" -i -b "$named" >/dev/null; } 2>&1 | tail -1)"
done
