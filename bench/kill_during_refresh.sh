#!/usr/bin/env bash
# What a kill -9 in the middle of building or refreshing an index costs at
# the next open.
#
#   bench/kill_during_refresh.sh [--finder PATH] [--runs N] [--tree DIR]
#
# Without --tree the script uses (and the first time generates) a tree of
# about 200,000 files in 2,200 folders at /tmp/quindelo-kill-tree, mapped as
# drive T:. With --tree DIR that folder is the drive (--tree / takes the whole
# root file system; other programs that change files meanwhile then show up
# as differences in (b)); only a generated tree is changed between runs.
#
# Each run starts the finder in the background, in turn
#   - with --rebuild (a first build, the heaviest writer), or
#   - with --refresh after every folder's modification time was moved and a
#     file was added to 50 folders (every folder is listed again and its
#     record rewritten),
# kills it with SIGKILL at a random moment of its measured duration, and then
# runs a plain find of *.c, counting
#   (a) next opens that rebuilt the index from scratch: the index file left
#       by the kill is hard-linked aside, so a rebuild (which deletes the file
#       and creates another) shows as another inode;
#   (b) next finds whose answer equals find(1)'s for the same pattern;
# and the mean time of those next finds (a rebuild makes them slow).
set -euo pipefail
cd "$(dirname "$0")/.."

finder=build/bin/quindelo-find
runs=50
tree=""
while (($#)); do
  case "$1" in
    --finder) finder=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --tree) tree=$2; shift 2 ;;
    *) echo "usage: $0 [--finder PATH] [--runs N] [--tree DIR]" >&2; exit 2 ;;
  esac
done
[ -x "$finder" ] || { echo "no finder at $finder (build it first)" >&2; exit 2; }
finder=$(realpath "$finder")

work=$(mktemp -d /tmp/quindelo-kill-XXXXXX)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
index="$XDG_DATA_HOME/Pemblet Software/Quindelo/Data/DriveT.idx"

if [ -z "$tree" ]; then
  tree=/tmp/quindelo-kill-tree
  if [ ! -e "$tree/.generated" ]; then
    echo "generating the tree..." >&2
    rm -rf "$tree"
    for a in $(seq -w 0 199); do
      for b in $(seq 0 9); do
        d="$tree/d$a/s$b"
        mkdir -p "$d"
        (cd "$d" && touch f{00..44}.c f{00..44}.h n{00..9}.txt)
      done
    done
    touch "$tree/.generated"
  fi
fi
generated=0
[ -e "$tree/.generated" ] && generated=1
tree=$(realpath "$tree")

# Every path, whatever the finder's version calls its "no cap" option.
limit=""
"$finder" --help 2>&1 | grep -q -- '--no-limit' && limit="--no-limit"
find_args=(--drive "T=$tree" --look-in T: --quiet)

# (Either may end with a nonzero status: a file that vanished, nothing found.)
expected() { { find "$tree" -xdev -name '*.c' 2>/dev/null || true; } | LC_ALL=C sort; }
answer() { { "$finder" "${find_args[@]}" --named '*.c' --native $limit 2>/dev/null || true; } | LC_ALL=C sort; }

prepare_refresh() {
  # New stamps for every folder, and 50 new files that the refresh must add.
  local stamp
  stamp=$(date -d "@$(( $(date +%s) - RANDOM * 10 ))" +%Y%m%d%H%M.%S)
  find "$tree" -xdev -type d -print0 2>/dev/null | xargs -0 touch -m -t "$stamp" 2>/dev/null || true
  local i
  for i in $(seq 1 50); do
    touch "$tree/d$(printf %03d $((RANDOM % 200)))/s$((RANDOM % 10))/new$RANDOM.c" 2>/dev/null || true
  done
}

run_timed() {  # seconds (with 2 decimals) that the given finder run takes
  local start end
  start=$(date +%s%N)
  "$finder" "${find_args[@]}" --named zz-no-such-name "$@" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  echo $(( (end - start) / 10000000 ))
}

echo "first build..." >&2
rebuild_cs=$(run_timed --rebuild)
[ "$generated" = 1 ] && prepare_refresh
refresh_cs=$(run_timed --refresh)
printf 'rebuild takes %d.%02d s, refresh after changes %d.%02d s\n' \
  $((rebuild_cs / 100)) $((rebuild_cs % 100)) $((refresh_cs / 100)) $((refresh_cs % 100)) >&2

rebuilt=0 equal=0 missing=0 next_cs=0
for run in $(seq 1 "$runs"); do
  if ((run % 2)); then
    mode=--rebuild; span=$rebuild_cs
  else
    mode=--refresh; span=$refresh_cs
    [ "$generated" = 1 ] && prepare_refresh
  fi
  ((span > 0)) || span=1
  delay_cs=$(( (RANDOM * 32768 + RANDOM) % span ))
  "$finder" "${find_args[@]}" --named zz-no-such-name "$mode" >/dev/null 2>&1 &
  pid=$!
  sleep "$((delay_cs / 100)).$(printf %02d $((delay_cs % 100)))"
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true

  rm -f "$work/left-by-kill"
  if [ -e "$index" ]; then ln "$index" "$work/left-by-kill"; else ((missing += 1)); fi
  start=$(date +%s%N)
  got=$(answer)
  next_cs=$(( next_cs + ($(date +%s%N) - start) / 10000000 ))
  want=$(expected)
  verdict="equal"
  if [ "$got" == "$want" ]; then ((equal += 1)); else verdict="DIFFERENT ($(diff <(echo "$got") <(echo "$want") | grep -c '^[<>]' || true) lines)"; fi
  opened="kept"
  if [ -e "$work/left-by-kill" ] && [ "$(stat -c %i "$index")" != "$(stat -c %i "$work/left-by-kill")" ]; then
    ((rebuilt += 1)); opened="REBUILT"
  fi
  [ -e "$work/left-by-kill" ] || opened="no index file after the kill"
  printf 'run %2d: %-9s killed after %4d.%02d s of %d.%02d s; next open: %s; next find: %s\n' \
    "$run" "$mode" $((delay_cs / 100)) $((delay_cs % 100)) $((span / 100)) $((span % 100)) "$opened" "$verdict"
done
echo "finder: $finder"
mean_cs=$(( next_cs / runs ))
echo "runs: $runs; next opens that rebuilt an existing index from scratch: $rebuilt;" \
     "kills that left no index file: $missing; next finds equal to find(1): $equal of $runs;" \
     "mean time of the next find: $((mean_cs / 100)).$(printf %02d $((mean_cs % 100))) s"
