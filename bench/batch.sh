#!/usr/bin/env bash
# A pipeline's batch: 68 models of Debian's assimp-testmodels (the first in
# name order of OBJ, PLY, STL, OFF and Collada) converted to .x by one
# `molv export` with its default --jobs (one process per core) against
# GNU parallel running `assimp export` two at a time over the same files.
# Each side runs RUNS times (default 5), alternating; the best and the
# median wall time of each and their ratio are printed.  Failing models
# (some of the set hold no faces) count as they come: both tools try them.
#
#   bench/batch.sh [RUNS]     with the build's molv in build/bin
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
molv=${MOLV:-$top/build/bin/molv}
models=/usr/share/assimp/models
runs=${1:-5}
for tool in "$molv" assimp parallel; do
  command -v "$tool" >/dev/null || { echo "batch.sh: $tool not found" >&2; exit 2; }
done
mapfile -t list < <(cd "$models" && find OBJ PLY STL OFF Collada -type f \
  \( -iname '*.obj' -o -iname '*.ply' -o -iname '*.stl' -o -iname '*.off' \
     -o -iname '*.dae' -o -iname '*.zae' \) | LC_ALL=C sort | head -68)
[ ${#list[@]} -eq 68 ] || { echo "batch.sh: needs assimp-testmodels (found ${#list[@]} models)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

seconds() {  # the wall time of the command line, in seconds
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }' 
}
run_molv() {
  rm -rf "$work/m"
  (cd "$models" && "$molv" export "${list[@]}" -o "$work/m/" --keep-extension --quiet)
}
run_assimp() {
  rm -rf "$work/a" && mkdir -p "$work/a"
  (cd "$models" && printf '%s\n' "${list[@]}" |
     parallel -j2 assimp export {} "$work/a/{#}.x")
}

molv_times=() assimp_times=()
for ((i = 0; i < runs; ++i)); do
  molv_times+=("$(seconds run_molv)")
  assimp_times+=("$(seconds run_assimp)")
done
stats() { printf '%s\n' "$@" | sort -n | awk '{ t[NR] = $1 } END { printf "%.2f %.2f", t[1], t[int((NR + 1) / 2)] }'; }
read -r molv_best molv_median <<<"$(stats "${molv_times[@]}")"
read -r assimp_best assimp_median <<<"$(stats "${assimp_times[@]}")"
echo "68 models, $runs runs each, $(nproc) cores"
printf '%-44s best %6.2f s  median %6.2f s\n' "molv export (default --jobs: $(nproc))" \
  "$molv_best" "$molv_median"
printf '%-44s best %6.2f s  median %6.2f s\n' "parallel -j2 assimp export" \
  "$assimp_best" "$assimp_median"
awk -v m="$molv_median" -v a="$assimp_median" \
  'BEGIN { printf "ratio molv / assimp (median): %.2f\n", m / a }' 
