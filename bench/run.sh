#!/bin/sh
# Runs the benchmark and writes bench/RESULTS.md; `bench/run.sh --help` lists
# the options (corpus scale, rounds, growth, which imgchk to measure).
set -eu
exec python3 "$(dirname "$0")/run.py" "$@"
