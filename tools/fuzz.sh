#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz, with clang) and runs one of them,
# or each in turn, for a number of seconds.
#
#   tools/fuzz.sh TARGET SECONDS [libFuzzer flags...]
#   tools/fuzz.sh all 30
#
# TARGET: fuzz_scene, fuzz_format_number, fuzz_x_identifier, fuzz_options or
# all.  The seeds in tests/fuzz/corpus/TARGET are read; what the fuzzer adds
# goes to build-fuzz/corpus/TARGET (kept between runs, never into the
# repository), a finding to build-fuzz/findings/.  The exit status is not 0
# when a target found something (a crash, a sanitizer report, a failed
# check, a hang of more than 10 s or more than 2 GB of memory).
# FUZZ_BUILD_DIR overrides the build folder, FUZZ_JOBS runs that many
# fuzzing processes side by side (-fork).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$top/build-fuzz}
targets=(fuzz_scene fuzz_format_number fuzz_x_identifier fuzz_options)

if [ $# -lt 2 ]; then
  echo "usage: $0 TARGET|all SECONDS [libFuzzer flags...]" >&2
  echo "targets: ${targets[*]}" >&2
  exit 2
fi
target=$1
seconds=$2
shift 2
case "$seconds" in '' | *[!0-9]*) echo "$0: SECONDS must be a number" >&2; exit 2 ;; esac
if [ "$target" = all ]; then
  run=("${targets[@]}")
else
  case " ${targets[*]} " in
    *" $target "*) run=("$target") ;;
    *) echo "$0: unknown target '$target' (${targets[*]})" >&2; exit 2 ;;
  esac
fi

CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S "$top/tests/fuzz" -B "$build" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"${FUZZ_BUILD_JOBS:-2}" --target "${run[@]}" >/dev/null

# A sanitizer report ends the run with its own exit code, apart from the
# fuzzer's own.
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

status=0
for t in "${run[@]}"; do
  corpus=$build/corpus/$t
  findings=$build/findings
  mkdir -p "$corpus" "$findings"
  flags=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048
         -artifact_prefix="$findings/$t-" -print_final_stats=1)
  [ -f "$top/tests/fuzz/$t.dict" ] && flags+=(-dict="$top/tests/fuzz/$t.dict")
  [ -n "${FUZZ_JOBS:-}" ] && flags+=(-fork="$FUZZ_JOBS" -ignore_crashes=0)
  echo "== $t: $seconds s"
  log=$build/$t.log
  if "$build/$t" "${flags[@]}" "$@" "$corpus" "$top/tests/fuzz/corpus/$t" >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+ *DONE' "$log" || true
  else
    status=1
    echo "$t: FINDING (log: $log)" >&2
    grep -E 'ERROR|fuzz finding|SUMMARY|Test unit written|runtime error|deadly signal|timeout' \
      "$log" | head -20 >&2 || true
  fi
done
exit $status
