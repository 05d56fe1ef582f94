#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The installation from a script, as a site administrator runs it, and its
# verification, as support staff check it, on copies of the sample databases:
#   - vidange install runs the installer's run: only the completion message,
#     status 0, no transfer file left; vidange verify then finds every table
#     identical and both keys in place, also on read-only copies (writing
#     nothing there) and while another program holds an unfinished write;
#   - verify against targets altered by hand: a row deleted, one added, one
#     changed, a key dropped;
#   - two runs at once from two sources: one source's rows, never a mixture;
#   - each check's refusal (status 2, nothing opened) and a run that reports
#     its error (status 1);
#   - compare refuses two tables whose fields differ; progress is shown on a
#     terminal only, and --quiet silences it.
# usage: vidange_install_e2e.sh VIDANGE SAMPLE_FOLDER
set -uo pipefail
vidange=$1
sample=$2
work=$(mktemp -d)
writer=""
trap '[ -n "$writer" ] && kill "$writer" 2>/dev/null; chmod -R u+w "$work"; rm -rf "$work"' EXIT
# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"

readonly done_line="Installation des conventions de tests du KVEL : Installation terminée."
dict="$work/dictionnaire"
data="$work/donnees"

fresh_targets() {
  rm -rf "$dict" "$data"
  mkdir -p "$dict" "$data"
  cp "$sample/dictionnaire/lexbase.mdb" "$dict/"
  cp "$sample/donnees/patbase.mdb" "$data/"
}

# run ARGUMENTS...: sets status, out and err.
run() {
  "$vidange" "$@" >"$work/out" 2>"$work/err"
  status=$?
  out=$(cat "$work/out")
  err=$(cat "$work/err")
}

all_identical="CentreServicesAMC : identique
Conventions : identique
CONVENTIONS_REGROUPEMENT : identique
CONVENTIONS_TYPE : identique
CORRESPONDANCE_MUTNUM_AMC : identique
clé primaire de CONVENTIONS_REGROUPEMENT : en place (NumeroAMC,TypeConvention,CritereSecondaire,NumeroSignataire)
clé primaire de CONVENTIONS : en place (NumOrganismeSignataire,TypeConvention,CritereSecondaire,TypeAccord,NumAMC,IndicateurConventionGroupee)"

fresh_targets
run verify "$dict" "$data"
check "verify before the installation: status 1" "1" "$status"

run install "$dict" "$data"
check "install: status 0, only the completion message" "0 $done_line" "$status $err"
check "install: no transfer file left" "" "$(ls "$data" "$dict" | grep TB_)"
run verify "$dict" "$data" --source "$sample/CONVENTIONS_TEST_KVEL.mdb"
check "verify after the installation: all identical, status 0" "0 $all_identical" "$status $out"

# Read-only targets and source: the verification works and writes nothing.
cp "$sample/CONVENTIONS_TEST_KVEL.mdb" "$work/source.mdb"
chmod -R a-w "$dict" "$data" "$work/source.mdb"
before=$(ls -l "$dict" "$data")
run verify "$dict" "$data" --source "$work/source.mdb"
check "verify on read-only copies: status 0" "0 $all_identical" "$status $out"
check "verify on read-only copies: nothing written" "$before" "$(ls -l "$dict" "$data")"
chmod -R u+w "$dict" "$data" "$work/source.mdb"

# Another program in the middle of a write: verify sees the committed rows.
mkfifo "$work/statements"
"$vidange" sql "$data/patbase.mdb" --transaction <"$work/statements" >"$work/writer.out" 2>&1 &
writer=$!
exec 3>"$work/statements"
echo "DELETE * FROM [CONVENTIONS_TYPE]" >&3
echo "SELECT * FROM [CONVENTIONS_REGROUPEMENT]" >&3
for _ in $(seq 100); do [ -s "$work/writer.out" ] && break; sleep 0.1; done
run verify "$dict" "$data"
check "verify beside an unfinished write: the committed rows, status 0" "0 $all_identical" "$status $out"
kill "$writer"
wait "$writer" 2>/dev/null
writer=""
exec 3>&-

# Altered by hand: one row deleted, one added, one changed, a key dropped.
"$vidange" sql "$data/patbase.mdb" "DELETE * FROM [CONVENTIONS_TYPE] WHERE TypeConvention='AU1'" \
  "INSERT INTO [CONVENTIONS_TYPE] (TypeConvention, Libelle, TiersPayantIntegral, Actif) VALUES ('ZZ9', 'Ajout', 0, 0)" \
  "DELETE * FROM [CONVENTIONS_TYPE] WHERE TypeConvention='AU2'" \
  "INSERT INTO [CONVENTIONS_TYPE] (TypeConvention, Libelle, TiersPayantIntegral, Actif) VALUES ('AU2', 'Changé', 0, 0)" \
  "ALTER TABLE CONVENTIONS DROP CONSTRAINT PrimaryKey"
run verify "$dict" "$data"
check "verify after the changes: status 1" "1" "$status"
check "verify: the altered table's counts" "CONVENTIONS_TYPE : manquantes 1, en trop 1, différentes 1" \
  "$(grep '^CONVENTIONS_TYPE' <<<"$out")"
check "verify: the deleted, added and changed rows" "manquante : AU1|Audioprothèse – part complémentaire
en trop : ZZ9|Ajout
différente : AU2|Audioprothèse – tiers payant intégral => AU2|Changé" \
  "$(grep '^  ' <<<"$out" | sed -E 's/^  //; s/^([^|]*\|[^|]*)\|[^=]*(=> |$)/\1 \2/; s/=> ([^|]*\|[^|]*)\|.*/=> \1/; s/ $//')"
check "verify: the dropped key" "clé primaire de CONVENTIONS : absente, attendue (NumOrganismeSignataire,TypeConvention,CritereSecondaire,TypeAccord,NumAMC,IndicateurConventionGroupee)" \
  "$(grep '^clé primaire de CONVENTIONS :' <<<"$out")"
check "verify: the other tables untouched" "4" "$(grep -c ' : identique$' <<<"$out")"

# A column added by hand: that table is named, the others are still compared.
sqlite3 "$data/patbase.mdb" "ALTER TABLE CONVENTIONS_REGROUPEMENT ADD COLUMN Note TEXT"
run verify "$dict" "$data"
check "verify past a table it cannot compare: status 1, the table named, the others compared" \
  "1 CONVENTIONS_REGROUPEMENT : non comparée, ERR3265: 3" \
  "$status $(grep -o '^CONVENTIONS_REGROUPEMENT : non comparée, ERR[0-9]*:' <<<"$out") $(grep -c ' : identique$' <<<"$out")"

# Two runs at once from two sources: the second waits for the first; the
# targets end with one source's rows, never a mixture.
cp "$sample/CONVENTIONS_TEST_KVEL.mdb" "$work/autre.mdb"
"$vidange" sql "$work/autre.mdb" "DELETE * FROM [CONVENTIONS_TYPE] WHERE TypeConvention='AU1'"
fresh_targets
"$vidange" install "$dict" "$data" --quiet 2>"$work/err1" &
first=$!
"$vidange" install "$dict" "$data" --source "$work/autre.mdb" --quiet 2>"$work/err2" &
second=$!
wait "$first"
first_status=$?
wait "$second"
check "two runs at once: both complete" "0 0 $done_line $done_line" "$first_status $? $(cat "$work/err1") $(cat "$work/err2")"
identical=0
for source in "$sample/CONVENTIONS_TEST_KVEL.mdb" "$work/autre.mdb"; do
  "$vidange" verify "$dict" "$data" --source "$source" >/dev/null && identical=$((identical + 1))
done
check "two runs at once: the targets hold exactly one source's rows" "1" "$identical"
check "two runs at once: no transfer file left" "" "$(ls "$data" "$dict" | grep TB_)"

# The checks refuse the folders with the run's messages, status 2, opening nothing.
fresh_targets
sums=$(md5sum "$dict/lexbase.mdb" "$data/patbase.mdb")
while IFS=';' read -r dictionary_folder data_folder message; do
  run install "$dictionary_folder" "$data_folder"
  check "install '$dictionary_folder' '$data_folder': refused, status 2" "2 Attention : $message" "$status $err"
done <<EOF_CASES
;$data;Le chemin de la base Lexbase.mdb n'est pas spécifié !
$dict;;Le chemin de la base Patbase.mdb n'est pas spécifié !
$work/nulle-part;$data;Base $work/nulle-part/lexbase.mdb non trouvée !
$dict/;$dict;Base $dict/patbase.mdb non trouvée !
EOF_CASES
check "refused runs: the databases untouched, nothing left beside them" "$sums
lexbase.mdb
patbase.mdb" "$(md5sum "$dict/lexbase.mdb" "$data/patbase.mdb"; ls "$dict"; ls "$data")"

# A source that cannot be opened: the error report, then the completion message, status 1.
run install "$dict" "$data" --source "$work/absente.mdb"
check "install with a missing source: error report then completion, status 1" \
  "1 Erreur d'installation : Une erreur est survenue lors de l'ajout des conventions de tests dans la base ! erreur n°3024 Le fichier « $work/absente.mdb » est introuvable.
$done_line" "$status $err"

# compare: tables of different fields are refused with the field named.
run compare "$data/patbase.mdb" CONVENTIONS_TYPE "$data/patbase.mdb" CONVENTIONS_REGROUPEMENT
check "compare of different field lists: refused, status 2" \
  "2 ERR3265:Les tables « CONVENTIONS_TYPE » et « CONVENTIONS_REGROUPEMENT » n'ont pas les mêmes champs : le champ « Libelle » manque à la table « CONVENTIONS_REGROUPEMENT »." \
  "$status $err"

# compare by value: on each line, two one-row tables whose values differ in the way named.
while IFS=';' read -r what first_fields first_row second_fields second_row; do
  rm -f "$work/one.mdb" "$work/two.mdb"
  sqlite3 "$work/one.mdb" "CREATE TABLE T ($first_fields); INSERT INTO T VALUES ($first_row)"
  sqlite3 "$work/two.mdb" "CREATE TABLE T ($second_fields); INSERT INTO T VALUES ($second_row)"
  run compare "$work/one.mdb" T "$work/two.mdb"
  check "compare: $what, status 1" "1" "$status"
done <<EOF_CASES
a separator inside a value;A TEXT(10), B TEXT(10);'x|', 'y';A TEXT(10), B TEXT(10);'x', '|y'
Null and an empty text;A TEXT(10);NULL;A TEXT(10);''
a Double's last bit;A DOUBLE;0.1;A DOUBLE;0.30000000000000004-0.2
42 in a Long and '42' in a Text;A LONG;42;A TEXT(10);'42'
EOF_CASES
rm -f "$work/one.mdb" "$work/two.mdb"
sqlite3 "$work/one.mdb" "CREATE TABLE T (A LONGTEXT, B LONG); INSERT INTO T VALUES ('x' || char(10) || 'y|', NULL)"
sqlite3 "$work/two.mdb" "CREATE TABLE T (A LONGTEXT, B LONG)"
run compare "$work/one.mdb" T "$work/two.mdb"
check "compare: a row holding a line break, listed on one line, escaped" "1 manquantes 1, en trop 0, différentes 0
  manquante : x\\ny\\||\\N" "$status $out"
sqlite3 "$work/two.mdb" "INSERT INTO T VALUES ('x' || char(10) || 'y|', 1.7)"
run compare "$work/one.mdb" T "$work/two.mdb"
check "compare: 1.7 stored in a Long field ends the comparison, status 1" \
  "1 ERR3421:Erreur de conversion de type de données : dans la table « T », le champ « B » (Entier long) de la ligne 1 contient le réel 1.7, qui ne convient pas à ce champ." \
  "$status $err"

# Progress: on a terminal only (through script), silenced by --quiet.
"$vidange" sql "$work/big.mdb" --create "CREATE TABLE T (N LONG)" >/dev/null
seq 1 9000 | sed 's/.*/INSERT INTO T VALUES (&)/' | "$vidange" sql "$work/big.mdb" --transaction
if command -v script >/dev/null; then
  shown=$(script -qec "'$vidange' compare '$work/big.mdb' T '$work/big.mdb' T" /dev/null | tr '\r' '\n')
  check "progress on a terminal: rows done of the table" "T : 8192 lignes" "$(grep -o 'T : 8192 lignes' <<<"$shown" | head -n1)"
  shown=$(script -qec "'$vidange' compare '$work/big.mdb' T '$work/big.mdb' T --quiet" /dev/null | tr -d '\r')
  check "progress with --quiet: nothing but the result" "identique" "$shown"
fi
run compare "$work/big.mdb" T "$work/big.mdb" T
check "progress off a terminal: nothing on standard error" "0 identique " "$status $out $err"

end_checks
