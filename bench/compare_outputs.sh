#!/bin/sh
# Compares the output (standard output, standard error, exit status) of two
# imgchk binaries over the benchmark corpus in every mode, with -j1, -j2
# and -j8, without the cache and with a fresh cache (its first run and a
# second one against it), in audit runs (a DAT of the corpus written by
# BASELINE's --dir2dat, and examples/samples.dat on examples/roms) and JSON
# runs. Prints one line per run that differs and exits 1 if any does.
# Usage: bench/compare_outputs.sh BASELINE NEW [CORPUS]
#   CORPUS defaults to bench/out/corpus; make one with
#   python3 bench/make_corpus.py --scale 0.1 --out DIR
set -eu
[ $# -ge 2 ] || { echo "usage: $0 BASELINE NEW [CORPUS]" >&2; exit 2; }
repo=$(cd "$(dirname "$0")/.." && pwd)
baseline=$(realpath "$1")
new=$(realpath "$2")
corpus=$(realpath "${3:-$repo/bench/out/corpus}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

differing=0
runs=0

# run NAME BINARY ARGS...: from the corpus's folder, into $work/NAME.{out,err,status}
run() {
  name=$1
  binary=$2
  shift 2
  set +e
  (cd "$corpus" && "$binary" "$@" >"$work/$name.out" 2>"$work/$name.err")
  echo $? >"$work/$name.status"
  set -e
}

# compare LABEL ARGS...: both binaries, the same arguments
compare() {
  label=$1
  shift
  run base "$baseline" "$@"
  run new "$new" "$@"
  runs=$((runs + 1))
  for part in out err status; do
    if ! cmp -s "$work/base.$part" "$work/new.$part"; then
      echo "differs ($part): $label"
      differing=1
    fi
  done
}

# The same with a fresh cache for each binary: its first run, then a second.
compare_cached() {
  label=$1
  shift
  rm -f "$work/base.cache" "$work/new.cache"
  for round in first second; do
    run base "$baseline" "--cache=$work/base.cache" "$@"
    run new "$new" "--cache=$work/new.cache" "$@"
    runs=$((runs + 1))
    for part in out err status; do
      if ! cmp -s "$work/base.$part" "$work/new.$part"; then
        echo "differs ($part): --cache ($round run) $label"
        differing=1
      fi
    done
  done
}

trees="loose zip 7z targz small"
(cd "$corpus" && "$baseline" --dir2dat "$work/corpus.dat" $trees >/dev/null)

for jobs in -j1 -j2 -j8; do
  for mode in "" -m1 -m2 -pzc --json "-m1 --json" "-m2 --json" "-pzc --json" \
    "--dat $work/corpus.dat" "--dat $work/corpus.dat --json"; do
    # shellcheck disable=SC2086  # the mode is words
    compare "$jobs $mode" $jobs $mode $trees
    # shellcheck disable=SC2086
    compare_cached "$jobs $mode" $jobs $mode $trees
  done
  compare "$jobs samples.dat" $jobs --dat "$repo/examples/samples.dat" "$repo/examples/roms"
  compare "$jobs samples.dat --json" $jobs --json --dat "$repo/examples/samples.dat" "$repo/examples/roms"
  compare_cached "$jobs samples.dat" $jobs --dat "$repo/examples/samples.dat" "$repo/examples/roms"
done

echo "$runs runs compared; $([ $differing -eq 0 ] && echo "all the same" || echo "some differ")"
exit $differing
