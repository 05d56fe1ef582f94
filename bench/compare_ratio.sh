#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# `vidange compare` side by side with `sqldiff --table` (SQLite's own tool,
# Debian's sqlite3-tools) and with a script's export + sort + comm, in one run
# on the same files, printing the ratios. A generated Conventions table of N
# rows is compared with a copy of it, in three cases:
#   keyed-few   the engine's primary key kept, 1 row in 100,000 changed and
#               the rows of one NumAMC deleted
#   keyed-10pc  the primary key kept, 1 row in 10 changed
#   unkeyed     the primary key dropped from both (a multiset compare), the
#               changes of keyed-few; here export + sort + comm -3 runs too
# Each command runs ROUNDS times (default 3), alternating; the medians of the
# wall time and of the CPU time (user + system) are shown, with the peak
# resident memory of our compare, then ours / theirs for each.
#
# usage: bench/compare_ratio.sh [N]        (default: 100000; ROUNDS=5 to change,
#        VIDANGE=path for another build)
# needs: a built build/ (vidange), python3, sqlite3, sqldiff, /usr/bin/time
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v sqldiff >/dev/null; then
  echo "sqldiff is missing: install Debian's sqlite3-tools for this benchmark (apt-get install sqlite3-tools)" >&2
  exit 2
fi
vidange=${VIDANGE:-$PWD/build/vidange}
n=${1:-100000}
rounds=${ROUNDS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# "wall cpu peak" of one command.
measure() {
  /usr/bin/time -q -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>&1 || true
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$work/time"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

bench/make-conventions-source.py "$work/base.mdb" "$n" --vidange "$vidange" >/dev/null
sqlite3 "$work/base.mdb" "PRAGMA wal_checkpoint(TRUNCATE)" >/dev/null
make_case() {  # name, update condition, delete?, drop key?
  cp "$work/base.mdb" "$work/$1-a.mdb"
  cp "$work/base.mdb" "$work/$1-b.mdb"
  sqlite3 "$work/$1-b.mdb" "UPDATE Conventions SET LibelleConvention='Changé' WHERE $2"
  if [ "$3" = yes ]; then
    sqlite3 "$work/$1-b.mdb" "DELETE FROM Conventions WHERE NumAMC='02467362' AND TypeConvention='AU1'"
  fi
  if [ "$4" = yes ]; then
    for side in a b; do "$vidange" sql "$work/$1-$side.mdb" "ALTER TABLE Conventions DROP CONSTRAINT PrimaryKey"; done
  fi
  for side in a b; do sqlite3 "$work/$1-$side.mdb" "PRAGMA wal_checkpoint(TRUNCATE)" >/dev/null; done
}
make_case keyed-few "rowid % 100000 = 5" yes no
make_case keyed-10pc "rowid % 10 = 3" no no
make_case unkeyed "rowid % 100000 = 5" yes yes

printf "%-11s %-22s %9s %9s %10s\n" case command "wall s" "cpu s" "peak KiB"
for case in keyed-few keyed-10pc unkeyed; do
  a=$work/$case-a.mdb
  b=$work/$case-b.mdb
  : >"$work/ours" && : >"$work/sqldiff" && : >"$work/pipeline"
  for ((round = 0; round < rounds; ++round)); do
    measure "$vidange" compare "$a" Conventions "$b" Conventions --quiet >>"$work/ours"
    measure sqldiff --table Conventions "$a" "$b" >>"$work/sqldiff"
    if [ "$case" = unkeyed ]; then
      measure env LC_ALL=C bash -c "
        '$vidange' export '$a' Conventions '$work/a.txt' && '$vidange' export '$b' Conventions '$work/b.txt' &&
        sort '$work/a.txt' >'$work/a.sorted' && sort '$work/b.txt' >'$work/b.sorted' &&
        comm -3 '$work/a.sorted' '$work/b.sorted'" >>"$work/pipeline"
    fi
  done
  commands=(ours sqldiff)
  [ "$case" = unkeyed ] && commands+=(pipeline)
  declare -A wall cpu
  for command in "${commands[@]}"; do
    wall[$command]=$(cut -d' ' -f1 "$work/$command" | median)
    cpu[$command]=$(cut -d' ' -f2 "$work/$command" | median)
    peak=$(cut -d' ' -f3 "$work/$command" | median)
    printf "%-11s %-22s %9s %9s %10s\n" "$case" "$command" "${wall[$command]}" "${cpu[$command]}" "$peak"
  done
  printf "%-11s %-22s %9s %9s\n" "$case" "ours / sqldiff" "$(ratio "${wall[ours]}" "${wall[sqldiff]}")" \
    "$(ratio "${cpu[ours]}" "${cpu[sqldiff]}")"
  if [ "$case" = unkeyed ]; then
    printf "%-11s %-22s %9s %9s\n" "$case" "ours / pipeline" "$(ratio "${wall[ours]}" "${wall[pipeline]}")" \
      "$(ratio "${cpu[ours]}" "${cpu[pipeline]}")"
  fi
  echo "            ($("$vidange" compare "$a" Conventions "$b" Conventions --quiet | head -n1 || true))"
done
