#!/usr/bin/env bash
# Line-path benchmarks under Wine and Xvfb: latency between two users through ngircd, both
# users typing at once with a DDE conversation per channel line (send times, lines lost),
# incoming flood against a naive append, start-up and working set. Prints one table.
# usage: scripts/bench-e2e.sh [--lines N] [--twoway N] [--flood N] [--naive N] [--launches N]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs="${VELKOR_JOBS:-2}"
# VELKOR_BUILD names another Windows build folder (configured already).
if [ -n "${VELKOR_BUILD:-}" ]; then
    cmake --build "$VELKOR_BUILD" -j"$jobs" --target velkor ircpeer chat_driver bench_display >/dev/null
else
    cmake --preset windows >/dev/null
    cmake --build --preset windows -j"$jobs" --target velkor ircpeer chat_driver bench_display >/dev/null
fi
if [ -n "${DISPLAY:-}" ]; then
    exec python3 bench/e2e/bench_e2e.py "$@"
fi
exec xvfb-run -a -s "-screen 0 1024x768x24" python3 bench/e2e/bench_e2e.py "$@"
