#!/usr/bin/env bash
# install-weechat-plugin.sh builds the plugin alone: velkor.so lands in $WEECHAT_HOME/plugins
# and WeeChat loads it, while the build never looked for a test framework or another cipher
# library (a machine with only cmake, a compiler and weechat-dev builds it).
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
out="$(WEECHAT_HOME="$work/home" bash "$root/scripts/install-weechat-plugin.sh" "$work/build" 2>&1)" ||
    { echo "FAIL: the script failed: $out"; exit 1; }
[ -f "$work/home/plugins/velkor.so" ] || { echo "FAIL: no velkor.so installed: $out"; exit 1; }
looked="$(grep -iE "^[A-Za-z_]*(gtest|benchmark|gcrypt|botan|cryptopp)[A-Za-z_]*:" "$work/build/CMakeCache.txt")"
[ -z "$looked" ] || { echo "FAIL: the plugin build looked for: $looked"; exit 1; }
if command -v weechat-headless >/dev/null; then
    timeout 30 weechat-headless --dir "$work/home" -p \
        -r "/plugin load logger;/set logger.file.flush_delay 0;/plugin load velkor;/velkor list;/quit" >/dev/null 2>&1
    grep -q "velkor: no channel has a key" "$work/home/logs/core.weechat.weechatlog" ||
        { echo "FAIL: WeeChat did not load the installed plugin"; exit 1; }
fi
echo "ok: the plugin alone built, installed and loaded"
