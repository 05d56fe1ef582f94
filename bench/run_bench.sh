#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Benchmark of a whole installation run on a generated source whose
# Conventions has N rows (default 100000), against its transfers alone.
# usage: bench/run_bench.sh [N]     needs a built build/
set -euo pipefail
cd "$(dirname "$0")/.."
rows=${1:-100000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bench/make-conventions-source.py "$work/CONVENTIONS_TEST_KVEL.mdb" "$rows" --vidange build/vidange >/dev/null
build/bench/run_bench "$work/CONVENTIONS_TEST_KVEL.mdb" build/sample/dictionnaire/lexbase.mdb \
  build/sample/donnees/patbase.mdb
