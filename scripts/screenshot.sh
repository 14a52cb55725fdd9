#!/usr/bin/env bash
# Takes docs/screenshot.png: the chat window under Xvfb with a short encrypted conversation
# (the driver plays the IRC client's DDE server, sets a key, types and pokes lines).
# usage: scripts/screenshot.sh [OUTPUT.png]   (needs the windows build)
# VELKOR_BUILD names another Windows build folder; VELKOR_XVFB_NUM a fixed X display number.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(realpath -m "${1:-$root/docs/screenshot.png}")"
build="$(realpath -m "${VELKOR_BUILD:-$root/build/windows}")"
prefix="${WINEPREFIX:-$build/screenshot-prefix}"
unset WINEPREFIX # named inside the display's shell, so that the X server does not hold it
export WINEDEBUG=-all
cmake --build "$build" --target velkor screenshot_driver -j2 >/dev/null
mkdir -p "$(dirname "$out")"
server=(-a)
[ -n "${VELKOR_XVFB_NUM:-}" ] && server=(-n "$VELKOR_XVFB_NUM")
xvfb-run "${server[@]}" -s "-screen 0 800x600x24" bash -c '
    set -e
    export WINEPREFIX="$4"
    trap "\"$1\"/scripts/wine-prefix.sh kill \"\$WINEPREFIX\"" EXIT
    "$1"/scripts/wine-prefix.sh boot "$WINEPREFIX"
    log=$(mktemp)
    "$1"/scripts/wine-start "$3"/tests/window/screenshot_driver.exe 10 >"$log" 2>/dev/null &
    for _ in $(seq 200); do grep -q ready "$log" && break; sleep 0.1; done
    sleep 0.5
    xwd -root -silent -display "$DISPLAY" | convert-im6.q16 xwd:- -crop 600x450+0+0 +repage "$2"
    wait || true
    rm -f "$log"
' _ "$root" "$out" "$build" "$prefix"
echo "wrote $out"
