#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# `vidange copy` as a site uses it to bring Access databases into the engine's
# format: the copy of an Access file (Jet 3 and Jet 4, an encrypted Access
# 2010 file with its password) and of an engine
# database shows the same schema and the same rows as its source; a table
# that cannot be carried leaves no target; an existing target is refused.
# usage: copy_e2e.sh VIDANGE DATA   (DATA: the repository's tests/data/jet)
set -uo pipefail
vidange=$1
data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"

# Same schema and same rows, table by table, in source and target.
same_content() {  # same_content DESCRIPTION SOURCE TARGET
  check "$1: schema" "$("$vidange" schema "$2")" "$("$vidange" schema "$3")"
  local differing="" table
  while IFS=$'\t' read -r kind table; do
    [ "$kind" = table ] || continue
    if ! cmp -s <("$vidange" sql "$2" "SELECT * FROM [$table]") <("$vidange" sql "$3" "SELECT * FROM [$table]"); then
      differing+="$table "
    fi
  done < <("$vidange" schema "$2")
  check "$1: rows of every table" "" "$differing"
}

# A Jet 3 table name that is not ASCII: Table1 renamed "Tablé1" (0xE9, "é" in code page 1252,
# over the "e" of its name in the catalog's row).
cp "$data/corpus/V1997_testV1997.mdb" "$work/accent.mdb"
printf '\xe9' | dd of="$work/accent.mdb" bs=1 seek=$((0x9399 + 4)) conv=notrunc status=none
# A Jet 4 row whose dates reach the ends of the calendar: 01/01/9999 and 01/01/0632 written over
# two of its stored dates.
cp "$data/corpus/V2000_test2V2000.mdb" "$work/dates.mdb"
printf '\x00\x00\x00\x80\x8a\x91\x46\x41' | dd of="$work/dates.mdb" bs=1 seek=$((0x3ceae)) conv=notrunc status=none
printf '\x00\x00\x00\x00\x58\x44\x1c\xc1' | dd of="$work/dates.mdb" bs=1 seek=$((0x3ceec)) conv=notrunc status=none
for source in "$work/accent.mdb" "$work/dates.mdb" "$data/corpus/V1997_test2V1997.mdb" \
  "$data/corpus/V2000_testIndexPropertiesV2000.mdb" "$data/corpus/V2000_fixedTextTestV2000.mdb"; do
  target="$work/$(basename "$source" .mdb).copy"
  "$vidange" copy "$source" "$target" 2>"$work/err"
  check "copy of $(basename "$source")" "0 " "$? $(cat "$work/err")"
  same_content "$(basename "$source")" "$source" "$target"
done
check "the accented name in the copy" "Tablé1 Table2 Table3 Table4" \
  "$("$vidange" schema "$work/accent.copy" | awk -F'\t' '$1 == "table" {print $2}' | tr '\n' ' ' | sed 's/ $//')"

# An encrypted Access 2010 file copies with its password, and not without it.
encrypted="$data/ace/mdbreader_encryption_data_office-agile-4.4.accdb"
"$vidange" copy "$encrypted" "$work/encrypted.copy" --password wrong 2>"$work/err"
check "copy with a wrong password" "1 ERR3031: no target" \
  "$? $(cut -c1-8 "$work/err") $([ -e "$work/encrypted.copy" ] && echo target || echo no target)"
"$vidange" copy --password password "$encrypted" "$work/encrypted.copy" 2>"$work/err"
check "copy with the password" "0 " "$? $(cat "$work/err")"
check "the encrypted file's rows" "1|One 2|Two 3|Three" \
  "$("$vidange" sql "$work/encrypted.copy" "SELECT * FROM Table1" | tr '\n' ' ' | sed 's/ $//')"

"$vidange" sql "$work/V2000_fixedTextTestV2000.copy" "INSERT INTO users (i_user_id) values(9)" 2>"$work/err"
check "a field Access requires is required in the copy" "ERR3314:" "$(cut -c1-8 "$work/err")"

# An engine database copies too, keeping required fields required.
"$vidange" sql "$work/engine.db" --create \
  "CREATE TABLE T (A TEXT(10), B DOUBLE NOT NULL, C SINGLE, CONSTRAINT PrimaryKey PRIMARY KEY (A))" \
  "INSERT INTO T values('a', 0.1, 0.3)" "INSERT INTO T values('b', 1.0000000000000002, 16777217)"
"$vidange" copy "$work/engine.db" "$work/engine.copy"
check "copy of an engine database" 0 $?
same_content "engine database" "$work/engine.db" "$work/engine.copy"
"$vidange" sql "$work/engine.copy" "INSERT INTO T (A) values('c')" 2>"$work/err"
check "a required field stays required" "ERR3314:" "$(cut -c1-8 "$work/err")"

"$vidange" copy "$work/accent.mdb" "$work/two.copy" Table3 "tablé1" 2>"$work/err"
check "named tables only, in the order given" "$(printf 'Table3\nTablé1')" \
  "$("$vidange" schema "$work/two.copy" | awk -F'\t' '$1 == "table" {print $2}')"

before=$(od -An -tx1 "$work/engine.copy" | md5sum)
"$vidange" copy "$work/accent.mdb" "$work/engine.copy" 2>"$work/err"
check "an existing target is refused" "1 ERR3204:" "$? $(cut -c1-8 "$work/err")"
check "and left as it was" "$before" "$(od -An -tx1 "$work/engine.copy" | md5sum)"
"$vidange" copy "$work/accent.mdb" "$work/absent.copy" Absente 2>"$work/err"
check "a missing table" "1 ERR3265: absent" \
  "$? $(cut -c1-8 "$work/err") $([ -e "$work/absent.copy" ] && echo present || echo absent)"

# A field named "]" (written over the name "A" in Table1's definition), which
# no engine name may hold, is copied as ")" and said so.
cp "$data/corpus/V1997_testV1997.mdb" "$work/bracket.mdb"
printf ']' | dd of="$work/bracket.mdb" bs=1 seek=59614 conv=notrunc status=none
"$vidange" copy "$work/bracket.mdb" "$work/renamed.copy" Table1 2>"$work/err"
check "a bracket in a name: copied" "0 )" "$? $("$vidange" schema "$work/renamed.copy" | awk -F'\t' '$3 == 0 {print $4}')"
check "the renaming told" "Attention : table « Table1 », champ « ] » renommé « ) » : un nom du moteur ne contient pas de crochet." \
  "$(cat "$work/err")"
# With field "B" named ")" too, the two collide: the table cannot be carried,
# it is named, and no target is left, though the other tables were copied first.
printf ')' | dd of="$work/bracket.mdb" bs=1 seek=59616 conv=notrunc status=none
"$vidange" copy "$work/bracket.mdb" "$work/bracket.copy" Table2 Table1 Table3 2>"$work/err"
check "a table that cannot be carried fails the copy" 1 $?
check "it is named on standard error" "table « Table1 » non copiée : ERR3191" "$(tail -1 "$work/err" | cut -d: -f1-2)"
check "no target is left" "absent" "$(ls "$work" | grep -c '^bracket.copy' | sed 's/^0$/absent/')"

# An engine database's table that another program named with a bracket has
# no name in the statement dialect: refused with the engine's name error,
# before any table is copied.
"$vidange" sql --create "$work/named.db" "CREATE TABLE T (x LONG)"
sqlite3 "$work/named.db" 'CREATE TABLE "a]b" (x LONG)'
"$vidange" copy "$work/named.db" "$work/named.copy" 2>"$work/err"
check "a bracket in an engine table's name" "1 table « a]b » non copiée : ERR3125 absent" \
  "$? $(cut -d: -f1-2 "$work/err") $([ -e "$work/named.copy" ] && echo present || echo absent)"

# Rows that break their own table's rules (a Null in a required field,
# duplicates under a unique index) are all copied, each rule relaxed told.
"$vidange" copy "$data/ace/ucanaccess_corrupted.accdb" "$work/rules.copy" 2>"$work/err"
check "rows breaking their rules: copied" "0 2" "$? $("$vidange" sql "$work/rules.copy" "SELECT * FROM UK" | wc -l)"
check "each relaxed rule told" "$(printf '%s\n' \
  "Attention : table « NotNull », champ requis « notnull » : des lignes y sont Null ; copié comme champ facultatif." \
  "Attention : table « UK », index unique « uk » : des lignes y sont en double ; copié comme index simple.")" \
  "$(cat "$work/err")"

# Table3's map pointed at page 0 (in its definition, page 33): the listing
# fails with nothing on standard output, and the copy leaves no target.
cp "$data/corpus/V2000_indexTestV2000.mdb" "$work/map.mdb"
printf '\0' | dd of="$work/map.mdb" bs=1 seek=135224 conv=notrunc status=none
"$vidange" schema "$work/map.mdb" >"$work/out" 2>"$work/err"
check "a damaged table fails the listing" "1 ERR3049" "$? $(cut -c1-7 "$work/err")"
check "with nothing on standard output" "" "$(cat "$work/out")"
"$vidange" copy "$work/map.mdb" "$work/map.copy" 2>"$work/err"
check "and the copy" "1 absent" "$? $([ -e "$work/map.copy" ] && echo present || echo absent)"

end_checks
