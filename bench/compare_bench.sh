#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Benchmark of the table comparison: `vidange compare` of a generated
# Conventions table of N rows with a copy of it where a few rows were deleted,
# added and changed, side by side with what a script would do without it:
# `vidange export` of both tables, then `sort` of both files and `comm -3`
# (LC_ALL=C, sort's default buffer and threads). Each command three times,
# alternating; the best time of each, with rows per second (of one table) and
# peak resident memory (KiB; for the script, its largest process).
#
# usage: bench/compare_bench.sh [N ...]     (default: 100000 1000000)
# needs: a built build/ (vidange), python3, /usr/bin/time, sort, comm
set -euo pipefail
cd "$(dirname "$0")/.."

vidange=$PWD/build/vidange
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100000 1000000)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

measure() {
  /usr/bin/time -q -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1 || true
  cat "$work/time"
}

rate() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%9.0f", (s > 0 ? n / s : 0) }'; }

declare -A best_seconds best_peak
keep() {
  if [ -z "${best_seconds[$1]:-}" ] || awk -v a="$2" -v b="${best_seconds[$1]}" 'BEGIN { exit !(a < b) }'; then
    best_seconds[$1]=$2
    best_peak[$1]=$3
  fi
}

readonly rounds=3
readonly labels=("vidange compare" "vidange export x2, sort, comm")

printf "%-10s %-32s %10s %9s %10s\n" rows command seconds rows/s "peak KiB"
for n in "${sizes[@]}"; do
  best_seconds=()
  best_peak=()
  first="$work/first-$n.mdb"
  second="$work/second-$n.mdb"
  bench/make-conventions-source.py "$first" "$n" --vidange "$vidange" >/dev/null
  cp "$first" "$second"
  # A few rows gone, two changed (their keys kept): the differences to find.
  "$vidange" sql "$second" "DELETE * FROM [Conventions] WHERE NumAMC='02467362' AND TypeConvention='AU1'"
  "$vidange" export "$first" Conventions "$work/all.txt" >/dev/null
  sed -n '5p;6p' "$work/all.txt" | awk -F'|' -v OFS='|' '{ $7 = "Change" } 1' >"$work/changed.txt"
  "$vidange" import "$second" Conventions "$work/changed.txt" --mode keep >/dev/null
  expected=$("$vidange" compare "$first" Conventions "$second" Conventions --quiet | head -n1) || true
  for ((round = 0; round < rounds; ++round)); do
    read -r seconds peak < <(measure "$vidange" compare "$first" Conventions "$second" Conventions --quiet)
    keep "${labels[0]}" "$seconds" "$peak"
    read -r seconds peak < <(measure env LC_ALL=C bash -c "
      '$vidange' export '$first' Conventions '$work/a.txt' &&
      '$vidange' export '$second' Conventions '$work/b.txt' &&
      sort '$work/a.txt' >'$work/a.sorted' && sort '$work/b.txt' >'$work/b.sorted' &&
      comm -3 '$work/a.sorted' '$work/b.sorted'")
    keep "${labels[1]}" "$seconds" "$peak"
  done
  for label in "${labels[@]}"; do
    printf "%-10s %-32s %10s %9s %10s\n" "$n" "$label" "${best_seconds[$label]}" \
      "$(rate "$n" "${best_seconds[$label]}")" "${best_peak[$label]}"
  done
  echo "           ($expected)"
  rm -f "$first" "$second" "$work"/*.txt "$work"/*.sorted
done
