#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes a large source database for benchmarks of the installation run.

Usage:
  bench/make-conventions-source.py OUTPUT N [--vidange PATH] [--data DIR] [--force]

  OUTPUT     the database file to create, e.g. /tmp/bench/CONVENTIONS_TEST_KVEL.mdb
  N          number of rows of its Conventions table (0 to a few million)
  --vidange  the companion tool; default $VIDANGE, else build/vidange of this
             repository, else `vidange` on PATH
  --data     folder of the sample scripts (default: data/ of this repository)
  --force    remove OUTPUT first when it exists (otherwise it is refused)

The database has the schema of the sample source (data/schema-lexbase.sql and
data/schema-patbase.sql); its four small tables get the sample rows of
data/source-rows.sql, and its Conventions table gets N generated rows. Each
generated row takes its non-key values from one of the sample Conventions rows
and gets a key of its own, so every row is unique under the primary key
(NumOrganismeSignataire, TypeConvention, CritereSecondaire, TypeAccord, NumAMC,
IndicateurConventionGroupee). The output is deterministic for a given N.

The statements are streamed to `vidange sql OUTPUT --create --transaction` on its standard
input, a block at a time: no more than one block of rows is held in memory.
"""

import argparse
import math
import os
import shutil
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
KEY = ["NumOrganismeSignataire", "TypeConvention", "CritereSecondaire", "TypeAccord", "NumAMC",
       "IndicateurConventionGroupee"]
BLOCK_ROWS = 2000


def find_vidange(option):
    if option:
        return option
    if os.environ.get("VIDANGE"):
        return os.environ["VIDANGE"]
    built = os.path.join(REPO, "build", "vidange")
    if os.access(built, os.X_OK):
        return built
    found = shutil.which("vidange")
    if found:
        return found
    sys.exit("vidange not found: build it or give --vidange PATH")


def split_values(line):
    """The values of `INSERT INTO [t] values(...)`, each as written (quotes kept)."""
    start = line.index("values(") + len("values(")
    end = line.rindex(")")
    values, current, in_quote, i = [], [], False, start
    while i < end:
        ch = line[i]
        if in_quote:
            current.append(ch)
            if ch == "'":
                if i + 1 < end and line[i + 1] == "'":
                    current.append("'")
                    i += 1
                else:
                    in_quote = False
        elif ch == "'":
            in_quote = True
            current.append(ch)
        elif ch == ",":
            values.append("".join(current).strip())
            current = []
        else:
            current.append(ch)
        i += 1
    values.append("".join(current).strip())
    return values


def table_of(line):
    return line[len("INSERT INTO ["):line.index("]")]


def conventions_columns(schema_path):
    with open(schema_path, encoding="utf-8") as schema:
        for line in schema:
            if line.startswith("CREATE TABLE Conventions ("):
                body = line[len("CREATE TABLE Conventions ("):line.index(", CONSTRAINT")]
                return [part.split()[0] for part in body.split(", ")]
    sys.exit(f"{schema_path}: no CREATE TABLE Conventions line")


def unquote(value):
    return value[1:-1].replace("''", "'")


def main():
    parser = argparse.ArgumentParser(description="Write a large source database for benchmarks.")
    parser.add_argument("output")
    parser.add_argument("rows", type=int)
    parser.add_argument("--vidange")
    parser.add_argument("--data", default=os.path.join(REPO, "data"))
    parser.add_argument("--force", action="store_true")
    args = parser.parse_args()
    if args.rows < 0:
        sys.exit("N must be 0 or more")

    schema_files = [os.path.join(args.data, "schema-lexbase.sql"),
                    os.path.join(args.data, "schema-patbase.sql")]
    columns = conventions_columns(schema_files[1])
    if columns[:len(KEY)] != KEY:
        sys.exit(f"Conventions fields {columns[:len(KEY)]} do not start with the key {KEY}")

    small_rows, templates, templates_by_type = [], [], {}
    types, criteria, amcs, signatories = set(), set(), set(), set()
    with open(os.path.join(args.data, "source-rows.sql"), encoding="utf-8") as rows:
        for line in rows:
            line = line.rstrip("\n")
            if not line.startswith("INSERT INTO ["):
                continue
            table = table_of(line)
            if table != "Conventions":
                small_rows.append(line)
                if table == "CONVENTIONS_TYPE":
                    types.add(unquote(split_values(line)[0]))
                elif table == "CentreServicesAMC":
                    amcs.add(unquote(split_values(line)[0]))
                continue
            values = split_values(line)
            if len(values) != len(columns):
                sys.exit(f"sample Conventions row with {len(values)} values: {line[:80]}")
            rest = ", ".join(values[len(KEY):])
            templates.append(rest)
            templates_by_type.setdefault(unquote(values[1]), []).append(rest)
            signatories.add(int(unquote(values[0])))
            criteria.add(unquote(values[2]))
    if not templates:
        sys.exit("no sample Conventions rows in source-rows.sql")

    types, criteria, amcs = sorted(types), sorted(criteria), sorted(amcs)
    signatories = sorted(signatories)
    accords = [1, 2, 3]
    # Mixed-radix key: grouped, accord, type, criterion, AMC, signatory. Past
    # the sample signatories, numbers from 900000 on are added as needed.
    per_signatory = 2 * len(accords) * len(types) * len(criteria) * len(amcs)
    n_sign = max(len(signatories), math.ceil(args.rows / per_signatory))
    capacity = per_signatory * n_sign
    # A multiplier prime to the capacity spreads any N over all key values.
    step = 1000003
    while math.gcd(step, capacity) != 1:
        step += 2

    sign_text = [f"'{signatories[b] if b < len(signatories) else 900000 + b}'"
                 for b in range(n_sign)]
    type_text = [f"'{t}'" for t in types]
    crit_text = [f"'{c}'" for c in criteria]
    amc_text = [f"'{a}'" for a in amcs]
    accord_text = [f"'{a}'" for a in accords]
    n_types, n_crit, n_amc = len(types), len(criteria), len(amcs)
    # Non-key values come from a sample row of the same convention type.
    by_type = [templates_by_type.get(t) or templates for t in types]

    if os.path.lexists(args.output):
        if not args.force:
            sys.exit(f"{args.output} exists (use --force to replace it)")
        for suffix in ("", "-wal", "-shm", "-journal"):
            if os.path.lexists(args.output + suffix):
                os.remove(args.output + suffix)
    folder = os.path.dirname(os.path.abspath(args.output))
    os.makedirs(folder, exist_ok=True)

    vidange = find_vidange(args.vidange)
    started = time.monotonic()
    process = subprocess.Popen([vidange, "sql", args.output, "--create", "--transaction"],
                               stdin=subprocess.PIPE)
    pipe = process.stdin
    try:
        for path in schema_files:
            with open(path, "rb") as schema:
                pipe.write(schema.read())
        pipe.write(("\n".join(small_rows) + "\n").encode("utf-8"))

        block = []
        for index in range(args.rows):
            code = (index * step) % capacity
            grouped = code & 1
            code >>= 1
            accord = code % 3
            code //= 3
            type_index = code % n_types
            code //= n_types
            crit_index = code % n_crit
            code //= n_crit
            amc_index = code % n_amc
            code //= n_amc
            same_type = by_type[type_index]
            block.append(
                f"INSERT INTO [Conventions] values({sign_text[code]}, {type_text[type_index]}, "
                f"{crit_text[crit_index]}, {accord_text[accord]}, {amc_text[amc_index]}, "
                f"{'-1' if grouped else '0'}, {same_type[index % len(same_type)]})")
            if len(block) == BLOCK_ROWS:
                block.append("")
                pipe.write("\n".join(block).encode("utf-8"))
                block = []
        if block:
            block.append("")
            pipe.write("\n".join(block).encode("utf-8"))
        pipe.close()
    except BrokenPipeError:
        try:
            pipe.close()
        except OSError:
            pass
    status = process.wait()
    if status != 0:
        sys.exit(f"vidange failed with status {status}")
    elapsed = time.monotonic() - started
    print(f"{args.output}: Conventions {args.rows} rows, {len(small_rows)} rows in the other "
          f"tables, {elapsed:.1f} s", file=sys.stderr)


if __name__ == "__main__":
    main()
