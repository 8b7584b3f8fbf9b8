#!/usr/bin/env bash
# Starts the converter from a build tree. Until the window exists, this shows the
# engine command-line program's usage.
set -u
build_dir=${1:-build}
"$build_dir/bin/ffmpeg_exec" || true
