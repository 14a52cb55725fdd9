#!/usr/bin/env bash
# Soak run, bounded in time (not a test): velkor under Wine beside ircpeer as its IRC client,
# a second user through another ircpeer on a private ngircd, and a third process flooding
# velkor's DDE server with pokes, some of them hostile. Prints velkor's working set, private
# bytes, handle and GUI object counts as a table, before, during and after.
# usage: scripts/soak.sh            (SOAK_SECONDS=300 by default; SOAK_SECONDS=30 to try it)
# Needs the Windows build (velkor, ircpeer, ddesink, soak_probe). Uses its own Wine prefix,
# SOAK_PREFIX (default /tmp/velkor-soak-prefix); SOAK_KEEP=1 keeps the logs.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
seconds="${SOAK_SECONDS:-300}"
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi
# Named only now, so that the X server does not hold the prefix in its environment.
export WINEPREFIX="${SOAK_PREFIX:-/tmp/velkor-soak-prefix}"
export WINEDEBUG=-all

bin="$root/build/windows"
for exe in app/velkor.exe harness/ircpeer/ircpeer.exe harness/ddesink.exe \
    tests/hostile/soak_probe.exe; do
    [ -f "$bin/$exe" ] || { echo "missing $bin/$exe: build the windows preset first" >&2; exit 2; }
done
run() { "$root/scripts/wine-start" "$@" </dev/null; }
probe() { run "$bin/tests/hostile/soak_probe.exe" "$@" 2>/dev/null | tr -d '\r'; }

work="$(mktemp -d /tmp/velkor-soak.XXXXXX)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    "$root/scripts/ngircd.sh" stop "$work/irc" >/dev/null 2>&1 || true
    "$root/scripts/wine-prefix.sh" kill "$WINEPREFIX"
    if [ -n "${SOAK_KEEP:-}" ]; then echo "logs kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

wait_for() { # FILE REGEX SECONDS
    local end=$((SECONDS + $3))
    while ((SECONDS < end)); do
        grep -Eq -- "$2" "$1" 2>/dev/null && return 0
        sleep 0.2
    done
    echo "no /$2/ in $(basename "$1") within $3 s" >&2
    exit 1
}

"$root/scripts/wine-prefix.sh" boot "$WINEPREFIX"
port="$("$root/scripts/ngircd.sh" start "$work/irc")"

# alice: velkor with ircpeer as its IRC client (command server "mirc", pokes into velkor)
run "$bin/harness/ircpeer/ircpeer.exe" --server "127.0.0.1:$port" --nick alice --join '#velkor' \
    --oper tester:secret >"$work/alice.log" 2>&1 &
pids+=($!)
# bob: another ircpeer; his remote event pokes into a sink that stands in for his add-on
run "$bin/harness/ddesink.exe" --out "Z:$work/bob-sink.txt" --service bobview \
    --topic bobview --seconds $((seconds + 120)) >"$work/bob-sink.log" 2>&1 &
pids+=($!)
run "$bin/harness/ircpeer/ircpeer.exe" --server "127.0.0.1:$port" --nick bob --join '#velkor' \
    --oper tester:secret --service mircbob --target-service bobview --target-topic bobview \
    >"$work/bob.log" 2>&1 &
pids+=($!)
wait_for "$work/alice.log" "^-- joined #velkor" 30
wait_for "$work/bob.log" "^-- joined #velkor" 30

run "$bin/app/velkor.exe" >/dev/null 2>&1 &
pids+=($!)
[ "$(probe wait 30)" = up ] || { echo "velkor did not start" >&2; exit 1; }
sleep 3

table="$work/table.txt"
# The Linux process that runs velkor.exe in this prefix: its resident set and open files.
velkor_pid=""
linux_stats() {
    if [ -z "$velkor_pid" ]; then
        for pid in $(pgrep -f 'velkor\.exe' || true); do
            if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
                velkor_pid="$pid"
                break
            fi
        done
    fi
    [ -n "$velkor_pid" ] || return 0
    printf 'rss_kb=%s fds=%s' "$(awk '/^VmRSS/ { print $2 }' "/proc/$velkor_pid/status")" \
        "$(ls "/proc/$velkor_pid/fd" | wc -l)"
}
sample() { # LABEL
    printf '%-10s %s %s\n' "$1" "$(probe stats)" "$(linux_stats)" >>"$table"
}
sample "start"

probe type "$seconds" 400 >"$work/type.txt" &
typer=$!
probe say mircbob "$seconds" 300 >"$work/say.txt" &
sayer=$!
probe flood "$seconds" >"$work/flood.txt" &
flooder=$!

step=$((seconds / 5))
((step > 0)) || step=1
for i in 1 2 3 4 5; do
    sleep "$step"
    sample "t+$((i * step))s"
done
wait "$typer" "$sayer" "$flooder" || true
sleep 3
sample "end"

alice_shown="$(probe stats | sed -n 's/.*display=\([0-9]*\).*/\1/p')"
bob_got="$(grep -c 'alice line' "$work/bob-sink.txt" 2>/dev/null || true)"
alice_got="$(grep -c 'bob line' "$work/alice.log" 2>/dev/null || true)"

echo
echo "velkor soak, ${seconds} s"
awk '
    { row[NR] = $1
      for (i = 2; i <= NF; i++) { split($i, kv, "="); v[NR, kv[1]] = kv[2] } }
    function show(x) { return x == "" || x == 0 ? "n/a" : x }
    END {
        printf "%-8s %11s %11s %9s %7s %7s %6s %4s %4s %8s\n", "sample", "working set",
               "private KB", "Linux RSS", "fds", "windows", "handles", "gdi", "user", "display"
        for (r = 1; r <= NR; r++)
            printf "%-8s %11s %11s %9s %7s %7s %6s %4s %4s %8s\n", row[r], v[r, "working_set_kb"],
                   v[r, "private_kb"], v[r, "rss_kb"], v[r, "fds"], v[r, "windows"],
                   show(v[r, "handles"]), show(v[r, "gdi"]), show(v[r, "user"]), v[r, "display"]
        mid = int((NR + 1) / 2)
        dw = v[NR, "windows"] - v[mid, "windows"]
        df = v[NR, "fds"] - v[mid, "fds"]
        dp = v[NR, "private_kb"] - v[mid, "private_kb"]
        printf "\nsecond half: windows %+d, fds %+d, private %+d KB", dw, df, dp
        printf " (handle and GUI object counts: n/a, Wine answers 0 for another process)\n"
        verdict = (dw <= 4 && df <= 8 && dp <= 8192) ? "steady" : "GROWING"
        printf "verdict: %s\n", verdict
    }' "$table" | tee "$work/verdict.txt"
echo
echo "traffic: alice typed: $(cat "$work/type.txt"); bob said: $(cat "$work/say.txt")"
echo "         flood: $(cat "$work/flood.txt")"
echo "         bob's add-on got $bob_got of alice's lines; alice's IRC client saw $alice_got of bob's"
echo "         velkor's display holds $alice_shown characters"
grep -q "verdict: steady" "$work/verdict.txt"
