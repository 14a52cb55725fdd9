#!/usr/bin/env bash
# The window test's 192-dpi case, in a Wine prefix of its own whose LogPixels is 192 (kept
# in the build folder: only a first run boots it). Run inside an X display. The window's
# picture is left in OUTDIR as window-192dpi.png (.bmp without ImageMagick).
# usage: test_dpi192.sh TEST_EXE SOURCE_ROOT OUTDIR
set -euo pipefail
exe="$1" root="$2" out="$3"
export WINEPREFIX="$out/wineprefix-192dpi" WINEDEBUG=-all
trap '"$root/scripts/wine-prefix.sh" kill "$WINEPREFIX"' EXIT
"$root/scripts/wine-prefix.sh" boot "$WINEPREFIX"
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 192 /f \
    </dev/null >/dev/null 2>&1
rm -f "$out/window-192dpi.bmp" "$out/window-192dpi.png"
rc=0
(cd "$out" && "$root/scripts/wine-start" "$exe" --gtest_filter='*At192Dpi*') || rc=$?
if [ -f "$out/window-192dpi.bmp" ] && command -v convert-im6.q16 >/dev/null; then
    convert-im6.q16 "$out/window-192dpi.bmp" "$out/window-192dpi.png" && rm "$out/window-192dpi.bmp"
fi
exit $rc
