#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Peak memory of reading an Access file whose attachment inflates about 1,000
# times (bench/make-inflating-attachment.py, from a repository file): `vidange
# copy` and `vidange sql` of its attachments' table, with the attachment at
# the largest value the engine carries (32 MiB) and past it (SIZE, default
# 900,000,000 bytes, from a file under 1 MB). Checks that both stay under
# 256 MiB (/usr/bin/time -v's maximum resident set size), that the copy holds
# the attachment's bytes exactly, and that the larger one is refused with
# 3049 naming the table and the field, the target never made.
#
# usage: bench/jet_memory_bench.sh [SIZE]
# needs: a built build/ (vidange), /usr/bin/time, python3
set -euo pipefail
cd "$(dirname "$0")/.."

vidange=build/vidange
size=${1:-900000000}
limit_kib=$((256 * 1024))
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source=tests/data/jet/ace/mdbreader_data_V2016_attachments.accdb
largest=$((32 * 1024 * 1024))
status=0

peak() {  # command... : runs it, prints its exit status and peak KiB
  local rc=0
  /usr/bin/time -v -o "$work/time" "$@" >"$work/stdout" 2>"$work/stderr" || rc=$?
  echo "$rc $(awk -F': ' '/Maximum resident/ { print $2 }' "$work/time")"
}
check() {  # label rc kib expected-rc
  local verdict=ok
  if [ "$2" != "$4" ] || [ "$3" -ge "$limit_kib" ]; then verdict=FAILED; status=1; fi
  printf "%-34s exit %s  peak %7d KiB  %s\n" "$1" "$2" "$3" "$verdict"
}

# At the largest value (its file's bytes: the value less the 20-byte header of the data).
python3 bench/make-inflating-attachment.py "$source" "$work/largest.accdb" $((largest - 20))
read -r rc kib < <(peak "$vidange" copy "$work/largest.accdb" "$work/largest.db")
check "copy, attachment of 32 MiB" "$rc" "$kib" 0
python3 - "$work/largest.db" $((largest - 20)) <<'PY' || status=1
import sqlite3, sys
size = int(sys.argv[2])
(data,) = sqlite3.connect(sys.argv[1]).execute(
    "SELECT FileData FROM Table1_Attachments WHERE length(FileData) > 1000").fetchone()
expected = bytes(i % 251 for i in range(251 * 4096))
ok = len(data) == size and all(data[at:at + len(expected)] == expected[:min(len(expected), size - at)]
                               for at in range(0, size, len(expected)))
print("copy's attachment holds the file's bytes exactly:", "ok" if ok else "FAILED")
sys.exit(0 if ok else 1)
PY
read -r rc kib < <(peak "$vidange" sql "$work/largest.accdb" "SELECT * FROM Table1_Attachments")
check "sql, attachment of 32 MiB" "$rc" "$kib" 0

# Past it: refused before inflating.
python3 bench/make-inflating-attachment.py "$source" "$work/past.accdb" "$size"
echo "file of $(stat -c %s "$work/past.accdb") bytes, attachment of $size bytes"
read -r rc kib < <(peak "$vidange" copy "$work/past.accdb" "$work/past.db")
check "copy, attachment past the largest" "$rc" "$kib" 1
if [ -e "$work/past.db" ] || ! grep -q "ERR3049:.*« FileData ».*« Table1_Attachments »" "$work/stderr"; then
  echo "copy past the largest: no 3049 naming the table and the field, or a target made: FAILED"; status=1
fi
read -r rc kib < <(peak "$vidange" sql "$work/past.accdb" "SELECT * FROM Table1_Attachments")
check "sql, attachment past the largest" "$rc" "$kib" 1
exit "$status"
