#!/usr/bin/env bash
# talveron-mpi when things go wrong: a write failure on rank 0 ends every
# rank with status 1; a Ctrl+C to mpirun and a rank killed with -9 end the
# job, with rank 0's complete records kept and named; a slow rank is waited
# for, with few finished replicates held. A hang fails here
# (timeout) instead of stalling the tests.
#   faults_test.sh TALVERON_MPI MPIRUN TALVERON_BATCH
set -euo pipefail
mpi="$1"
mpirun="$2"
batch="$3"
work="$(mktemp -d)"
reader=""
trap '[ -z "$reader" ] || kill "$reader" 2>/dev/null || true; rm -rf "$work"' EXIT
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
export OMPI_MCA_rmaps_base_oversubscribe=1

fail() { echo "FAIL: $*" >&2; [ ! -f "$work/err" ] || cat "$work/err" >&2; exit 1; }

# The records of a timed data file are whole: it ends a line, and every
# line after the legend has nine fields.
complete_records() {
  python3 - "$1" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
legend = b"A\tB\tC\tD\tE\tF\tG\tH\tI\r\r"
at = data.find(legend)
records = data[at + len(legend):] if at >= 0 else None
sys.exit(0 if records is not None and (not records or records.endswith(b"\r"))
         and records.count(b"\t") == 8 * records.count(b"\r") else 1)
PY
}

long=(--seed 3 --replicates 100000 --generations 50)

# A write failure part way: the trace goes to a pipe whose reader leaves
# after 200 kB, while the ranks send replicates too long to be taken
# without rank 0 receiving them.
mkfifo "$work/trace.fifo"
head -c 200000 "$work/trace.fifo" >/dev/null &
reader=$!
status=0
timeout -k 5 120 "$mpirun" -n 3 "$mpi" --seed 3 --replicates 1000 --generations 400 -q --out "$work/w.txt" \
  --trace "$work/trace.fifo" \
  2>"$work/err" || status=$?
[ "$status" -eq 1 ] || fail "a write failure on rank 0 ended with $status, not 1"
grep -q "cannot write '$work/trace.fifo': Broken pipe" "$work/err" || fail "the failure is not named"
grep -q "kept [0-9]* complete records in $work/w.txt.partial" "$work/err" || fail "no kept line"
complete_records "$work/w.txt.partial" || fail "the data file is cut inside a record after a write failure"
[ ! -e "$work/w.txt" ] || fail "a failed series put its file in place"

# A full device from the start.
status=0
timeout -k 5 120 "$mpirun" -n 3 "$mpi" "${long[@]}" -q --out /dev/full 2>"$work/err" || status=$?
[ "$status" -eq 1 ] || fail "--out /dev/full ended with $status, not 1"

# Starts a long series in the background and waits until rank 0 has
# written records; sets job and leaves the data file in $work/$1.txt.
start() {
  rm -f "$work/err"
  "$mpirun" -n 3 "$mpi" "${long[@]}" --verbose --out "$work/$1.txt" 2>"$work/err" &
  job=$!
  for _ in $(seq 600); do
    grep -q "replicate 10: seed" "$work/err" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "$1: no records after a minute"
}

# Waits (at most two minutes) for the job to end; sets status.
finish() {
  for _ in $(seq 1200); do
    kill -0 "$job" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$job" 2>/dev/null; then
    kill -9 "$job"
    fail "$1: still running two minutes later"
  fi
  status=0
  wait "$job" || status=$?
}

# Ctrl+C to mpirun. Open MPI's mpirun ends the ranks with SIGTERM and
# exits 1 whatever they return; rank 0 stops and keeps its records.
start int
kill -INT "$job"
finish int
[ "$status" -ne 0 ] || fail "int: a stopped series ended with status 0"
grep -q "stopped by SIG[A-Z]*: kept [0-9]* complete records in $work/int.txt.partial" "$work/err" ||
  fail "int: no kept line"
complete_records "$work/int.txt.partial" || fail "int: the data file is cut inside a record"
[ "$(grep -c "stopping at the end" "$work/err")" -le 1 ] || fail "int: more than rank 0 speak of the stop"

# A rank killed with -9: mpirun ends the others, rank 0 first keeps what
# is complete and says so. Open MPI may kill the ranks left before rank 0
# has said anything (at once when it aborts the job, else a second after
# asking them to stop): what must hold whenever it is killed is that its
# files end on a complete record.
OMPI_MCA_odls_base_sigkill_timeout=5 start killed
worker=""
for pid in $(pgrep -P "$job" || true); do
  if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "OMPI_COMM_WORLD_RANK=1"; then worker=$pid; fi
done
[ -n "$worker" ] || fail "killed: rank 1 not found"
kill -9 "$worker"
finish killed
[ "$status" -ne 0 ] || fail "killed: a job that lost a rank ended with status 0"
grep -q "kept [0-9]* complete records in $work/killed.txt.partial" "$work/err" ||
  echo "note: rank 0 was killed before it could say what it kept"
[ -s "$work/killed.txt.partial" ] || fail "killed: nothing kept"
complete_records "$work/killed.txt.partial" || fail "killed: the data file is cut inside a record"

# One rank slow (stopped with SIGSTOP for a while): rank 0 hands out
# replicates within a window and holds only a few finished ones behind the
# slow one, each in a temporary file; the others wait, and once the slow
# rank goes on the run ends with the bytes of one process.
slow=(--seed 5 --replicates 30 --generations 6000 -q)
# The stop may find rank 1 between two replicates, with nothing to hold
# behind it: then the run is tried again, up to three times.
rank_pid() {
  for pid in $(pgrep -P "$job" || true); do
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "OMPI_COMM_WORLD_RANK=$1"; then echo "$pid"; fi
  done
}
held_now() { ls -l "/proc/$root/fd" 2>/dev/null | grep -c talveron-held || true; }
for attempt in 1 2 3; do
  "$mpirun" -n 4 "$mpi" "${slow[@]}" --out "$work/slow.txt" --trace "$work/slow.trace" 2>"$work/err" &
  job=$!
  first="" root=""
  for _ in $(seq 300); do
    first=$(rank_pid 1) root=$(rank_pid 0)
    [ -z "$first" ] || [ -z "$root" ] || break
    sleep 0.1
  done
  [ -n "$first" ] && [ -n "$root" ] || fail "slow: ranks 0 and 1 not found"
  # Not before every rank is past MPI_Init (rank 0 has made its files), which
  # waits for all of them.
  for _ in $(seq 300); do
    [ ! -e "$work/slow.trace.partial" ] || break
    sleep 0.1
  done
  kill -STOP "$first"
  # Until three finished replicates wait behind the stopped one, then five
  # seconds more, in which the others run several replicates when not held.
  for _ in $(seq 600); do
    [ "$(held_now)" -lt 3 ] || break
    sleep 0.1
  done
  most=0
  for _ in $(seq 50); do
    held=$(held_now)
    [ "$held" -le "$most" ] || most=$held
    sleep 0.1
  done
  rss=$(awk '/VmRSS/ {print $2}' "/proc/$root/status")
  open_files=$(ls -l "/proc/$root/fd" 2>&1 || true)
  kill -CONT "$first"
  finish slow
  [ "$status" -eq 0 ] || fail "slow: a run with a slow rank ended with $status"
  [ "$most" -lt 3 ] || break
done
# 4 workers (rank 0 runs replicates too): at most 2 x 4 replicates taken
# ahead of the one due, and that one is not held.
[ "$most" -ge 3 ] && [ "$most" -le 7 ] ||
  fail "slow: rank 0 held $most replicates in files behind the slow one; its files: $open_files"
echo "rank 0 held at most $most replicates, $rss kB resident, behind a stopped rank"
"$batch" "${slow[@]}" --jobs 1 --out "$work/slow-one.txt" --trace "$work/slow-one.trace"
cmp "$work/slow.txt" "$work/slow-one.txt" || fail "slow: data file differs"
cmp "$work/slow.trace" "$work/slow-one.trace" || fail "slow: trace differs"

echo "talveron-mpi ended promptly after a write failure, a Ctrl+C and a lost rank, and waited for a slow rank"
