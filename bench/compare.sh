#!/usr/bin/env bash
# Speed and memory of the plug-in against Assimp's own .x exporter, on
# freshly generated grids of about 100k, 1M and 4M triangles (one OBJ file
# each, with texture coordinates and smooth normals).
#
#   bench/compare.sh [SIZE...]      SIZE in triangles, default 100000 1000000 4000000
#
# The files (gigabytes for the 4M grid) are removed at the end, unless
# WORK_DIR names the folder to write them to: the page cache they fill
# would slow the writes of the next run.
#
# Builds a Release build in build-release/, then prints one table row per
# grid, where the time and memory of the whole molv process go, and the
# targets the plug-in and molv must meet.  Then the same for a tiny model
# (a grid of two triangles): `molv export` against `assimp export` in
# alternating pairs, and where its time goes.  The steps of a whole run
# (bench/phases.sh) need strace; without it they are left out.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build-release}
if [ -n "${WORK_DIR:-}" ]; then
  work=$WORK_DIR
  mkdir -p "$work"
else
  work=$(mktemp -d /tmp/qel_compare_XXXXXX)
  trap 'rm -rf "$work"' EXIT
fi
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100000 1000000 4000000)

# A new build leaves the tests out; an existing one (BUILD_DIR) keeps its own
# choice, so that pointing BUILD_DIR at a build with tests leaves them there.
if [ -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
else
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQEL_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target molv qel_export compare_tool >/dev/null

# A grid of n x n quads, each two triangles: vertices on a gentle height
# field, texture coordinates across the grid, smooth normals.
grid() {
  awk -v n="$1" 'BEGIN {
    printf "# grid of %d triangles\no grid\nmtllib grid.mtl\nusemtl skin\n", 2 * n * n;
    for (y = 0; y <= n; y++) for (x = 0; x <= n; x++) {
      z = sin(x * 0.1) * cos(y * 0.1);
      printf "v %.4f %.4f %.4f\n", x * 0.25, y * 0.25, z;
      printf "vt %.5f %.5f\n", x / n, y / n;
      nx = -0.1 * cos(x * 0.1) * cos(y * 0.1); ny = 0.1 * sin(x * 0.1) * sin(y * 0.1);
      l = sqrt(nx * nx + ny * ny + 1);
      printf "vn %.5f %.5f %.5f\n", nx / l, ny / l, 1 / l;
    }
    for (y = 0; y < n; y++) for (x = 0; x < n; x++) {
      a = y * (n + 1) + x + 1; b = a + 1; c = a + n + 2; d = a + n + 1;
      printf "f %d/%d/%d %d/%d/%d %d/%d/%d\n", a, a, a, b, b, b, c, c, c;
      printf "f %d/%d/%d %d/%d/%d %d/%d/%d\n", a, a, a, c, c, c, d, d, d;
    }
  }'
}

printf '%s\n' "newmtl skin" "Kd 0.8 0.7 0.6" "map_Kd grid.png" > "$work/grid.mtl"

declare -A plugin_s molv_s
targets=()
phases=()
steps=()
printf '\n| triangles | plug-in export | Assimp export | speed-up | numbers | ns/number | floor | export/floor | bytes/surface vertex | held/surface vertex | molv process | assimp process | process speed-up | process peak, molv/assimp |\n'
printf '|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n'
for size in "${sizes[@]}"; do
  n=$(awk -v t="$size" 'BEGIN { printf "%d", sqrt(t / 2) + 0.5 }')
  grid "$n" > "$work/grid.obj"
  declare -A r=()
  while read -r key value; do r[$key]=$value; done < <(
    "$build/bench/compare_tool" "$work/grid.obj" "$work" "$build/bin/molv" "$build/plugin")
  tri=$((2 * n * n))
  plugin_s[$tri]=${r[plugin_export_s]}
  molv_s[$tri]=${r[molv_wall_s]}
  awk -v t="$tri" -v p="${r[plugin_export_s]}" -v a="${r[assimp_export_s]}" -v num="${r[numbers]}" \
      -v f="${r[floor_s]}" -v b="${r[plugin_bytes_per_surface_vertex]}" \
      -v h="${r[plugin_held_bytes_per_surface_vertex]}" \
      -v mw="${r[molv_wall_s]}" -v mm="${r[molv_peak_mib]}" \
      -v aw="${r[assimp_wall_s]}" -v am="${r[assimp_peak_mib]}" 'BEGIN {
    printf "| %d | %.2f s | %.2f s | %.1fx | %d | %.0f | %.2f s | %.2f | %.1f | %.0f | %.2f s, %.0f MiB | %.2f s, %.0f MiB | %.1fx | %.2f |\n",
           t, p, a, a / p, num, p * 1e9 / num, f, p / f, b, h, mw, mm, aw, am, aw / mw, mm / am }'
  targets+=("$tri ${r[plugin_export_s]} ${r[assimp_export_s]} ${r[floor_s]} ${r[plugin_held_bytes_per_surface_vertex]} ${r[molv_wall_s]} ${r[molv_peak_mib]} ${r[assimp_wall_s]} ${r[assimp_peak_mib]} ${r[process_speedup_pairs]} ${r[assimp_reader_s]}")
  if command -v strace >/dev/null; then
    steps+=("$tri" "$("$top/bench/phases.sh" "$build/bin/molv" "$build/plugin" "$work/grid.obj" "$work/steps" 3 | tail -n +3)")
    rm -f "$work/steps.x"
  fi
  phases+=("$tri ${r[molv_wall_s]} ${r[assimp_read_s]} ${r[molv_load_s]} ${r[plugin_export_s]} ${r[molv_load_peak_mib]} ${r[molv_peak_mib]} ${r[plugin_held_bytes_per_surface_vertex]} ${r[surface_vertices]}")
done

# Where the whole molv process goes: Assimp's reading of the file and the
# rest of the load (the host's model), both timed inside the load of the
# median in-process run, the export (the same run) and what is left of the
# whole process's median (start, Tcl, writing back, exit); its peak memory
# at the end of the load and over the whole run.
printf '\n| triangles | molv process | Assimp reading | host model | export | rest | peak after load | peak | export held |\n'
printf '|---|---|---|---|---|---|---|---|---|\n'
for row in "${phases[@]}"; do
  read -r tri mw rd ld ex lp mm h sv <<< "$row"
  awk -v t="$tri" -v mw="$mw" -v rd="$rd" -v ld="$ld" -v ex="$ex" -v lp="$lp" -v mm="$mm" \
      -v h="$h" -v sv="$sv" 'BEGIN {
    host = ld - rd; if (host < 0) host = 0; rest = mw - ld - ex; if (rest < 0) rest = 0;
    printf "| %d | %.2f s | %.2f s | %.2f s | %.2f s | %.2f s | %.0f MiB | %.0f MiB | %.0f MiB |\n",
           t, mw, rd, host, ex, rest, lp, mm, h * sv / 1048576 }'
done

# The steps of whole runs, in milliseconds (bench/phases.sh says what each
# column holds), three runs of each grid.
if [ ${#steps[@]} -gt 0 ]; then
  printf '\n| triangles | run | start | child | read | plan | hand-over | model | export | syncs | exit | whole |\n'
  printf '|---|---|---|---|---|---|---|---|---|---|---|---|\n'
  for ((i = 0; i < ${#steps[@]}; i += 2)); do
    sed "s/^| /| ${steps[i]} | /" <<< "${steps[i + 1]}"
  done
fi

# A tiny model: what a run costs besides the model.
grid 1 > "$work/grid.obj"
declare -A tiny=()
while read -r key value; do tiny[$key]=$value; done < <(
  "$build/bench/compare_tool" --pairs 21 "$work/grid.obj" "$work" "$build/bin/molv" "$build/plugin")
printf '\nTiny model (2 triangles), 21 pairs in turn: molv export %.1f ms, assimp export %.1f ms, median ratio %.2f\n' \
  "$(awk -v s="${tiny[tiny_molv_wall_s]}" 'BEGIN { print s * 1000 }')" \
  "$(awk -v s="${tiny[tiny_assimp_wall_s]}" 'BEGIN { print s * 1000 }')" "${tiny[tiny_ratio]}"
if command -v strace >/dev/null; then
  "$top/bench/phases.sh" "$build/bin/molv" "$build/plugin" "$work/grid.obj" "$work/steps" 5
  rm -f "$work/steps.x"
fi

printf '\nTargets:\n'
awk -v r="${tiny[tiny_ratio]}" 'BEGIN { ok = (r <= 1.0) ? "ok" : "MISSED";
  printf "  tiny model: molv export at most the time of assimp export: %.2fx %s\n", r, ok }'
for row in "${targets[@]}"; do
  read -r tri p a f h mw mm aw am sp rd <<< "$row"
  awk -v t="$tri" -v p="$p" -v a="$a" -v f="$f" -v h="$h" -v mw="$mw" -v mm="$mm" -v aw="$aw" -v am="$am" \
      -v sp="$sp" -v rd="$rd" 'BEGIN {
    ok = (sp >= 5) ? "ok" : "MISSED"; printf "  %d triangles: molv export at least 5x faster than assimp export (pairs): %.1fx %s\n", t, sp, ok;
    ok = (mm <= am / 3) ? "ok" : "MISSED"; printf "  %d triangles: molv export peak at most a third of assimp export'"'"'s: %.0f of %.0f MiB %s\n", t, mm, am, ok;
    ok = (mw <= 1.2 * (rd + f)) ? "ok" : "MISSED"; printf "  %d triangles: molv export at most 1.2x of Assimp'"'"'s reader and the floor: %.2fx (%.2f s of %.2f + %.2f s) %s\n", t, mw / (rd + f), mw, rd, f, ok;
    ok = (a / p >= 10) ? "ok" : "MISSED"; printf "  %d triangles: export at least 10x faster than Assimp'"'"'s: %.1fx %s\n", t, a / p, ok;
    ok = (p / f <= 2) ? "ok" : "MISSED"; printf "  %d triangles: export at most 2x the formatting floor: %.2fx %s\n", t, p / f, ok;
    ok = (h <= 64) ? "ok" : "MISSED"; printf "  %d triangles: export holds at most 64 bytes per surface vertex: %.0f %s\n", t, h, ok }'
done
growth() {  # label, then "triangles seconds" lines
  awk -v label="$1" '$1 > 900000 && $1 < 1100000 { one = $2 } $1 > 3600000 && $1 < 4400000 { four = $2 }
    END { if (one > 0 && four > 0) { ok = (four / one <= 4.2) ? "ok" : "MISSED";
      printf "  growth: 4M triangles take %.2fx the time of 1M, %s (at most 4.2x) %s\n", four / one, label, ok } }'
}
for t in "${!plugin_s[@]}"; do echo "$t ${plugin_s[$t]}"; done | growth "the export"
for t in "${!molv_s[@]}"; do echo "$t ${molv_s[$t]}"; done | growth "the molv process"
if [ -n "${WORK_DIR:-}" ]; then echo "(files in $work)"; fi
