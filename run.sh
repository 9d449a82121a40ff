#!/usr/bin/env bash
# Installs what is missing, builds, prepares build/workdir and starts the
# window there.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
scripts/prepare-workdir.sh

# Only the X11 and Wayland platforms (Qt's default here) need a display;
# offscreen, vnc and the like do not.
case "${QT_QPA_PLATFORM:-xcb}" in
    xcb*|wayland*) needs_display=true ;;
    *) needs_display=false ;;
esac
if $needs_display && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat >&2 <<'MSG'
run.sh: there is no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set).
Everything is built and build/workdir is ready. To start the window anyway:
  xvfb-run -a ./run.sh                      (a virtual X display; Debian package xvfb)
  QT_QPA_PLATFORM=offscreen ./run.sh        (no visible window at all)
MSG
    exit 1
fi

cd build/workdir
# The experiments run ssimdiff_cygwin from the search path.
export PATH="$PWD/../bin:$PATH"
exec ../bin/veltrano
