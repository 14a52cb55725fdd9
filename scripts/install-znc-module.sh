#!/usr/bin/env bash
# Builds the velkor module for ZNC (native preset) and copies velkor.so into the modules
# folder of a ZNC data folder (default ~/.znc, ZNC's own default), for the user who runs ZNC.
# Needs cmake, g++ and ZNC's module files (Debian: znc-dev).
# usage: scripts/install-znc-module.sh [ZNC_DATADIR] [BUILD_DIR]   (default ~/.znc build/native)
set -euo pipefail
cd "$(dirname "$0")/.."
datadir="${1:-$HOME/.znc}"
build="${2:-build/native}"
if [ ! -f /usr/share/znc/cmake/ZNCConfig.cmake ] && [ ! -f /usr/local/share/znc/cmake/ZNCConfig.cmake ]; then
    echo "install-znc-module.sh: ZNC's module files not found (Debian: apt-get install znc-dev)" >&2
    exit 1
fi
[ -f "$build/CMakeCache.txt" ] || cmake --preset native -B "$build" >/dev/null
cmake --build "$build" -j"${VELKOR_JOBS:-2}" --target velkor_znc
mkdir -p "$datadir/modules"
install -m 644 "$build/tools/znc/modules/velkor.so" "$datadir/modules/velkor.so"
echo "installed $datadir/modules/velkor.so"
echo "in your IRC client: /msg *status loadmod velkor   then   /msg *velkor key #channel KEY TEXT"
