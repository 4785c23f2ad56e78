#!/bin/sh
# Snakemake's cluster-status command for the SLURM profile: prints running,
# success or failed for the batch job whose id is the argument (as
# `sbatch --parsable` printed it, "ID" or "ID;CLUSTER"). Without it a job that
# SLURM ends for its time or memory limit writes no flag file, and Snakemake
# would wait for it forever.
id=${1%%;*}
# The job allocation's state, the latest record when it was requeued.
state=$(sacct -j "$id" -X -n -P -o State 2>/dev/null | tail -n 1)
if [ -z "$state" ]; then
  # sacct may not list a job submitted a moment ago, nor answer while the
  # accounting daemon is busy; scontrol knows the jobs still in the queue.
  state=$(scontrol show job "$id" -o 2>/dev/null | sed -n 's/.*JobState=\([A-Z_]*\).*/\1/p')
fi
case "${state%% *}" in
  COMPLETED) echo success ;;
  "" | PENDING | CONFIGURING | RUNNING | COMPLETING | SUSPENDED | REQUEUED | REQUEUE_FED | REQUEUE_HOLD | RESIZING | \
    SIGNALING | STAGE_OUT | STOPPED) echo running ;;
  *) echo failed ;;  # FAILED, TIMEOUT, OUT_OF_MEMORY, CANCELLED, NODE_FAIL, PREEMPTED, BOOT_FAIL, DEADLINE, ...
esac
