#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The companion command as support staff use it: create a database, run
# statements from arguments and from standard input, read the schema, export
# and import a table, and see failures as ERR<number>:<description> with a
# non-zero status.
# usage: vidange_e2e.sh VIDANGE
set -uo pipefail
vidange=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"

db="$work/base.mdb"
"$vidange" sql "$db" --create "CREATE TABLE T (A TEXT(10) NOT NULL, B LONG, C CURRENCY, CONSTRAINT PrimaryKey PRIMARY KEY (A))"
check "create and define" 0 $?
printf -- "-- a comment\n\nINSERT INTO [T] values('é''1','5','12,5')\r\nINSERT INTO [T] values('b',Null,Null)\n" |
  "$vidange" sql "$db"
check "statements from standard input" 0 $?
check "rows in French forms, LF ends" "$(printf "é'1|5|12,5\nb||")" "$("$vidange" sql "$db" "SELECT * FROM [T]")"
check "schema lines" "$(printf "table\tT\nfield\tT\t0\tA\t10\t10\nfield\tT\t1\tB\t4\t4\nfield\tT\t2\tC\t5\t8\nindex\tT\tPrimaryKey\tprimary\tunique\tA")" \
  "$("$vidange" schema "$db")"

"$vidange" sql "$db" --create 2>"$work/err"
check "create refuses an existing file" 1 $?
"$vidange" sql "$db" "INSERT INTO [T] values('b',1,1)" 2>"$work/err"
check "a failing statement exits 1" 1 $?
check "its error on standard error" "ERR3022:" "$(cut -c1-8 "$work/err")"
"$vidange" sql "$work/absent.mdb" "SELECT * FROM [T]" 2>"$work/err"
check "a missing database" "ERR3024:" "$(cut -c1-8 "$work/err")"

check "export result" "ERR0" "$("$vidange" export "$db" T "$work/t.txt")"
check "transfer file bytes" "$(printf 'e9 27 31 7c 35 7c 31 32 2c 35 0d 0a 62 7c 7c 0d 0a')" \
  "$(od -An -tx1 "$work/t.txt" | tr -s ' \n' ' ' | sed 's/^ //;s/ $//')"
"$vidange" sql "$db" "DELETE * FROM [T]"
check "import result" "ERR0" "$("$vidange" import "$db" T "$work/t.txt" --mode clear)"
check "rows back" "$(printf "é'1|5|12,5\nb||")" "$("$vidange" sql "$db" "SELECT * FROM [T]")"
"$vidange" import "$db" T "$work/t.txt" --mode append >"$work/out"
check "append of the same rows warns and exits 1" "1 ERR-1:Il est possible que la table exportée soit incomplète ou comporte des erreurs" \
  "$? $(cat "$work/out")"
check "missing table" "ERR3078 (TABLE X):" "$("$vidange" export "$db" X "$work/x.txt" | cut -c1-18)"
check "no file for a failed export" "absent" "$([ -e "$work/x.txt" ] && echo present || echo absent)"

printf "INSERT INTO [T] values('\xe9t\xe9','7',Null)\n" | "$vidange" sql "$db" 2>"$work/err"
check "a statement that is not UTF-8 is refused" "1 ERR3464:" "$? $(cut -c1-8 "$work/err")"
check "and nothing of it stored" "$(printf "é'1|5|12,5\nb||")" "$("$vidange" sql "$db" "SELECT * FROM [T]")"
"$vidange" sql "$db" --transaction "INSERT INTO [T] values('c',3,3)" "INSERT INTO [T] values('b',4,4)" 2>"$work/err"
check "a transaction's failing statement exits 1" "1 ERR3022:" "$? $(cut -c1-8 "$work/err")"
check "and undoes the whole call" "$(printf "é'1|5|12,5\nb||")" "$("$vidange" sql "$db" "SELECT * FROM [T]")"
printf "INSERT INTO [T] values('c',3,3)\nINSERT INTO [T] values('d',4,4)\n" | "$vidange" sql "$db" --transaction
check "a transaction from standard input is committed" "0 4" "$? $("$vidange" sql "$db" "SELECT * FROM [T]" | wc -l)"

# Names and paths holding terminal control characters (C0, DEL, C1) are shown escaped.
for name in $'a\x1bb' $'a\x07b' $'a\xc2\x9bb' $'a\x7fb'; do
  "$vidange" export "$db" "$name" "$work/x.txt" >"$work/out"
  "$vidange" sql "$work/$name.mdb" "SELECT 1" 2>>"$work/out"
  check "no raw control character for $(printf %q "$name")" 0 \
    "$(LC_ALL=C grep -c $'[\x01-\x09\x0b-\x1f\x7f]\\|\xc2[\x80-\x9f]' "$work/out")"
done
check "ESC shown as \\x1B" "ERR3078 (TABLE a\\x1Bb):" "$("$vidange" export "$db" $'a\x1bb' "$work/x.txt" | cut -c1-23)"

# Output that does not reach its destination fails the call with status 1 and an ERR line:
# 61 on a full disk, 57 on a closed standard output. A SELECT's lost rows stop the call before
# the next statement, so a DELETE meant to follow a saved copy never runs.
"$vidange" sql "$db" "SELECT * FROM [T]" "DELETE * FROM [T]" >/dev/full 2>"$work/err"
check "SELECT rows onto a full disk" "1 ERR61:Disque plein" "$? $(cat "$work/err")"
check "and the DELETE after it not run" 4 "$("$vidange" sql "$db" "SELECT * FROM [T]" | wc -l)"
"$vidange" --help >/dev/full 2>"$work/err"
check "--help onto a full disk" "1 ERR61:Disque plein" "$? $(cat "$work/err")"
"$vidange" export "$db" T "$work/t.txt" >&- 2>"$work/err"
check "a result onto a closed standard output" "1 ERR57:Erreur d'entrée/sortie de périphérique" \
  "$? $(cat "$work/err")"
"$vidange" sql "$db" "DELETE * FROM [T] WHERE [A]='absent'" >&-
check "a closed standard output given nothing is no failure" 0 $?

# An import waiting for another program's write: one result line, the last word.
printf 'x|1|1\r\n' >"$work/x.txt"
(sqlite3 "$db" "BEGIN IMMEDIATE; SELECT 1;" ".shell sleep 7" "COMMIT;" >/dev/null 2>&1 &)
sleep 1
"$vidange" import "$db" T "$work/x.txt" --mode clear >"$work/out"
check "an import refused by another writer exits 1" 1 $?
check "with one result line, the lock's" "1 ERR3050 (TABLE T):" "$(wc -l <"$work/out") $(cut -c1-18 "$work/out")"
check "and the table keeps its rows" 4 "$("$vidange" sql "$db" "SELECT * FROM [T]" | wc -l)"

end_checks
