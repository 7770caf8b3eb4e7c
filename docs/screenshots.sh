#!/usr/bin/env bash
# Takes docs/window.png, docs/window-compare.png, docs/export-dialog.png and
# docs/export-progress.png
# from a real molv gui on a private Xvfb display.  Needs a build
# (tools/build.sh), Xvfb and Tk's Img package (Debian: xvfb libtk-img).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
work=$(mktemp -d)
trap 'rm -rf "$work"; [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null' EXIT

# A fresh plug-in folder: no options file of an earlier run.
cp -r "$build/plugin" "$work/plugin"
rm -f "$work/plugin/qel_export.opt"

mkfifo "$work/display"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1400x800x24 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
read -r number <"$work/display"
cd "$work"
DISPLAY=:$number "$build/bin/molv" gui --plugin-dir "$work/plugin" \
  --script "$top/docs/screenshots.tcl"
