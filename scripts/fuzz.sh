#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ with clang into build-fuzz/ and
# runs each for SECONDS seconds (default 60) on a copy of its seed corpus in
# fuzz/corpus/<name>/, so that the repository is never written. A crash,
# leak, timeout or broken check stops the script with the reproducer's path
# (the copies are then kept). After a clean run the copies are removed unless
# QUINDELO_FUZZ_KEEP=1, which keeps them to pick new seeds from.
# Usage: scripts/fuzz.sh [SECONDS [NAME...]]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true

if ! command -v clang++ >/dev/null ||
   ! dpkg -s libclang-rt-14-dev >/dev/null 2>&1; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: clang libclang-rt-14-dev"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq clang libclang-rt-14-dev
fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQUINDELO_BUILD_FUZZ=ON \
  -DQUINDELO_BUILD_TESTS=OFF -DQUINDELO_BUILD_BENCH=OFF >/dev/null
ninja -C build-fuzz fuzzers

names=("$@")
if ((${#names[@]} == 0)); then
  for src in fuzz/*_fuzzer.cpp; do
    name=$(basename "$src" .cpp)
    names+=("${name%_fuzzer}")
  done
fi

# The harnesses write files for every input; on tmpfs their flushes cost
# nothing.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/quindelo-fuzz-run-XXXXXX")
for name in "${names[@]}"; do
  echo "-- ${name}_fuzzer for ${seconds} s"
  mkdir -p "$work/$name/corpus" "$work/$name/artifacts"
  cp -R "fuzz/corpus/$name/." "$work/$name/corpus/"
  if ! build-fuzz/bin/"${name}_fuzzer" -max_total_time="$seconds" -timeout=20 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/$name/artifacts/" \
      "$work/$name/corpus" >"$work/$name/log" 2>&1; then
    tail -n 60 "$work/$name/log"
    echo "FAILED: ${name}_fuzzer; reproducer(s):" "$work/$name/artifacts/"*
    exit 1
  fi
  grep -E "^stat::number_of_executed_units|^Done" "$work/$name/log" || true
done
if [ "${QUINDELO_FUZZ_KEEP:-0}" = 1 ]; then
  echo "Fuzzing passed; corpora grown in $work"
else
  rm -rf "$work"
  echo "Fuzzing passed"
fi
