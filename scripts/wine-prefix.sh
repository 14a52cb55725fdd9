#!/usr/bin/env bash
# Boots a Wine prefix for the tests and the demo: run inside an X display (Xvfb).
# usage: wine-prefix.sh boot|kill PREFIX
set -euo pipefail
cmd="$1"
export WINEPREFIX="$2"
export WINEDEBUG=-all
case "$cmd" in
boot)
    # wineserver refuses a prefix folder that does not exist yet; wineboot -i fills it.
    mkdir -p "$WINEPREFIX"
    # Helper processes inherit stdout/stderr: start them first with nowhere to write,
    # so no caller's pipe is held open by them.
    wineserver -p </dev/null >/dev/null 2>&1
    wine wineboot -i </dev/null >/dev/null 2>&1 || true
    # Let Wine draw captions itself: no window manager runs under Xvfb.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 || true
    ;;
kill)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    ;;
*)
    echo "usage: wine-prefix.sh boot|kill PREFIX" >&2
    exit 2
    ;;
esac
