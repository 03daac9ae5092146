#!/usr/bin/env bash
# talveron-mpi on 2 and 3 ranks against talveron-batch --jobs 1: the same
# data file and trace for a series, the same cell files and summary for a
# study.
#   mpi_test.sh TALVERON_MPI TALVERON_BATCH MPIRUN
set -euo pipefail
mpi="$1"
batch="$2"
mpirun="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# Tests run as root in containers; Open MPI refuses root unless told.
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
export OMPI_MCA_rmaps_base_oversubscribe=1

fail() { echo "FAIL: $*" >&2; exit 1; }

series=(--seed 31 --replicates 5 --generations 60 --set density=2 --record total --span 7 -q)
"$batch" "${series[@]}" --jobs 1 --out "$work/one.txt" --trace "$work/one.trace"

cat > "$work/study.toml" <<'TOML'
seed = 9
replicates = 3
generations = 40
record = "timed"
trace = true
[set]
density = 2
[vary]
selectionFactor = [0.2, 0.8]
gMatingPrefTarget = [0, 2]
TOML
"$batch" --study "$work/study.toml" --out-dir "$work/study-one" --jobs 1 -q

for ranks in 2 3; do
  "$mpirun" --oversubscribe -n "$ranks" "$mpi" "${series[@]}" --out "$work/mpi$ranks.txt" \
    --trace "$work/mpi$ranks.trace" || fail "series on $ranks ranks exited $?"
  cmp "$work/one.txt" "$work/mpi$ranks.txt" || fail "data file differs on $ranks ranks"
  cmp "$work/one.trace" "$work/mpi$ranks.trace" || fail "trace differs on $ranks ranks"

  "$mpirun" --oversubscribe -n "$ranks" "$mpi" --study "$work/study.toml" --out-dir "$work/study-$ranks" -q ||
    fail "study on $ranks ranks exited $?"
  for file in "$work"/study-one/cell-* "$work/study-one/summary.tsv"; do
    cmp "$file" "$work/study-$ranks/$(basename "$file")" || fail "$(basename "$file") differs on $ranks ranks"
  done
done
[ "$(ls "$work"/study-one/cell-*.txt | wc -l)" -eq 4 ] || fail "the study has not four cells"
echo "talveron-mpi wrote the bytes of one process on 2 and 3 ranks"
