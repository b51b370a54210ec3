# Sourced by the job scripts.
#
# Every output is written under a partial name beside it, and renamed to its
# final name only once the whole job has succeeded: a job stopped at any
# moment, even by SIGKILL, leaves nothing under a final name that could pass
# for a whole output. Snakemake's own record of unfinished jobs does not
# survive every kill, so it cannot be relied on for that.
#
# A job that fails, or is stopped by SIGTERM, SIGINT or SIGHUP, removes its
# partial files on the way out. One killed outright leaves them; they are
# removed when the job runs again. The host and process id in the name keep
# two attempts at one output apart: on a cluster, a job of a run that died
# may still be writing while the rerun makes the same output.

remove_on_exit=()
trap 'rm -f -- "${remove_on_exit[@]}"' EXIT

# partial VAR FINAL: VAR becomes the partial name of FINAL. What earlier
# attempts at FINAL left is removed.
partial() {
  local -n partial_name=$1
  rm -f -- "$2"~partial-*
  partial_name=$2~partial-$HOSTNAME-$$
  remove_on_exit+=("$partial_name")
}

# publish PARTIAL FINAL: PARTIAL takes the final name (a symbolic link too,
# whatever it points to).
publish() {
  mv -fT -- "$1" "$2"
}

# say LOG MESSAGE: MESSAGE on standard error, and at the end of LOG if it
# can be written (it may be on the disk that is full).
say() {
  echo "$2" >&2
  echo "$2" 2>/dev/null >>"$1" || true
}

# ended STATUS: how a process ended, from its exit status.
ended() {
  if (($1 == 153)); then
    echo "killed by SIGXFSZ, the file size limit (ulimit -f) reached"
  elif (($1 > 128)); then
    echo "killed by SIG$(kill -l "$1")"
  else
    echo "exit status $1"
  fi
}
