#!/usr/bin/env bash
# Starts the converter window from a build tree. Without a display (no X11 or
# Wayland session) the window cannot open: say so and point at the engine's
# command-line program instead.
set -u
build_dir=${1:-build}
program="$build_dir/bin/wardline-video-converter"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found (DISPLAY and WAYLAND_DISPLAY are not set): the converter window needs a desktop session." >&2
  echo "The same conversion runs from a terminal with $build_dir/bin/ffmpeg_exec, for example:" >&2
  echo "  $build_dir/bin/ffmpeg_exec -i recording.ts -c:v libx264 -profile:v baseline -level 3 -strict -2 out.mp4" >&2
  exit 1
fi
exec "$program"
