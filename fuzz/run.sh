#!/usr/bin/env bash
# Runs the fuzz targets of a KESTREL_FUZZ build, each for a given time, one
# after the other, from the seeds in fuzz/corpus/<target>/ and what earlier
# runs found (kept in BUILD/fuzz-corpus/<target>/; the seeds in the
# repository are never changed).
#
#   fuzz/run.sh BUILD SECONDS [TARGET...]     (default: every target)
#
# An input that breaks a property, crashes, leaks or hangs for more than 10 s
# is saved under BUILD/fuzz-artifacts/ and the script exits non-zero after
# the remaining targets have run. Reproduce one with
#   BUILD/fuzz/<target> BUILD/fuzz-artifacts/<file>
set -uo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 2 ] || { echo "usage: fuzz/run.sh BUILD SECONDS [TARGET...]" >&2; exit 2; }
build=$1
seconds=$2
shift 2
targets=("$@")
if ((${#targets[@]} == 0)); then
  for seeds in fuzz/corpus/*/; do targets+=("$(basename "$seeds")"); done
fi

failed=()
for t in "${targets[@]}"; do
  program=$build/fuzz/$t
  [ -x "$program" ] || { echo "fuzz/run.sh: $program is not built" >&2; failed+=("$t"); continue; }
  corpus=$build/fuzz-corpus/$t
  artifacts=$build/fuzz-artifacts/$t/
  mkdir -p "$corpus" "$artifacts"
  printf '\n==== %s: %s s\n' "$t" "$seconds"
  # -rss_limit_mb: the targets map a 34 MB response store or two.
  if ! "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 \
      -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus" "fuzz/corpus/$t" \
      2>"$build/fuzz-$t.log"; then
    tail -n 60 "$build/fuzz-$t.log"
    failed+=("$t")
  else
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^#[0-9]+.*DONE' "$build/fuzz-$t.log"
  fi
done
if ((${#failed[@]})); then
  echo "fuzz/run.sh: failed: ${failed[*]} (inputs under $build/fuzz-artifacts/)" >&2
  exit 1
fi
