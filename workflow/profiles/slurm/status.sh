#!/usr/bin/env bash
# The state of a SLURM job for snakemake's --cluster-status: running,
# success or failed. Jobs the scheduler ends (time limit, memory, node
# failure) never report back themselves, so ask sacct, and scontrol while
# sacct does not know the job yet.
#   status.sh JOBID
set -euo pipefail
id=$1
state=$(sacct -j "$id" -X -n -P -o State 2>/dev/null | head -n 1) || state=
if [[ -z $state ]]; then
  state=$(scontrol show job "$id" 2>/dev/null | sed -n 's/.*JobState=\([A-Z_]*\).*/\1/p' | head -n 1) || state=
fi
case ${state%% *} in
  COMPLETED) echo success ;;
  "" | PENDING | CONFIGURING | RUNNING | COMPLETING | REQUEUED | REQUEUE_HOLD | RESIZING | SUSPENDED | STAGE_OUT | SIGNALING) echo running ;;
  *) echo failed ;; # FAILED, CANCELLED, TIMEOUT, OUT_OF_MEMORY, NODE_FAIL, PREEMPTED, ...
esac
