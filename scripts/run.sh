#!/usr/bin/env bash
# The main job: velkor as a user sees it, with an embedded stand-in for everything mIRC
# and an IRC network provide: a private ngircd on loopback, a Wine prefix, ircpeer as the
# IRC client (DDE service "mirc", joined to #velkor) and velkor.exe beside it.
#
#   scripts/run.sh                with a display: the chat window appears; chat away. The
#                                 IRC server runs until this ends (close velkor or Ctrl-C).
#   scripts/run.sh --second-user  a second user on the first run's server: own prefix,
#                                 own ircpeer, nick user2 (VELKOR_NICK to change)
#   scripts/run.sh (no display)   plays a short exchange between two users under Xvfb,
#                                 saves build/run/user1.png and user2.png, prints what each
#                                 side showed and what the IRC server carried, exits 0
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
run="${VELKOR_RUN_DIR:-$root/build/run}" # prefixes, logs, pictures
state="$run/state" # the first user's server, for a second user to find
second=0
for arg in "$@"; do
    case "$arg" in
    --second-user) second=1 ;;
    *) echo "usage: scripts/run.sh [--second-user]" >&2; exit 2 ;;
    esac
done

log() { echo "run: $*"; }

# ---- build what is missing ----
bash scripts/deps.sh
jobs="${VELKOR_JOBS:-2}"
log "building (windows: velkor, ircpeer, chat_driver; native: velkor-crypt)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs" --target velkor ircpeer chat_driver >/dev/null
cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs" --target velkor-crypt >/dev/null
velkor="$root/build/windows/app/velkor.exe"
ircpeer="$root/build/windows/harness/ircpeer/ircpeer.exe"
mkdir -p "$run"
export WINEDEBUG=-all

# ---- no display: the scripted exchange ----
if [ -z "${DISPLAY:-}" ]; then
    demo_pid=""
    stop_demo() {
        trap - INT TERM EXIT
        # The demo stops what it started; this is for a demo that cannot any more.
        if [ -n "$demo_pid" ] && kill -0 "$demo_pid" 2>/dev/null; then
            kill -TERM "$demo_pid" 2>/dev/null || true
            wait "$demo_pid" 2>/dev/null || true
        fi
    }
    trap stop_demo EXIT
    trap 'stop_demo; exit 130' INT TERM
    log "no display: two users chat under Xvfb"
    xvfb-run -a -s "-screen 0 1024x768x24" python3 scripts/run_demo.py "$run" </dev/null &
    demo_pid=$!
    rc=0
    wait "$demo_pid" || rc=$?
    demo_pid=""
    exit "$rc"
fi

# ---- with a display: the user's own chat window ----
pids=()
prefix=""
own_server=0
cleanup() {
    trap - INT TERM EXIT
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    [ -n "$prefix" ] && scripts/wine-prefix.sh kill "$prefix" || true
    if [ "$own_server" = 1 ]; then
        scripts/ngircd.sh stop "$state/irc" || true
        rm -f "$state/port"
    fi
    log "stopped"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

port_open() {
    python3 -c 'import socket, sys
try:
    socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=0.5).close()
except OSError:
    sys.exit(1)' "$1"
}

if [ "$second" = 1 ]; then
    if [ ! -f "$state/port" ] || ! port_open "$(cat "$state/port")"; then
        echo "run: no first user's server found; start scripts/run.sh without --second-user first" >&2
        exit 1
    fi
    port="$(cat "$state/port")"
    nick="${VELKOR_NICK:-user2}"
    prefix="$run/prefix-$nick"
else
    if [ -f "$state/port" ] && port_open "$(cat "$state/port")"; then
        echo "run: a first user is already running (port $(cat "$state/port")); use --second-user" >&2
        exit 1
    fi
    mkdir -p "$state"
    port="$(scripts/ngircd.sh start "$state/irc")"
    own_server=1
    echo "$port" >"$state/port"
    nick="${VELKOR_NICK:-user1}"
    prefix="$run/prefix-$nick"
    log "ngircd on 127.0.0.1:$port (configuration $state/irc/ngircd.conf)"
fi

log "booting the Wine prefix $prefix"
scripts/wine-prefix.sh boot "$prefix"
export WINEPREFIX="$prefix"

peer_log="$run/ircpeer-$nick.log"
# --dde-per-line: each channel line opens a DDE conversation of its own, as mIRC's remote
# event does.
scripts/wine-start "$ircpeer" --server "127.0.0.1:$port" --nick "$nick" --join '#velkor' --oper tester:secret \
    --dde-per-line </dev/null >"$peer_log" 2>&1 &
pids+=($!)
peer_pid=$!
for _ in $(seq 300); do
    grep -q '^-- joined #velkor' "$peer_log" && break
    kill -0 "$peer_pid" 2>/dev/null || break
    sleep 0.1
done
if ! grep -q '^-- joined #velkor' "$peer_log"; then
    if kill -0 "$peer_pid" 2>/dev/null; then
        echo "run: ircpeer did not join #velkor within 30 s; its output ($peer_log):" >&2
    else
        rc=0
        wait "$peer_pid" || rc=$?
        echo "run: ircpeer ended with status $rc before joining #velkor; its output ($peer_log):" >&2
    fi
    tail -20 "$peer_log" >&2
    exit 1
fi
log "ircpeer is $nick on #velkor, serving DDE \"mirc\" (log: $peer_log)"

log "starting velkor: set a key (Encryption > Set key), switch Encryption > On and type."
[ "$second" = 1 ] || log "a second user: scripts/run.sh --second-user (in another terminal)"
scripts/wine-start "$velkor" </dev/null >/dev/null 2>&1 &
velkor_pid=$!
pids+=("$velkor_pid")
wait "$velkor_pid" || true
log "velkor closed"
