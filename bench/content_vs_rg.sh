#!/usr/bin/env bash
# Whole-process content search compared side by side with ripgrep and grep.
#
# Over one folder tree (default /usr/include) it runs, in one hyperfine run
# per query:
#   word:   quindelo-find --containing 'mutex'   vs  rg -l -w -i mutex   vs  grep -rlw -i mutex
#   string: quindelo-find --containing '"PTHREAD_MUTEX_INITIALIZER"'  vs  rg -l -F PTHREAD_MUTEX_INITIALIZER
# (a word without capitals matches any letter case; a string with capitals
# matches exactly, so the peers get the same flags). It prints the number of
# files each tool reports, the mean wall times with their ratios to the
# finder, and each tool's peak memory (maximum resident set size). When
# strace is installed, it also counts the system calls of one run of the
# word query per tool (threads included) and prints them per regular file
# below the folder.
#
# Usage: bench/content_vs_rg.sh [folder]
# The finder is build/bin/quindelo-find; when it is missing, the peers are
# still measured and the finder is skipped with a message.
set -euo pipefail
cd "$(dirname "$0")/.."

ROOT=${1:-/usr/include}
FINDER=build/bin/quindelo-find
WORD=mutex
STRING=PTHREAD_MUTEX_INITIALIZER

install_missing() {
  local missing=()
  command -v hyperfine >/dev/null 2>&1 || missing+=(hyperfine)
  command -v rg >/dev/null 2>&1 || missing+=(ripgrep)
  [ -x /usr/bin/time ] || missing+=(time)
  command -v python3 >/dev/null 2>&1 || missing+=(python3)
  if ((${#missing[@]})); then
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}
install_missing

have_finder=1
if [ ! -x "$FINDER" ]; then
  have_finder=0
  echo "NOTE: $FINDER is missing (build it with: ninja -C build quindelo-find); measuring the peers only."
fi

# Command lines as shell text (hyperfine and /usr/bin/time run them through sh).
q() { printf '%q' "$1"; }
finder_cmd() {
  echo "$(q "$FINDER") --drive $(q "I=$ROOT") --look-in 'I:' --named '*' --containing $(q "$1") --quiet --no-limit --native"
}

# Peak memory in KiB of one run of a shell command.
peak_kib() {
  /usr/bin/time -v sh -c "$1" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}'
}

# Runs one query: arguments are alternating labels and commands, the first
# pair being the reference for the ratios.
compare() {
  local title=$1
  shift
  local labels=() commands=()
  while (($#)); do
    labels+=("$1")
    commands+=("$2")
    shift 2
  done
  echo
  echo "=== $title (in $ROOT) ==="
  local i
  for i in "${!labels[@]}"; do
    # Exit status 1 means "nothing found" for every tool here.
    local count
    count=$(sh -c "${commands[$i]}" 2>/dev/null | wc -l) || true
    printf '%-10s %6s files   peak %8s KiB   %s\n' "${labels[$i]}" "$count" "$(peak_kib "${commands[$i]}")" "${commands[$i]}"
  done
  local json
  json=$(mktemp)
  local args=()
  for i in "${!labels[@]}"; do args+=(--command-name "${labels[$i]}" "${commands[$i]}"); done
  # Shell start-up is calibrated away by hyperfine; its warnings go to stderr.
  hyperfine --style basic --warmup 2 --min-runs 5 --ignore-failure --export-json "$json" "${args[@]}" \
    >/dev/null 2>"$json.log" || { cat "$json.log" >&2; exit 1; }
  rm -f "$json.log"
  python3 - "$json" <<'EOF'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
ref = results[0]
print(f"{'tool':<10} {'mean ms':>10} {'stddev':>8}  ratio to {ref['command']}")
for r in results:
    print(f"{r['command']:<10} {r['mean'] * 1000:10.1f} {r['stddev'] * 1000:8.1f}  {r['mean'] / ref['mean']:.2f}x")
EOF
  rm -f "$json"
}

if ((have_finder)); then
  # Exit status 2 is an error (for example an option this build lacks).
  status=0
  err=$(sh -c "$(finder_cmd "$WORD")" 2>&1 >/dev/null) || status=$?
  if ((status == 2)); then
    have_finder=0
    echo "NOTE: $FINDER failed (exit 2), measuring the peers only: ${err%%$'\n'*}"
  fi
fi

word_runs=() string_runs=()
if ((have_finder)); then
  word_runs+=(quindelo "$(finder_cmd "$WORD")")
  string_runs+=(quindelo "$(finder_cmd "\"$STRING\"")")
fi
word_runs+=(rg "rg -l -w -i $(q "$WORD") $(q "$ROOT")" grep "grep -rlw -i $(q "$WORD") $(q "$ROOT")")
string_runs+=(rg "rg -l -F $(q "$STRING") $(q "$ROOT")" grep "grep -rlF $(q "$STRING") $(q "$ROOT")")

compare "whole word, any case: $WORD" "${word_runs[@]}"
compare "quoted string, exact case: $STRING" "${string_runs[@]}"

# System calls of one run of a shell command (every thread's).
syscall_count() {
  local out
  out=$(mktemp)
  strace -f -c -o "$out" sh -c "$1" >/dev/null 2>&1 || true
  awk '$NF == "total" {print $4}' "$out"
  rm -f "$out"
}

if command -v strace >/dev/null 2>&1; then
  files=$(find "$ROOT" -type f 2>/dev/null | wc -l)
  echo
  echo "=== system calls per regular file, whole word query ($files regular files in $ROOT) ==="
  for ((i = 0; i < ${#word_runs[@]}; i += 2)); do
    calls=$(syscall_count "${word_runs[$((i + 1))]}")
    python3 -c "import sys; c, f = int(sys.argv[2] or 0), int(sys.argv[3]); print(f'{sys.argv[1]:<10} {c / max(f, 1):6.2f}   ({c} calls)')" \
      "${word_runs[$i]}" "$calls" "$files"
  done
else
  echo
  echo "NOTE: strace is missing (apt-get install strace); system calls are not counted."
fi
