#!/usr/bin/env bash
# What the main job and a scenario start is gone when they end: scripts/run.sh without a
# display (two users, their prefixes made afresh the first time) and a small scenario on the
# shared rig (one user typing a line), each run twice. 5 s after each end no process may hold
# any of their prefixes in its environment.
# usage: test_leftovers.sh WIN_BUILD_DIR CHAT_DRIVER_EXE
set -uo pipefail
build="$(cd "$1" && pwd)"
driver="$2"
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d /tmp/velkor-leftovers.XXXXXX)"
trap 'for p in "$work"/run/prefix-* "$work"/prefix-*; do bash "$root/scripts/wine-prefix.sh" kill "$p"; done; rm -rf "$work"' EXIT
fails=0

# Processes (name and PID) whose environment names a prefix below $work.
holders() {
    local d
    for d in /proc/[0-9]*; do
        grep -qz "^WINEPREFIX=$work/" "$d/environ" 2>/dev/null &&
            echo "$(cat "$d/comm" 2>/dev/null) ${d#/proc/}"
    done
    return 0
}

scenario() {
    python3 - "$build" "$driver" "$work/prefix-alice" <<'PY'
import sys
sys.path.insert(0, "scripts")  # run from the repository root
import rig

def body(r):
    r.start_ngircd()
    prefix = r.boot([sys.argv[3]])[0]
    r.ircpeer(prefix, "alice")
    d = r.driver(prefix, "alice")
    d.start()
    rig.check(d.type("nothing stays behind")[0] == "sent", "the line was not sent")

sys.exit(rig.run_scenario("leftovers", sys.argv[1], sys.argv[2], body))
PY
}

cd "$root"
for what in run run scenario scenario; do
    if [ "$what" = run ]; then
        out="$(env -u DISPLAY VELKOR_RUN_DIR="$work/run" bash scripts/run.sh 2>&1)"
    else
        out="$(scenario 2>&1)"
    fi
    rc=$?
    sleep 5
    left="$(holders)"
    if ((rc != 0)); then
        echo "FAIL: $what ended with status $rc:"; tail -30 <<<"$out"; fails=$((fails + 1))
    elif [ -n "$left" ]; then
        echo "FAIL: 5 s after $what these still hold its prefix:"; echo "$left"; fails=$((fails + 1))
    else
        echo "ok: $what left nothing running"; grep -E "^(PASS|FAILED)|user1's velkor" <<<"$out"
    fi
done
echo "$((4 - fails)) passed, $fails failed"
exit $((fails > 0))
