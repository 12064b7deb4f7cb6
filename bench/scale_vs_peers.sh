#!/usr/bin/env bash
# How the drive index scales: synthetic trees of growing size, each measured
# side by side with updatedb + plocate, fd and find in one run.
#
#   bench/scale_vs_peers.sh [NAMES ...]       (default: 100000 1000000 3000000)
#
# Environment: RUNS (hyperfine runs per command; default 5, 3 from 2,000,000
# names up), SEED (tree generator seed, default 1), BENCH_DIR (where the work
# folder goes; default $TMPDIR or /tmp), QFLAGS (extra options for every
# quindelo-find command, e.g. QFLAGS='--sort none').
#
# Per size, bench/make_tree.py makes a tree of NAMES names (about 20 a
# folder, one in 20 a folder, depths up to 12, plus the rare names
# "zephyrine_notes.md" three times and "Zephyrine_Draft.TXT" once) in a
# mktemp folder, after checking the free space and inodes there; the tree and
# every index go when the script ends. The tree is drive Q: of the finder,
# with a settings file and index of its own (private XDG_CONFIG_HOME and
# XDG_DATA_HOME). Wall times come from hyperfine with a warm cache:
#   1. first build: quindelo-find --rebuild against updatedb into an empty
#      database (removed before each run), a full fdfind walk and find;
#   2. refresh with nothing changed: a plain quindelo-find (no --rebuild, no
#      --refresh). Each process start opens the index and runs one refresh
#      walk that checks every folder's stamp and lists again only folders
#      whose stamp changed (--refresh would list every folder again, which is
#      a forced relisting, not a refresh). Against updatedb run again on its
#      existing database (its own incremental update) and the first build;
#   3. the same refresh after 1% of the folders were touched (a file created
#      and deleted in each, by hyperfine --prepare before every run);
#   4. finds from the index alone (--index-only) of the rare name
#      "zephyrine" and of *.txt, against plocate -i -b with the same pattern
#      (both case-insensitive; a pattern without wildcards matches any part
#      of a name in both, one with wildcards the whole name);
#   5. the same finds with the refresh (current with the disk) against
#      fdfind -H -I -i and find -iname;
#   6. the live rows: a `quindelo-find --serve` of the tree, watched; the
#      current find of the rare name asked of it from the command line, with
#      a new matching file made just before each run (hyperfine --prepare),
#      against fd's current find; then 100 finds each of a name made just
#      before it, counted right when the answer is exactly that file; and the
#      live process's resident memory and the name index file's size.
# Peak memory is /usr/bin/time's maximum resident set size of one more run of
# each command. The answers of every finder are then compared with find's
# (sorted path lists; quindelo-find prints native paths with --native): equal,
# or DIFFERS with counts. A difference is reported, never fatal.
set -euo pipefail
cd "$(dirname "$0")/.."

sizes=("$@")
((${#sizes[@]})) || sizes=(100000 1000000 3000000)
for n in "${sizes[@]}"; do
  [[ "$n" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [NAMES ...] (whole numbers, e.g. 100000)" >&2; exit 2; }
done

need=()
for p in hyperfine plocate fd-find time python3; do dpkg -s "$p" >/dev/null 2>&1 || need+=("$p"); done
if ((${#need[@]})); then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}"
fi
[ -x build/bin/quindelo-find ] || scripts/setup.sh
finder=$(realpath build/bin/quindelo-find)
make_tree=$(realpath bench/make_tree.py)

base=${BENCH_DIR:-${TMPDIR:-/tmp}}
work=$(mktemp -d "$base/quindelo-scale-XXXXXX")
trap 'exit 130' INT TERM  # so that the EXIT trap removes the tree
work=$(realpath "$work")
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run"
mkdir -m 0700 "$work/run"
server=""
stop_server() {
  if [ -n "$server" ]; then kill -TERM "$server" 2>/dev/null; wait "$server" 2>/dev/null || true; fi
  server=""
}
trap 'stop_server; rm -rf "$work"' EXIT

tree="$work/tree"
db="$work/plocate.db"
qtree=$(printf %q "$tree")
qdb=$(printf %q "$db")
# Command lines as text, for hyperfine and for eval (paths quoted with %q).
Q="$(printf %q "$finder") --drive Q=$qtree --look-in Q: --quiet ${QFLAGS:-}"
# shellcheck disable=SC2089  # the quotes are meant for eval and hyperfine's shell
UPDATEDB="updatedb -U $qtree -o $qdb --require-visibility no --prune-bind-mounts no --prunefs '' --prunenames '' --prunepaths ''"
RARE=zephyrine

# Creates and deletes one file in each folder listed in the file given.
cat >"$work/touch.py" <<'PY'
import os, sys
for d in open(sys.argv[1]).read().splitlines():
    p = os.path.join(d, ".quindelo-bench-touch")
    open(p, "w").close()
    os.unlink(p)
PY
TOUCH="python3 $(printf %q "$work/touch.py") $(printf %q "$work/touch.list")"

# Refuses a tree that would not fit: folders take a 4 KiB block each, the
# index, the database and the sorted path lists of the checks about 400
# bytes a name; every name takes an inode.
check_space() {
  local n=$1 need_kb need_inodes free_kb free_inodes inodes
  need_kb=$((n * 4 / 20 + n * 400 / 1024 + 100 * 1024))
  need_inodes=$((n + n / 10 + 1000))
  free_kb=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
  read -r inodes free_inodes < <(df -Pi "$work" | awk 'NR == 2 { print $2, $4 }')
  if ((free_kb < need_kb)) || { [[ "$inodes" =~ ^[1-9][0-9]*$ ]] && ((free_inodes < need_inodes)); }; then
    echo "Not enough room under $work for a tree of $n names: it needs about" \
         "$((need_kb / 1024)) MB and $need_inodes inodes, and there are $((free_kb / 1024)) MB" \
         "and ${free_inodes} inodes free. Free some, or set BENCH_DIR to a folder with more." >&2
    exit 1
  fi
}

# peak GROUP NAME COMMAND: one run of COMMAND under /usr/bin/time.
peak() {
  eval "/usr/bin/time -o $(printf %q "$work/time.out") -f %M $3" >/dev/null 2>&1 || true
  printf '%s\t%s\t%s\n' "$1" "$2" "$(tail -1 "$work/time.out")" >>"$work/$size.mem"
}

# measure GROUP PREPARE NAME COMMAND [NAME COMMAND ...]: one hyperfine run
# of all the commands side by side (PREPARE, when given, before each run),
# then the peak memory of each (after PREPARE too).
measure() {
  local group=$1 prep=$2 i start=$SECONDS
  shift 2
  local a=("$@")
  local args=(--style basic -i --warmup 1 --runs "$runs" --export-json "$work/$size.$group.json")
  if [ -n "$prep" ]; then args+=(--prepare "$prep"); fi
  for ((i = 0; i < ${#a[@]}; i += 2)); do args+=(-n "${a[i]}" "${a[i + 1]} >/dev/null"); done
  hyperfine "${args[@]}" >"$work/hyperfine.log" 2>&1 || { cat "$work/hyperfine.log" >&2; exit 1; }
  for ((i = 0; i < ${#a[@]}; i += 2)); do
    if [ -n "$prep" ]; then eval "$prep"; fi
    peak "$group" "${a[i]}" "${a[i + 1]}"
  done
  echo "  $group: $((SECONDS - start)) s" >&2
}

# reference KEY FIND-ARGS...: find's sorted answer, the one to compare with.
reference() {
  local key=$1
  shift
  find "$tree" -mindepth 1 "$@" | LC_ALL=C sort >"$work/ref.$key"
}

# check KEY LABEL COMMAND: COMMAND's sorted paths (a folder's trailing slash
# dropped) against find's for KEY.
check() {
  local key=$1 label=$2 n m missing extra verdict
  { eval "$3" 2>/dev/null || true; } | sed 's:/$::' | LC_ALL=C sort >"$work/out"
  n=$(wc -l <"$work/out")
  m=$(wc -l <"$work/ref.$key")
  missing=$(LC_ALL=C comm -23 "$work/ref.$key" "$work/out" | wc -l)
  extra=$(LC_ALL=C comm -13 "$work/ref.$key" "$work/out" | wc -l)
  if ((n == m && missing == 0 && extra == 0)); then verdict="equal"
  else verdict="DIFFERS: $missing missing, $extra extra"; fi
  printf '%s\t%s\t%s\t%s\t%s\n' "$key" "$label" "$n" "$m" "$verdict" >>"$work/$size.checks"
  rm -f "$work/out"
}

for size in "${sizes[@]}"; do
  if [ -n "${RUNS:-}" ]; then runs=$RUNS; elif ((size >= 2000000)); then runs=3; else runs=5; fi
  rm -rf "$tree" "$db" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
  check_space "$size"
  echo "== $size names: making the tree" >&2
  made=$(python3 "$make_tree" "$tree" "$size" "${SEED:-1}" | tail -1)
  echo "  $made" >&2
  find "$tree" -type d | awk 'NR % 100 == 0' >"$work/touch.list"

  eval "$Q --named quindelo-no-such-name --rebuild" >/dev/null || true
  eval "$UPDATEDB"

  measure build "rm -f $qdb" \
    quindelo-build "$Q --rebuild --named quindelo-no-such-name" \
    updatedb "$UPDATEDB" \
    fd-walk "fdfind -H -I . $qtree" \
    find-walk "find $qtree"
  # The answers right after a first build: the index as the last
  # quindelo-build above left it, the database made again (the memory run of
  # updatedb was the last to make it, and the prepare step removed it since).
  eval "$UPDATEDB"
  reference all
  check all "quindelo --index-only '*' after the first build" "$Q --index-only --native --named '*'"
  check all "plocate -b '*' after the first build" "plocate -d $qdb -b '*'"
  check all "fdfind -H -I ." "fdfind -H -I . $qtree"

  measure refresh "" \
    quindelo-refresh "$Q --named quindelo-no-such-name" \
    updatedb-again "$UPDATEDB"
  measure touched "$TOUCH" \
    quindelo-refresh "$Q --named quindelo-no-such-name" \
    updatedb-again "$UPDATEDB"

  # Both indexes current with the disk for the finds from the index alone.
  eval "$Q --named quindelo-no-such-name" >/dev/null || true
  eval "$UPDATEDB"
  measure indexonly "" \
    quindelo-rare "$Q --index-only --named $RARE" \
    plocate-rare "plocate -d $qdb -i -b $RARE" \
    quindelo-txt "$Q --index-only --named '*.txt'" \
    plocate-txt "plocate -d $qdb -i -b '*.txt'"
  measure current "" \
    quindelo-rare "$Q --named $RARE" \
    fd-rare "fdfind -H -I -i -F $RARE $qtree" \
    find-rare "find $qtree -iname '*$RARE*'" \
    quindelo-txt "$Q --named '*.txt'" \
    fd-txt "fdfind -H -I -i -g '*.txt' $qtree" \
    find-txt "find $qtree -iname '*.txt'"

  check all "quindelo --index-only '*' after the refreshes" "$Q --index-only --native --named '*'"
  check all "quindelo '*' (with the refresh)" "$Q --native --named '*'"
  rm -f "$work/ref.all"
  reference rare -iname "*$RARE*"
  reference txt -iname '*.txt'
  for key in rare txt; do
    if [ $key = rare ]; then pat=$RARE; fd="-F $RARE"; else pat="'*.txt'"; fd="-g '*.txt'"; fi
    check $key "quindelo --index-only" "$Q --index-only --native --named $pat"
    check $key "plocate -i -b" "plocate -d $qdb -i -b $pat"
    check $key "quindelo (with the refresh)" "$Q --native --named $pat"
    check $key "fdfind -H -I -i" "fdfind -H -I -i $fd $qtree"
  done

  # The live rows (after the checks, whose reference they would change):
  # the same drive served by a live process.
  "$finder" --drive "Q=$tree" --serve 2>"$work/serve.log" &
  server=$!
  for _ in $(seq 600); do grep -q serving "$work/serve.log" && break; sleep 0.1; done
  for _ in 1 2 3; do eval "$Q --named $RARE" >/dev/null || true; done
  measure live "touch $qtree/zephyrine_live_\$RANDOM\$RANDOM" \
    quindelo-live-rare "$Q --named $RARE" \
    fd-live-rare "fdfind -H -I -i -F $RARE $qtree"
  right=0
  mapfile -t folders <"$work/touch.list"
  for i in $(seq 100); do
    f="${folders[$((RANDOM % ${#folders[@]}))]}/zephyrine_check_$i.md"
    : >"$f"
    got=$(eval "$Q --native --named zephyrine_check_$i." 2>/dev/null || true)
    [ "$got" = "$f" ] && right=$((right + 1))
    rm -f "$f"
  done
  live_kb=$(awk '/^VmRSS:/ { print $2 }' "/proc/$server/status" 2>/dev/null || echo 0)
  stop_server
  tri=$(find "$XDG_DATA_HOME" -name 'DriveQ.tri' -printf '%s' 2>/dev/null || true)
  printf 'live answers right\t%s\nlive process RSS kB\t%s\nname index bytes\t%s\n' \
    "$right" "$live_kb" "${tri:-none}" >"$work/$size.live"

  python3 - "$work" "$size" "$made" "$runs" <<'PY'
import json, os, sys
work, size, made, runs = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
times = {}
for group in ("build", "refresh", "touched", "indexonly", "current", "live"):
    with open(os.path.join(work, f"{size}.{group}.json")) as f:
        for r in json.load(f)["results"]:
            times[group, r["command"]] = r["mean"]
mem = {}
with open(os.path.join(work, f"{size}.mem")) as f:
    for line in f:
        group, name, kb = line.rstrip("\n").split("\t")
        mem[group, name] = kb
def ms(group, name):
    return f"{times[group, name] * 1000:10.1f}"
def mb(group, name):
    kb = mem.get((group, name), "")
    return f"{int(kb) / 1024:8.1f}" if kb.isdigit() else f"{'?':>8s}"
rows = [
    ("first build", ("build", "quindelo-build"),
     [("updatedb", ("build", "updatedb")), ("fdfind walk", ("build", "fd-walk")),
      ("find walk", ("build", "find-walk"))]),
    ("refresh, nothing changed", ("refresh", "quindelo-refresh"),
     [("quindelo first build", ("build", "quindelo-build")),
      ("updatedb again", ("refresh", "updatedb-again")), ("fdfind walk", ("build", "fd-walk"))]),
    ("refresh, 1% folders touched", ("touched", "quindelo-refresh"),
     [("quindelo first build", ("build", "quindelo-build")),
      ("updatedb again", ("touched", "updatedb-again")), ("fdfind walk", ("build", "fd-walk"))]),
    ("index-only find zephyrine", ("indexonly", "quindelo-rare"),
     [("plocate -i -b", ("indexonly", "plocate-rare"))]),
    ("index-only find *.txt", ("indexonly", "quindelo-txt"),
     [("plocate -i -b", ("indexonly", "plocate-txt"))]),
    ("current find zephyrine", ("current", "quindelo-rare"),
     [("fdfind -i -F", ("current", "fd-rare")), ("find -iname", ("current", "find-rare"))]),
    ("current find *.txt", ("current", "quindelo-txt"),
     [("fdfind -i -g", ("current", "fd-txt")), ("find -iname", ("current", "find-txt"))]),
    ("live: current zephyrine", ("live", "quindelo-live-rare"),
     [("fdfind -i -F", ("live", "fd-live-rare")),
      ("quindelo, no live process", ("current", "quindelo-rare"))]),
]
print(f"\n{made} (RUNS={runs}); mean wall time, ratio = quindelo / peer, peak RSS in MB")
print(f"{'measurement':28s} {'quindelo ms':>11s} {'MB':>8s}   {'peer':22s} {'peer ms':>10s} {'MB':>8s} {'ratio':>7s}")
for label, q, peers in rows:
    for i, (pname, p) in enumerate(peers):
        head = f"{label:28s} {ms(*q):>11s} {mb(*q)}" if i == 0 else " " * 49
        print(f"{head}   {pname:22s} {ms(*p)} {mb(*p)} {times[q] / times[p]:7.3f}")
with open(os.path.join(work, f"{size}.live")) as f:
    for line in f:
        key, value = line.rstrip("\n").split("\t")
        print(f"{key:28s} {value}")
print(f"\nanswers against find's (sorted path lists)")
print(f"{'pattern':10s} {'finder':50s} {'count':>9s} {'find':>9s}  result")
with open(os.path.join(work, f"{size}.checks")) as f:
    for line in f:
        key, label, n, m, verdict = line.rstrip("\n").split("\t")
        pattern = {"all": "*", "rare": "zephyrine", "txt": "*.txt"}[key]
        print(f"{pattern:10s} {label:50s} {int(n):9d} {int(m):9d}  {verdict}")
PY
  rm -rf "$tree" "$work"/ref.*
done
