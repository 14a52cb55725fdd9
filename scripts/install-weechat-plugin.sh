#!/usr/bin/env bash
# Builds only the velkor plugin for WeeChat and copies velkor.so into WeeChat's
# plugin folder: $WEECHAT_HOME/plugins, else ~/.weechat/plugins when that folder exists
# (WeeChat's old layout), else $XDG_DATA_HOME/weechat/plugins (~/.local/share/weechat).
# Needs cmake, g++ and WeeChat's plugin header (Debian: weechat-dev).
# usage: scripts/install-weechat-plugin.sh [BUILD_DIR]   (default build/weechat-plugin)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/weechat-plugin}"
if [ ! -f /usr/include/weechat/weechat-plugin.h ] && [ ! -f /usr/local/include/weechat/weechat-plugin.h ]; then
    echo "install-weechat-plugin.sh: weechat-plugin.h not found (Debian: apt-get install weechat-dev)" >&2
    exit 1
fi
[ -f "$build/CMakeCache.txt" ] ||
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELKOR_ADDONS_ONLY=ON >/dev/null
cmake --build "$build" -j"${VELKOR_JOBS:-2}" --target velkor_weechat
if [ -n "${WEECHAT_HOME:-}" ]; then
    dest="$WEECHAT_HOME/plugins"
elif [ -d "$HOME/.weechat" ]; then
    dest="$HOME/.weechat/plugins"
else
    dest="${XDG_DATA_HOME:-$HOME/.local/share}/weechat/plugins"
fi
mkdir -p "$dest"
install -m 644 "$build/tools/weechat/velkor.so" "$dest/velkor.so"
echo "installed $dest/velkor.so"
echo "in WeeChat: /plugin load velkor   then   /velkor key #channel KEY TEXT"
