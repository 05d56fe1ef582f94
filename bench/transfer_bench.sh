#!/usr/bin/env bash
# Benchmark of the table transfer: export and clear-first import of a
# Conventions table of N rows through `vidange`, side by side with the sqlite3
# shell's list-mode export and its `.import` of the same rows, in one run.
# Prints rows per second and peak resident memory (KiB) of each command.
#
# usage: bench/transfer_bench.sh [N ...]     (default: 100000 1000000)
# needs: a built build/ (vidange), sqlite3, python3, /usr/bin/time
set -euo pipefail
cd "$(dirname "$0")/.."

vidange=build/vidange
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100000 1000000)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs a command, prints "<seconds> <peak KiB>".
measure() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null
  cat "$work/time"
}

rate() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%9.0f", (s > 0 ? n / s : 0) }'; }

printf "%-10s %-34s %10s %9s %10s\n" rows command seconds rows/s "peak KiB"
for n in "${sizes[@]}"; do
  source="$work/source-$n.mdb"
  bench/make-conventions-source.py "$source" "$n" --vidange "$vidange" >/dev/null
  target="$work/target-$n.mdb"
  "$vidange" sql "$target" --create < data/schema-patbase.sql

  read -r seconds peak < <(measure "$vidange" export "$source" Conventions "$work/conventions.txt")
  printf "%-10s %-34s %10s %9s %10s\n" "$n" "vidange export" "$seconds" "$(rate "$n" "$seconds")" "$peak"
  read -r seconds peak < <(measure "$vidange" import "$target" Conventions "$work/conventions.txt" --mode clear)
  printf "%-10s %-34s %10s %9s %10s\n" "$n" "vidange import (clear)" "$seconds" "$(rate "$n" "$seconds")" "$peak"

  read -r seconds peak < <(measure sh -c "sqlite3 -list -separator '|' '$source' 'SELECT * FROM Conventions' > '$work/shell.txt'")
  printf "%-10s %-34s %10s %9s %10s\n" "$n" "sqlite3 shell list export" "$seconds" "$(rate "$n" "$seconds")" "$peak"
  shell_target="$work/shell-target-$n.db"
  # The same table with the same unique index over its 6-field key.
  sqlite3 "$shell_target" "$(sqlite3 "$source" ".schema Conventions")"
  read -r seconds peak < <(measure sqlite3 "$shell_target" -cmd ".mode list" -cmd ".separator |" ".import '$work/shell.txt' Conventions")
  printf "%-10s %-34s %10s %9s %10s\n" "$n" "sqlite3 shell .import" "$seconds" "$(rate "$n" "$seconds")" "$peak"

  rm -f "$source" "$target" "$shell_target" "$work"/*.txt
done
