#!/usr/bin/env bash
# Every test: install what is missing, build, run the whole suite.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/install-deps.sh"
"$here/build.sh"
build=${BUILD_DIR:-$here/../build}
ctest --test-dir "$build" -j2 --output-on-failure
