#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the fuzz preset (clang: libFuzzer with ASan and UBSan) and runs every
# fuzz target for a bounded time, each from its committed seed corpus
# (tests/fuzz/corpus/NAME/) copied into a scratch directory, so the committed
# corpus is only read. Prints one line of figures per target, then
#   fuzz: N targets, E executions, F findings
#
#   scripts/fuzz.sh                  all targets in 30 s together (the test command's stage)
#   scripts/fuzz.sh --minutes 10     10 minutes per target (the long run)
#   scripts/fuzz.sh --seconds 30     30 seconds per target
#   scripts/fuzz.sh --keep DIR       also keep each grown corpus and log in DIR/NAME/
#   scripts/fuzz.sh ... NAME...      only these targets
#
# A finding (crash, leak, failed check, time-out) is kept in build-fuzz/findings/NAME/.
# Exit status: 0 when nothing was found, 1 on a finding, 2 when the build failed.
set -uo pipefail

cd "$(dirname "$0")/.."

total_seconds=30 per_target="" keep="" targets=()
while [ $# -gt 0 ]; do
  case "$1 ${2:-}" in
    "--minutes "[0-9]*) per_target=$(($2 * 60)) ;;
    "--seconds "[0-9]*) per_target=$2 ;;
    "--keep "?*) keep=$2 ;;
    -*) echo "usage: scripts/fuzz.sh [--minutes M | --seconds S] [--keep DIR] [NAME...]" >&2; exit 2 ;;
    *) [ -d "tests/fuzz/corpus/$1" ] || { echo "fuzz: no target $1" >&2; exit 2; }
       targets+=("tests/fuzz/corpus/$1/"); shift; continue ;;
  esac
  shift 2
done

if ! scripts/install-packages.sh cmake ninja-build clang libclang-rt-14-dev ||
  ! cmake --preset fuzz >/dev/null || ! cmake --build --preset fuzz; then
  echo "fuzz: the fuzz targets could not be built" >&2
  exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/romflash-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
[ ${#targets[@]} -gt 0 ] || targets=(tests/fuzz/corpus/*/)
per_target=${per_target:-$((total_seconds / ${#targets[@]}))}
executions=0 findings=0

for corpus in "${targets[@]}"; do
  name=$(basename "$corpus")
  dir="$work/$name"
  mkdir -p "$dir/corpus" "$dir/findings"
  cp "$corpus"* "$dir/corpus/"
  dict=()
  [ -f "tests/fuzz/$name.dict" ] && dict=(-dict="tests/fuzz/$name.dict")
  # TMPDIR: whatever scratch files a target makes go with the rest.
  TMPDIR="$dir" "build-fuzz/tests/fuzz/$name" -max_total_time="$per_target" -timeout=10 \
    -max_len=4096 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/findings/" \
    "${dict[@]}" "$dir/corpus" >"$dir/log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/log")
  figures=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$dir/log" | tail -n 1 |
    sed -E 's/.*cov: ([0-9]+).*corp: ([0-9]+)\/([^ ]+).*/cov \1, corpus \2 inputs (\3)/')
  found=$(find "$dir/findings" -type f | wc -l)
  # A target that stops without leaving an input behind has still found something.
  [ "$rc" -ne 0 ] && [ "$found" -eq 0 ] && found=1
  executions=$((executions + ${runs:-0})) findings=$((findings + found))
  echo "$name: ${runs:-0} executions (${rate:-0}/s), ${figures:-no figures}, $found findings"
  if [ "$found" -ne 0 ]; then
    tail -n 40 "$dir/log"
    mkdir -p "build-fuzz/findings/$name"
    cp "$dir/findings/"* "$dir/log" "build-fuzz/findings/$name/" 2>/dev/null
    echo "$name: kept in build-fuzz/findings/$name/"
  fi
  if [ -n "$keep" ]; then
    mkdir -p "$keep" && rm -rf "${keep:?}/$name" && cp -r "$dir" "$keep/$name"
  fi
done

echo "fuzz: ${#targets[@]} targets, $executions executions, $findings findings"
[ "$findings" -eq 0 ]
