#!/usr/bin/env bash
# Runs the README's Slurm job array for ftjpeg rd on a private single-node
# Slurm cluster and checks that the merged study equals one local run.
#
# munged, slurmctld and slurmd (Debian's munge and slurm-wlm) run as the
# calling user with their key, configuration, sockets, spool, state and logs
# in a temporary folder, never in /etc or /run, and with settings that need
# no cgroups (proctrack/linuxproc, task/none). The README's job script is
# taken from the README itself, with three shards of one core each over the
# bundled photographs instead of sixteen of four, and submitted with its
# afterok merge as the README writes it. summary.csv of the merge must equal
# the local run's byte for byte, and points.csv apart from its time columns.
# Both measure the two schemes of the original study (jpeg, hybrid) only, to
# keep the check to a minute or two.
# Every daemon started here is stopped on exit, whatever happens.
#   scripts/slurm-check.sh [BUILD_DIR]      (default build/)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)
build=$(cd "${1:-build}" && pwd)
fail() { echo "slurm-check: $*" >&2; exit 1; }
for program in munged munge slurmctld slurmd sbatch squeue scontrol sinfo python3; do
    command -v "$program" >/dev/null || fail "$program is missing (scripts/setup.sh --test installs munge and slurm-wlm)"
done
[ -x "$build/bin/ftjpeg" ] || fail "no $build/bin/ftjpeg; build first"

# munged wants every folder above its socket searchable by all and its key
# readable by its user alone.
top=$(mktemp -d /tmp/slurm-check.XXXXXX)
chmod 755 "$top"
mkdir -m 700 "$top/munge" "$top/state" "$top/spool" "$top/log"
mkdir -m 755 "$top/run" "$top/study"

started=()
stop_daemons() {
    set +e
    if [ -n "${SLURM_CONF:-}" ] && [ -f "$top/run/slurmctld.pid" ]; then
        # Jobs left by a failed check end first, so that no step outlives
        # the daemons.
        jobs=$(squeue -h -o %i 2>/dev/null)
        [ -n "$jobs" ] && scancel $jobs 2>/dev/null
        for _ in $(seq 50); do [ -z "$(squeue -h -o %i 2>/dev/null)" ] && break; sleep 0.2; done
    fi
    for name in slurmd slurmctld munged; do
        pid_file="$top/run/$name.pid"
        [ -f "$pid_file" ] || continue
        pid=$(cat "$pid_file")
        kill "$pid" 2>/dev/null
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null
    done
    if [ "${keep_logs:-0}" = 1 ]; then
        echo "slurm-check: logs kept in $top/log" >&2
    else
        rm -rf "$top"
    fi
}
keep_logs=1
trap stop_daemons EXIT
trap 'exit 1' INT TERM HUP

user=$(id -un)
host=$(hostname -s)
cpus=$(nproc)
read -r ctld_port slurmd_port < <(python3 -c '
import socket
sockets = [socket.socket() for _ in range(2)]
for s in sockets:
    s.bind(("127.0.0.1", 0))
print(*[s.getsockname()[1] for s in sockets])')

head -c 1024 /dev/urandom >"$top/munge/munge.key"
chmod 600 "$top/munge/munge.key"
munged --socket="$top/run/munge.socket" --key-file="$top/munge/munge.key" --pid-file="$top/run/munged.pid" \
    --log-file="$top/log/munged.log" --seed-file="$top/munge/munged.seed" \
    || { cat "$top/log/munged.log" >&2; fail "munged does not start"; }
munge -S "$top/run/munge.socket" -n | unmunge -S "$top/run/munge.socket" >/dev/null \
    || fail "munge cannot encode and decode a credential"

cat >"$top/slurm.conf" <<CONF
ClusterName=slurmcheck
SlurmctldHost=$host(127.0.0.1)
SlurmUser=$user
SlurmdUser=$user
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
AuthType=auth/munge
AuthInfo=socket=$top/run/munge.socket
CredType=cred/munge
StateSaveLocation=$top/state
SlurmdSpoolDir=$top/spool
SlurmctldPidFile=$top/run/slurmctld.pid
SlurmdPidFile=$top/run/slurmd.pid
SlurmctldLogFile=$top/log/slurmctld.log
SlurmdLogFile=$top/log/slurmd.log
PlugStackConfig=$top/plugstack.conf
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MpiDefault=none
ReturnToService=2
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=check Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
: >"$top/plugstack.conf"
export SLURM_CONF="$top/slurm.conf"

slurmctld -f "$SLURM_CONF" || { cat "$top/log/slurmctld.log" >&2; fail "slurmctld does not start"; }
slurmd -f "$SLURM_CONF" -N "$host" || { cat "$top/log/slurmd.log" >&2; fail "slurmd does not start"; }
for _ in $(seq 150); do
    [ "$(sinfo -h -n "$host" -o %T 2>/dev/null)" = idle ] && break
    sleep 0.2
done
[ "$(sinfo -h -n "$host" -o %T 2>/dev/null)" = idle ] \
    || { tail -20 "$top/log/slurmctld.log" "$top/log/slurmd.log" >&2; fail "the node does not come up idle"; }

# The study folder of the README: weights_out.txt and corpus/.
study="$top/study"
cp -r "$source_dir/data/photos" "$study/corpus"
QT_QPA_PLATFORM=offscreen "$build/bin/ftjpeg" workdir "$top/workdir" >/dev/null
cp "$top/workdir/weights_out.txt" "$study/"

# The README's block: job script, array submission, afterok merge.
block=$(awk '/^cat > rd-shard.sh <</ { on = 1 } on { print } on && /--wrap/ { exit }' "$source_dir/README.md")
[ -n "$block" ] || fail "README.md has no Slurm job-array example"
substitute() {
    local from=$1 to=$2
    [[ "$block" == *"$from"* ]] || fail "the README's example no longer holds '$from'"
    block=${block//"$from"/"$to"}
}
substitute "--array=0-15" "--array=0-2"
substitute '/16"' '/3"'
substitute "--cpus-per-task=4" "--cpus-per-task=1"
substitute "/shared/study" "$study"
# The two schemes of the original study, without matched ablations, keep the
# run short; sharding and merging do not depend on which schemes are measured.
schemes=(--schemes jpeg,hybrid --no-ablation)
substitute "ftjpeg rd corpus --shard" "ftjpeg rd corpus ${schemes[*]} --shard"
export PATH="$build/bin:$PATH" QT_QPA_PLATFORM=offscreen
submitted=$(cd "$study" && bash -c "$block") || fail "submitting the README's example failed: $submitted"
merge_job=$(sed -n 's/^Submitted batch job \([0-9]*\)$/\1/p' <<<"$submitted")
[ -n "$merge_job" ] || fail "no merge job was submitted: $submitted"

# Local run over the same input list while the cluster works.
(cd "$study" && ftjpeg rd corpus "${schemes[@]}" --out rd-local >"$top/log/local.log" 2>&1) || { cat "$top/log/local.log" >&2; fail "the local run failed"; }

state=
for _ in $(seq 3000); do
    state=$(scontrol show job "$merge_job" 2>/dev/null | sed -n 's/.*JobState=\([A-Z_]*\).*/\1/p')
    case "$state" in COMPLETED|FAILED|CANCELLED|TIMEOUT|NODE_FAIL|OUT_OF_MEMORY|PREEMPTED|BOOT_FAIL|DEADLINE) break ;; esac
    sleep 0.2
done
if [ "$state" != COMPLETED ]; then
    for log in "$study"/rd-shard-*.log "$study"/slurm-*.out; do [ -f "$log" ] && { echo "== $log"; cat "$log"; } >&2; done
    fail "the merge job ended $state"
fi
for shard in 0 1 2; do
    [ -f "$study/rd-shards/$shard/points.csv" ] || fail "shard $shard wrote no points.csv"
done

cmp "$study/rd/summary.csv" "$study/rd-local/summary.csv" || fail "the merged summary.csv differs from the local run's"
python3 - "$study/rd/points.csv" "$study/rd-local/points.csv" <<'PY' || fail "the merged points differ from the local run's"
import csv, sys
def rows(name):
    with open(name, newline="") as f:
        table = list(csv.reader(f))
    keep = [i for i, column in enumerate(table[0]) if not column.endswith("_ms")]
    return [[row[i] for i in keep] for row in table]
merged, local = rows(sys.argv[1]), rows(sys.argv[2])
if merged != local:
    for a, b in zip(merged, local):
        if a != b:
            print("merged:", a, "\nlocal: ", b, file=sys.stderr)
            break
    sys.exit(1)
print(f"slurm-check: {len(merged) - 1} points of {len(set(r[1] for r in merged[1:]))} images equal the local run's")
PY
keep_logs=0
echo "slurm-check: passed (3 array tasks and the afterok merge on $host) in ${SECONDS} s"
