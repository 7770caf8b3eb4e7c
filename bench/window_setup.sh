# Sourced by the window's benchmarks: a Release build of molv and the
# plug-in in $build (build-bench/, or $BUILD_DIR as it is configured), a
# work folder $work with the grid of N x N quads (about 2 N^2 triangles)
# in $work/grid.obj, and a private Xvfb display $display; the folder and
# the display are gone when the script ends.
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build-bench}
if [ -n "${BUILD_DIR:-}" ] && [ -f "$build/CMakeCache.txt" ]; then
  :
elif [ -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
else
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQEL_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target molv qel_export >/dev/null

work=$(mktemp -d)
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

awk -v n="$n" 'BEGIN {
  printf "o grid\n";
  for (y = 0; y <= n; y++) for (x = 0; x <= n; x++)
    printf "v %.4f %.4f %.4f\n", x * 0.25, y * 0.25, sin(x * 0.1) * cos(y * 0.1);
  for (y = 0; y < n; y++) for (x = 0; x < n; x++) {
    a = y * (n + 1) + x + 1;
    printf "f %d %d %d\nf %d %d %d\n", a, a + 1, a + n + 2, a, a + n + 2, a + n + 1;
  }
}' > "$work/grid.obj"

exec 3<> <(:)
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 >/dev/null 2>&1 &
xvfb_pid=$!
read -r display <&3
