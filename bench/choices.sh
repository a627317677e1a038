#!/usr/bin/env bash
# Times the draws that choose in another way than at random, against a plain draw, over the
# classic collection (Debian's fortunes packages, read through their .dat files):
#
#   plain       tallowmere
#   --today     the fortune of the day (a seeded draw: no state)
#   --fresh     a fortune of the round (reads every file's table, takes a lock, replaces its
#               state file with a synced write)
#   --json      a plain draw printed as JSON
#
#   bench/choices.sh
#
# Environment: RUNS (default 201), BUILD (the Release build directory, default build-bench),
# WORK (a directory for the --fresh state; a temporary one by default, removed at the end).
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS=${RUNS:-201}
source bench/lib.sh

bench_classic_tools
bench_build
bench_workdir
export tallowmere_datadir=$WORK/no-data tallowmere_classicdir=$CLASSIC_DIR
export XDG_STATE_HOME=$WORK/state
unset TALLOWMERE_PATH TALLOWMERE_PATH_ALL TALLOWMERE_PATH_NORMAL TALLOWMERE_PATH_OFFENSIVE

hyperfine -N --warmup 10 --runs "$RUNS" \
  -n plain "$TALLOWMERE" \
  -n today "$TALLOWMERE --today" \
  -n fresh "$TALLOWMERE --fresh" \
  -n json "$TALLOWMERE --json"
