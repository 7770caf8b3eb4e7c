#!/usr/bin/env bash
# The whole test suite once more, built with the address and
# undefined-behaviour sanitizers (QEL_SANITIZE) into build-asan (or
# $BUILD_DIR), without the benchmarks.  Any sanitizer report fails the run:
# every process (the tests and each molv they start) stops at the first one
# with exit status 86, which no test expects, and leaks are reported at exit.
# Leaks inside Assimp's own .x reader, when it refuses a file, are Assimp's
# and not looked at; nor are what OpenGL's libraries (Mesa, its software
# renderer, Togl) keep until the process ends.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build-asan}
"$top/tools/install-deps.sh"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-Debug} -DQEL_SANITIZE=ON \
  -DQEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"${JOBS:-2}"
printf 'leak:%s\n' libassimp.so libGLX_mesa.so swrast_dri.so libgallium libLLVM libTogl.so \
  libglapi.so libGLdispatch.so >"$build/lsan-suppressions.txt"
export ASAN_OPTIONS=${ASAN_OPTIONS:-exitcode=86:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-exitcode=86:print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$build/lsan-suppressions.txt}
ctest --test-dir "$build" -j"${JOBS:-2}" --output-on-failure
