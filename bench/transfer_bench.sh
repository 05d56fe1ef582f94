#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Benchmark of the table transfer: export and clear-first import of a
# Conventions table of N rows through `vidange` (the import also while another
# program holds a read transaction on the target; and into a table whose fields
# carry CHECK constraints refusing values of the wrong kind), side by side with the
# sqlite3 shell's list-mode export and its `.import` of the same rows, in one run.
# The shell is tuned as a SQLite user would: a 32 MiB page cache, as the
# engine's transactions have. Each command runs three times (ROUNDS), alternating;
# the best time of each is shown, with its CPU seconds (user + system), rows
# per second and peak resident memory (KiB); then the ratios of vidange's
# export and import to the shell's, in wall-clock and CPU time.
#
# usage: [VIDANGE=path] [ROUNDS=n] [QUICK=1] bench/transfer_bench.sh [N ...]   (default: 100000 1000000)
#   QUICK=1: only the export and the clear-first import, beside the shell (for 3M rows)
# needs: a built build/ (vidange), sqlite3, python3, /usr/bin/time
set -euo pipefail
cd "$(dirname "$0")/.."

vidange=${VIDANGE:-build/vidange}
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100000 1000000)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs a command, prints "<seconds> <peak KiB> <CPU seconds>".
measure() {
  /usr/bin/time -f "%e %M %U %S" -o "$work/time" "$@" >/dev/null
  awk '{ printf "%s %s %.2f\n", $1, $2, $3 + $4 }' "$work/time"
}

rate() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%9.0f", (s > 0 ? n / s : 0) }'; }

# Keeps the best time (and its peak) of each command over the rounds.
declare -A best_seconds best_peak best_cpu
keep() {  # keep LABEL SECONDS PEAK CPU
  if [ -z "${best_seconds[$1]:-}" ] || awk -v a="$2" -v b="${best_seconds[$1]}" 'BEGIN { exit !(a < b) }'; then
    best_seconds[$1]=$2
    best_peak[$1]=$3
  fi
  if [ -z "${best_cpu[$1]:-}" ] || awk -v a="$4" -v b="${best_cpu[$1]}" 'BEGIN { exit !(a < b) }'; then
    best_cpu[$1]=$4
  fi
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

readonly rounds=${ROUNDS:-3}
readonly quick=${QUICK:-0}
readonly tuned=(-cmd "PRAGMA cache_size = -32768")
readonly labels=("vidange export" "vidange import (clear)" "vidange import, CHECK constraints"
  "vidange import, reader held" "sqlite3 shell list export" "sqlite3 shell .import")
readonly quick_labels=("vidange export" "vidange import (clear)" "sqlite3 shell list export" "sqlite3 shell .import")

# Gives table $2 of database $1 a CHECK constraint per field, refusing what
# the engine's reads refuse (a value of another kind, out of range, too long),
# to measure what refusing them at write time would cost the import.
add_checks() {
  python3 - "$1" "$2" <<'PYTHON'
import re, sqlite3, sys
db = sqlite3.connect(sys.argv[1])
table = sys.argv[2]
checks = []
for _, name, declared, _, _, _ in db.execute(f'PRAGMA table_info("{table}")'):
    c = f'"{name}"'
    kind = declared.upper()
    ranges = {"BIT": (0, 1), "BYTE": (0, 255), "SHORT": (-32768, 32767), "LONG": (-2147483648, 2147483647)}
    if kind in ranges:
        low, high = ranges[kind]
        rule = f"typeof({c}) = 'integer' AND {c} BETWEEN {low} AND {high}"
    elif kind == "CURRENCY":
        rule = f"typeof({c}) = 'integer'"
    elif kind in ("SINGLE", "DOUBLE", "DATETIME"):
        rule = f"typeof({c}) IN ('integer', 'real')"
    elif kind.startswith("TEXT("):
        rule = f"typeof({c}) = 'text' AND length({c}) <= {int(kind[5:-1])}"
    else:
        rule = f"typeof({c}) = 'text'"
    checks.append(f"CHECK ({c} IS NULL OR ({rule}))")
sql = db.execute("SELECT sql FROM sqlite_schema WHERE type = 'table' AND name = ?", (table,)).fetchone()[0]
sql = sql[: sql.rindex(")")] + ", " + ", ".join(checks) + ")"
version = db.execute("PRAGMA schema_version").fetchone()[0]
db.execute("PRAGMA writable_schema = ON")
db.execute("UPDATE sqlite_schema SET sql = ? WHERE type = 'table' AND name = ?", (sql, table))
db.execute(f"PRAGMA schema_version = {version + 1}")
db.commit()
db.execute("PRAGMA writable_schema = OFF")
assert db.execute("PRAGMA integrity_check").fetchone()[0] == "ok"
PYTHON
}

printf "%-10s %-34s %10s %8s %9s %10s\n" rows command seconds "CPU s" rows/s "peak KiB"
for n in "${sizes[@]}"; do
  best_seconds=()
  best_peak=()
  best_cpu=()
  source="$work/source-$n.mdb"
  bench/make-conventions-source.py "$source" "$n" --vidange "$vidange" >/dev/null
  target="$work/target-$n.mdb"
  "$vidange" sql "$target" --create < data/schema-patbase.sql
  checked="$work/checked-$n.mdb"
  if [ "$quick" != 1 ]; then
    "$vidange" sql "$checked" --create < data/schema-patbase.sql
    add_checks "$checked" Conventions
  fi

  for ((round = 0; round < rounds; ++round)); do
    read -r seconds peak cpu < <(measure "$vidange" export "$source" Conventions "$work/conventions.txt")
    keep "vidange export" "$seconds" "$peak" "$cpu"
    read -r seconds peak cpu < <(measure sh -c "sqlite3 -list -separator '|' ${tuned[*]@Q} '$source' 'SELECT * FROM Conventions' > '$work/shell.txt'")
    keep "sqlite3 shell list export" "$seconds" "$peak" "$cpu"
    read -r seconds peak cpu < <(measure "$vidange" import "$target" Conventions "$work/conventions.txt" --mode clear)
    keep "vidange import (clear)" "$seconds" "$peak" "$cpu"
    # A new table each round, with the same unique index over its 6-field key.
    shell_target="$work/shell-target-$n.db"
    rm -f "$shell_target"
    sqlite3 "$shell_target" "$(sqlite3 "$source" ".schema Conventions")"
    read -r seconds peak cpu < <(measure sqlite3 "$shell_target" "${tuned[@]}" -cmd ".mode list" -cmd ".separator |" ".import '$work/shell.txt' Conventions")
    keep "sqlite3 shell .import" "$seconds" "$peak" "$cpu"
    [ "$quick" != 1 ] || continue
    read -r seconds peak cpu < <(measure "$vidange" import "$checked" Conventions "$work/conventions.txt" --mode clear)
    keep "vidange import, CHECK constraints" "$seconds" "$peak" "$cpu"

    # The same import while another program holds a read transaction on the
    # target: the sqlite3 shell, fed its statements through a pipe.
    mkfifo "$work/reader"
    sqlite3 "$target" <"$work/reader" >/dev/null 2>&1 &
    reader=$!
    exec 3>"$work/reader"
    echo "BEGIN; SELECT count(*) FROM Conventions;" >&3
    sleep 0.5
    read -r seconds peak cpu < <(measure "$vidange" import "$target" Conventions "$work/conventions.txt" --mode clear)
    keep "vidange import, reader held" "$seconds" "$peak" "$cpu"
    echo "COMMIT;" >&3
    exec 3>&-
    wait "$reader"
    rm -f "$work/reader"
  done
  shown=("${labels[@]}")
  [ "$quick" != 1 ] || shown=("${quick_labels[@]}")
  for label in "${shown[@]}"; do
    printf "%-10s %-34s %10s %8s %9s %10s\n" "$n" "$label" "${best_seconds[$label]}" "${best_cpu[$label]}" \
      "$(rate "$n" "${best_seconds[$label]}")" "${best_peak[$label]}"
  done
  printf "%-10s %-34s %10s %8s\n" "$n" "ratio export / shell" \
    "$(ratio "${best_seconds["vidange export"]}" "${best_seconds["sqlite3 shell list export"]}")" \
    "$(ratio "${best_cpu["vidange export"]}" "${best_cpu["sqlite3 shell list export"]}")"
  printf "%-10s %-34s %10s %8s\n" "$n" "ratio import / shell .import" \
    "$(ratio "${best_seconds["vidange import (clear)"]}" "${best_seconds["sqlite3 shell .import"]}")" \
    "$(ratio "${best_cpu["vidange import (clear)"]}" "${best_cpu["sqlite3 shell .import"]}")"

  rm -f "$source" "$target" "$checked" "$shell_target" "$work"/*.txt
done
