#!/usr/bin/env bash
# Where one whole `molv export` goes, from the system calls that mark the
# steps of a run (strace, filtered in the kernel so that the calls between
# the marks cost nothing):
#
#   bench/phases.sh MOLV PLUGIN_DIR MODEL OUT_STEM [RUNS]
#
# Prints one table row per run, in milliseconds:
#   start     exec to the answer's memory file (the program's start, Tcl)
#   child     the fork to the child's first open of the model
#   read      to the child's progress that says the reader has its scene
#             (the reader's read of the file)
#   plan      to the progress that says the plan is made (the walk over
#             the scene, and freeing it)
#   hand-over to the parent's mapping of the answer (the child writing it,
#             and whatever the parent waits for besides)
#   model     the parent's model, from the mapped answer to the export's
#             start (the plug-in's start when it was not started before)
#   export    the export's temporary file to its first sync
#   syncs     the syncs and renames of the file, the folder and the
#             plug-in's options, and the private folder's removal
#   exit      to the end of the process
# The marks themselves (a few dozen traced calls) add about a millisecond.
set -euo pipefail
[ $# -ge 4 ] || { echo "usage: $0 MOLV PLUGIN_DIR MODEL OUT_STEM [RUNS]" >&2; exit 2; }
molv=$1 plugin=$2 model=$3 out=$4 runs=${5:-3}
command -v strace >/dev/null || { echo "phases.sh needs strace" >&2; exit 2; }
trace=$(mktemp /tmp/qel_phases_XXXXXX)
trap 'rm -f "$trace"' EXIT
calls=execve,memfd_create,clone,openat,write,mmap,exit_group,fsync,rename,renameat,rmdir
printf '| run | start | child | read | plan | hand-over | model | export | syncs | exit | whole |\n'
printf '|---|---|---|---|---|---|---|---|---|---|---|\n'
for run in $(seq "$runs"); do
  rm -f "$out.x"
  sync
  strace -f -ttt --seccomp-bpf -e trace="$calls" -e signal=none -o "$trace" \
    "$molv" export "$model" -o "$out" --plugin-dir "$plugin" --quiet
  awk -v run="$run" -v model="$model" '
    function mark(name, t) { if (!(name in at)) at[name] = t }
    { pid = $1; t = $2 }
    NR == 1 { parent = pid; mark("exec", t) }
    pid == parent && /memfd_create\("molv-read"/ { mark("memfd", t) }
    pid == parent && / clone\(/ && !/CLONE_THREAD/ { mark("fork", t) }
    # The child: the first other process that opens the model.
    pid != parent && child == "" && /openat\(/ && index($0, "\"" model "\"") { child = pid; mark("open", t) }
    # One byte on the progress pipe: 80 ("P") once the reader has its
    # scene, 90 ("Z") once the plan is made.
    pid == child && /write\([0-9]+, "[^"]*", 1\) = 1/ {
      if ($0 ~ /"Z"/) mark("planned", t); else if ($0 ~ /"P"/) mark("read", t)
    }
    pid == parent && ("planned" in at) && !("mapped" in at) && / mmap\(NULL, [0-9]+, PROT_READ, MAP_PRIVATE(\|MAP_POPULATE)?, [0-9]+, 0/ {
      mark("mapped", t)
    }
    pid == parent && /O_TMPFILE/ { mark("export", t) }
    pid == parent && / fsync\(/ { mark("sync", t) }
    pid == parent && /exit_group/ { mark("exit", t) }
    pid == parent && /\+\+\+ exited/ { mark("end", t) }
    END {
      n = split("exec memfd fork open read planned mapped export sync exit end", k, " ")
      for (i = 1; i <= n; ++i) if (!(k[i] in at)) { printf "| %d | (no mark %s) |\n", run, k[i]; exit }
      ms = "%.0f"
      printf "| %d |", run
      printf " " ms " | " ms " | " ms " | " ms " | " ms " | " ms " | " ms " | " ms " | " ms " | " ms " |\n",
        1e3 * (at["memfd"] - at["exec"]), 1e3 * (at["open"] - at["fork"]),
        1e3 * (at["read"] - at["open"]), 1e3 * (at["planned"] - at["read"]),
        1e3 * (at["mapped"] - at["planned"]), 1e3 * (at["export"] - at["mapped"]),
        1e3 * (at["sync"] - at["export"]), 1e3 * (at["exit"] - at["sync"]),
        1e3 * (at["end"] - at["exit"]), 1e3 * (at["end"] - at["exec"])
    }' "$trace"
done
