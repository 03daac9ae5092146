#!/usr/bin/env bash
# talveron-mpi on 2 and 3 ranks against talveron-batch --jobs 1: the same
# data file and trace for a series, the same cell files and summary for a
# study; long replicates in bounded memory.
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

# A scheduled change, the trace's statistics and genotype samples travel
# between the ranks too.
scenario=(--seed 17 --replicates 4 --generations 50 --set density=2 --set restrictedNatalDispersal=1
          --change 21:natalDispersalRate=30 --stats --sample-every 20 -q)
mkdir "$work/scenario-one" "$work/scenario-mpi"
"$batch" "${scenario[@]}" --jobs 1 --out "$work/scenario-one/s.txt" --trace "$work/scenario-one/s.trace" \
  --genotypes "$work/scenario-one/s.vcf.gz"
"$mpirun" --oversubscribe -n 3 "$mpi" "${scenario[@]}" --out "$work/scenario-mpi/s.txt" \
  --trace "$work/scenario-mpi/s.trace" --genotypes "$work/scenario-mpi/s.vcf.gz" || fail "scenario exited $?"
for file in "$work"/scenario-one/*; do
  cmp "$file" "$work/scenario-mpi/$(basename "$file")" || fail "$(basename "$file") differs under MPI"
done
[ "$(ls "$work"/scenario-one | wc -l)" -eq 14 ] || fail "the scenario's files: $(ls "$work"/scenario-one)"

# Long replicates come back to rank 0 in pieces as they grow: the same
# bytes, and neither rank 0 nor a worker takes more memory for a replicate
# four times as long. Each rank's peak resident memory (kB) goes to
# $work/peak-GENERATIONS.RANK.
peak_of_ranks() {
  "$mpirun" --oversubscribe -n 3 python3 -c '
import os, resource, subprocess, sys
status = subprocess.call(sys.argv[2:])
with open(sys.argv[1] + "." + os.environ["OMPI_COMM_WORLD_RANK"], "w") as out:
    print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss, file=out)
sys.exit(status)' "$work/peak-$1" "$mpi" --seed 5 --replicates 2 --generations "$1" --record total --span 1 -q \
    --out "$work/long-$1.txt" --trace "$work/long-$1.trace" || fail "long replicates on 3 ranks exited $?"
}
peak_of_ranks 15000
peak_of_ranks 60000
"$batch" --seed 5 --replicates 2 --generations 15000 --record total --span 1 -q --jobs 1 \
  --out "$work/long-one.txt" --trace "$work/long-one.trace"
cmp "$work/long-one.txt" "$work/long-15000.txt" || fail "data file of long replicates differs"
cmp "$work/long-one.trace" "$work/long-15000.trace" || fail "trace of long replicates differs"
for rank in 0 1 2; do
  shorter=$(cat "$work/peak-15000.$rank")
  longer=$(cat "$work/peak-60000.$rank")
  # The longer run writes about 3 MB more trace per replicate.
  [ $((longer - shorter)) -lt 2048 ] || fail "rank $rank took $shorter kB, then $longer kB for longer replicates"
done
echo "talveron-mpi wrote the bytes of one process on 2 and 3 ranks"
