#!/usr/bin/env bash
# Whole-process comparison of the drive index with plocate/updatedb and fd,
# side by side in one run, on this machine's root file system as drive C:.
#
#   bench/index_vs_peers.sh            (after scripts/setup.sh has built build/)
#
# Measures, with hyperfine (wall time, warm cache):
#   1. first build of the index (--rebuild) against updatedb -U / and a full
#      fdfind walk of the same tree;
#   2. a refresh with nothing changed against the first build;
#   3. finds answered from the index alone (--index-only) against plocate -i
#      on its own database, for a substring (readme) and for *.h;
#   4. the same finds with the refresh (results current with the disk) against
#      fdfind -H -I --one-file-system;
# then result counts and peak memory (/usr/bin/time) of each command.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
for p in hyperfine plocate fd-find time; do dpkg -s "$p" >/dev/null 2>&1 || need+=("$p"); done
if ((${#need[@]})); then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}"
fi
[ -x build/bin/quindelo-find ] || scripts/setup.sh

work=$(mktemp -d /tmp/quindelo-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
# A settings file of its own (automatic drives: C: is "/"), index files in work/.
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
Q="$PWD/build/bin/quindelo-find --look-in C: --quiet --no-limit"
DB="$work/plocate.db"
UPDATEDB="updatedb -U / --prune-bind-mounts yes --prunepaths /tmp -o $DB"
RUNS=${RUNS:-5}

# Make the database and the index once so that every find below has them.
$UPDATEDB
$Q --named quindelo-no-such-name --rebuild >/dev/null || true

hf() { hyperfine --style basic -i --warmup 1 --runs "$RUNS" --export-json "$work/$1.json" "${@:2}" >/dev/null; }

echo "== 1. First build of the index"
hf build -n quindelo-build "$Q --named quindelo-no-such-name --rebuild" \
         -n updatedb "$UPDATEDB" \
         -n fd-walk "fdfind -H -I --one-file-system . / >/dev/null"
echo "== 2. Refresh with nothing changed"
hf refresh -n quindelo-refresh "$Q --named quindelo-no-such-name" \
           -n quindelo-build "$Q --named quindelo-no-such-name --rebuild"
echo "== 3. Finds from the index alone"
hf indexonly -n quindelo-readme "$Q --index-only --named readme >/dev/null" \
             -n plocate-readme "plocate -d $DB -i -b readme >/dev/null" \
             -n quindelo-h "$Q --index-only --named '*.h' >/dev/null" \
             -n plocate-h "plocate -d $DB -i -b '*.h' >/dev/null"
echo "== 4. Finds current with the disk"
hf current -n quindelo-readme "$Q --named readme >/dev/null" \
           -n fd-readme "fdfind -H -I --one-file-system -i readme / >/dev/null" \
           -n quindelo-h "$Q --named '*.h' >/dev/null" \
           -n fd-h "fdfind -H -I --one-file-system -i -g '*.h' / >/dev/null"

python3 - "$work" <<'PY'
import json, sys, os
work = sys.argv[1]
def load(name):
    with open(os.path.join(work, name + ".json")) as f:
        return {r["command"]: r for r in json.load(f)["results"]}
def line(group, a, b):
    r = load(group)
    ta, tb = r[a]["mean"], r[b]["mean"]
    print(f"  {a:18s} {ta*1000:9.1f} ms   {b:18s} {tb*1000:9.1f} ms   ratio {ta/tb:6.3f}")
print("\nMean wall times and ratios (first / second; below 1 means the first is faster)")
line("build", "quindelo-build", "updatedb")
line("build", "quindelo-build", "fd-walk")
line("refresh", "quindelo-refresh", "quindelo-build")
line("indexonly", "quindelo-readme", "plocate-readme")
line("indexonly", "quindelo-h", "plocate-h")
line("current", "quindelo-readme", "fd-readme")
line("current", "quindelo-h", "fd-h")
PY

echo
echo "Result counts"
count() { printf "  %-44s %8s\n" "$1" "$(eval "$2" | wc -l)"; }
count "quindelo --index-only readme" "$Q --index-only --named readme"
count "plocate -i -b readme" "plocate -d $DB -i -b readme"
count "quindelo readme (with refresh)" "$Q --named readme"
count "fdfind -i readme" "fdfind -H -I --one-file-system -i readme /"
count "quindelo --index-only *.h" "$Q --index-only --named '*.h'"
count "plocate -i -b *.h" "plocate -d $DB -i -b '*.h'"
count "quindelo *.h (with refresh)" "$Q --named '*.h'"
count "fdfind -i -g *.h" "fdfind -H -I --one-file-system -i -g '*.h' /"

echo
echo "Peak memory (maximum resident set size)"
peak() { printf "  %-44s %8s KB\n" "$1" "$( { /usr/bin/time -f '%M' bash -c "$2 >/dev/null" ; } 2>&1 | tail -1)"; }
peak "quindelo first build" "$Q --named quindelo-no-such-name --rebuild"
peak "updatedb" "$UPDATEDB"
peak "fdfind full walk" "fdfind -H -I --one-file-system . /"
peak "quindelo refresh, nothing changed" "$Q --named quindelo-no-such-name"
peak "quindelo --index-only readme" "$Q --index-only --named readme"
peak "plocate -i -b readme" "plocate -d $DB -i -b readme"
peak "quindelo readme (with refresh)" "$Q --named readme"
peak "fdfind -i readme" "fdfind -H -I --one-file-system -i readme /"
