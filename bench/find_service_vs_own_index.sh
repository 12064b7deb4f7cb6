#!/usr/bin/env bash
# Wall time of the same finds answered by a live `quindelo-find --serve` and
# by the finder opening the index itself (--no-server), over one folder tree
# (default /usr) made drive Q: of a settings, data and runtime folder of the
# script's own: RUNS timed runs of each find (default 10), in milliseconds,
# the first tree walk left out. Both answers are checked to be the same.
#
#   bench/find_service_vs_own_index.sh [TREE]   (after scripts/setup.sh built build/)
set -euo pipefail
cd "$(dirname "$0")/.."
tree=$(realpath "${1:-/usr}")
finder=${QUINDELO_FIND:-$PWD/build/bin/quindelo-find}
runs=${RUNS:-10}
work=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill -TERM "$server" 2>/dev/null && wait "$server" || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -m 0700 "$work/run"
export XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
drive=(--drive "Q=$tree")
finds=("--named stdio.h" "--named *.h" "--named *.txt --containing zlib")

ms_runs() {
  local line="" start end
  for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    "$finder" "${drive[@]}" --look-in Q: --quiet "$@" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    line+=" $(((end - start) / 1000000))"
  done
  echo "$line"
}

echo "building the index of $tree ..."
"$finder" "${drive[@]}" --no-server --look-in Q: --named nothing-like-this --quiet || true
declare -A alone
for find in "${finds[@]}"; do
  read -r -a words <<<"$find"
  alone[$find]=$("$finder" "${drive[@]}" --no-server --look-in Q: --quiet "${words[@]}" | md5sum)
  echo "--no-server $find:$(ms_runs --no-server "${words[@]}") ms"
done

"$finder" "${drive[@]}" --serve 2>"$work/serve.txt" &
server=$!
for _ in $(seq 600); do grep -q serving "$work/serve.txt" && break; sleep 0.1; done
"$finder" "${drive[@]}" --look-in Q: --named warm-up --quiet >/dev/null 2>&1 || true
for find in "${finds[@]}"; do
  read -r -a words <<<"$find"
  served=$("$finder" "${drive[@]}" --look-in Q: --quiet "${words[@]}" | md5sum)
  [ "$served" = "${alone[$find]}" ] || echo "DIFFERENT ANSWER: $find"
  echo "via --serve $find:$(ms_runs "${words[@]}") ms"
done
