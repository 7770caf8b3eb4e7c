#!/usr/bin/env bash
# The main job on a fresh machine: install what is missing, build molv and
# the plug-in (the tests and benchmarks build when the tests run), and
# export the built-in sample scene to sample.x in the current folder.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/install-deps.sh"
BUILD_TARGETS="molv qel_export" "$here/build.sh"
build=${BUILD_DIR:-$here/../build}
"$build/bin/molv" export "$@"
