#!/usr/bin/env bash
# ircpeer under Wine against a private ngircd: pokes into its command topic reach a plain
# IRC client, and that client's channel lines reach a DDE server as remote-event pokes.
# usage: test_integration.sh WINE_RUN IRCPEER_EXE DDESINK_EXE DDEPOKE_EXE
# IRCPEER_KEEP_LOGS=1 keeps the folder with the logs of every process.
set -euo pipefail
wine_run="$1" ircpeer="$2" ddesink="$3" ddepoke="$4"
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
work="$(mktemp -d /tmp/ircpeer-test.XXXXXX)"
pids=()
passed=0

cleanup() {
    exec 3>&- 2>/dev/null || true
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    sleep 0.3
    for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
    "$root/scripts/ngircd.sh" stop "$work/irc" || true
    if [ "$passed" != 1 ]; then
        for f in "$work"/*.log "$work"/*.txt; do
            [ -f "$f" ] && { echo "===== $f"; tail -n 60 "$f"; }
        done
    fi
    if [ -n "${IRCPEER_KEEP_LOGS:-}" ]; then echo "logs kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# wait_for FILE EXTENDED-REGEX [SECONDS]
wait_for() {
    local file="$1" pattern="$2" limit="${3:-15}"
    local end=$((SECONDS + limit))
    while ((SECONDS < end)); do
        if [ -f "$file" ] && grep -Eq -- "$pattern" "$file"; then return 0; fi
        sleep 0.1
    done
    fail "no /$pattern/ in $(basename "$file") within ${limit}s"
}

poke() { "$wine_run" "$ddepoke" "$@" </dev/null 2>&1 | tr -d '\r'; }
poke_ok() {
    local out
    out="$(poke "$@" || true)"
    echo "$out" | grep -q "^poke acked 0x8000" || fail "poke $* not acknowledged: $out"
}
say() { printf '%s\n' "$1" >&3; }

port="$("$root/scripts/ngircd.sh" start "$work/irc")"
echo "ngircd on port $port"

"$wine_run" "$ddesink" --out "Z:$work/sink1.txt" --count 3 --seconds 50 </dev/null >"$work/sink1.log" 2>&1 &
sink1=$!
pids+=("$sink1")
wait_for "$work/sink1.log" "^ready"

"$wine_run" "$ircpeer" --server "127.0.0.1:$port" --nick peer --join '#velkor' \
    --oper tester:secret </dev/null >"$work/peer.log" 2>&1 &
peer=$!
pids+=("$peer")
wait_for "$work/peer.log" "^-- joined #velkor"
wait_for "$work/peer.log" "^<< :peer!\S+ MODE peer :?\+F"

mkfifo "$work/client.in"
python3 "$here/../../harness/ircclient.py" --port "$port" --nick alice --lifetime 55 \
    <"$work/client.in" >"$work/client.log" 2>&1 &
pids+=($!)
exec 3>"$work/client.in"
say "JOIN #velkor"
say "JOIN #other"
wait_for "$work/client.log" " 366 alice #velkor "
wait_for "$work/client.log" " 366 alice #other "

echo "-- /msg reaches the channel"
poke_ok "/msg #velkor hello from velkor"
wait_for "$work/client.log" "^<< :peer!\S+ PRIVMSG #velkor :hello from velkor$"

echo "-- a command holding a line break is refused whole, as mIRC refuses it"
out="$(poke --escapes '/msg #velkor crlf one\r\n/msg #velkor crlf two\nQUIT :injected' || true)"
echo "$out" | grep -q "^poke refused 0x0000" || fail "a poke holding CR LF was not refused: $out"

echo "-- a poke that cannot be carried out is answered as not processed"
out="$(poke "/msg #velkor" || true)"
echo "$out" | grep -q "^poke refused 0x0000" || fail "incomplete /msg was not refused: $out"
grep -q '^!! refused "/msg #velkor": needs a target and a text' "$work/peer.log" ||
    fail "refusal not logged"

echo "-- /me is a CTCP ACTION to the current channel"
poke_ok "/me waves"
wait_for "$work/client.log" '^<< :peer!\S+ PRIVMSG #velkor :\\x01ACTION waves\\x01$'
grep -q "crlf\|injected" "$work/client.log" && fail "a part of the refused poke reached the channel"

echo "-- a long message is split within the 512-byte limit and loses nothing"
long="$(python3 -c 'print(" ".join("w%04d" % i for i in range(250)))')"
poke_ok "/msg #velkor $long"
wait_for "$work/client.log" "^<< :peer!\S+ PRIVMSG #velkor :.*w0249$"
python3 - "$work/client.log" "$long" <<'PY' || fail "long message not reassembled"
import re, sys
lines = open(sys.argv[1], encoding="latin-1").read().splitlines()
pieces = [m.group(1) for l in lines if (m := re.match(r"<< :peer!\S+ PRIVMSG #velkor :(w0000.*|w\d{4}.*)$", l))]
assert len(pieces) >= 2, pieces
assert " ".join(pieces) == sys.argv[2], pieces
assert all(len(l) - 3 + 2 <= 512 for l in lines if l.startswith("<< ")), "over-long line"
PY

echo "-- channel lines of others arrive in order as pokes of '#chan nick text' on item 0"
say "PRIVMSG #velkor :one"
say "PRIVMSG #velkor :two words"
say "PRIVMSG #velkor :three"
wait_for "$work/sink1.txt" "three$"
expected="poke item0=1 item= size=18 text=#velkor alice one
poke item0=1 item= size=24 text=#velkor alice two words
poke item0=1 item= size=20 text=#velkor alice three"
[ "$(cat "$work/sink1.txt")" = "$expected" ] || fail "sink got: $(cat "$work/sink1.txt")"
wait_for "$work/sink1.log" "^done after 3"
wait "$sink1" || fail "ddesink failed"

echo "-- /join #other is seen by the other client"
poke_ok "/join #other"
wait_for "$work/client.log" "^<< :peer!\S+ JOIN :?#other$"
wait_for "$work/peer.log" "^-- joined #other"

echo "-- with no DDE server for the remote event, ircpeer keeps the line and tries again"
say "PRIVMSG #velkor :nobody listens yet"
wait_for "$work/peer.log" "no DDE server velkor\|velkor answers; retrying"
poke_ok "/msg #velkor still here"
wait_for "$work/client.log" "^<< :peer!\S+ PRIVMSG #velkor :still here$"

echo "-- a DDE server that comes back gets the waiting line, then the next"
"$wine_run" "$ddesink" --out "Z:$work/sink2.txt" --count 2 --seconds 30 </dev/null >"$work/sink2.log" 2>&1 &
sink2=$!
pids+=("$sink2")
wait_for "$work/sink2.txt" "^poke item0=1 item= size=33 text=#velkor alice nobody listens yet$"
say "PRIVMSG #other :after restart"
wait_for "$work/sink2.txt" "^poke item0=1 item= size=27 text=#other alice after restart$"
wait "$sink2" || fail "the second ddesink failed"

echo "-- a line nobody takes within 10 s is given up, and said so"
say "PRIVMSG #velkor :nobody at all"
wait_for "$work/peer.log" "answered within 10 s; given up: #velkor alice nobody at all" 20

echo "-- a poke too big for Wine's message queue does not end the message loop"
poke --timeout 3000 --pad 2200000 "/quote PING :" >"$work/bigpoke.log" || true
grep -q "GetMessage failed" "$work/peer.log" || echo "   (this Wine delivered the big poke; it was refused as too long)"
poke_ok "/msg #velkor survived"
wait_for "$work/client.log" "^<< :peer!\S+ PRIVMSG #velkor :survived$"

echo "-- no line sent exceeds 510 bytes before CR LF"
awk '/^>> / && length($0) - 3 > 510 { bad = 1 } END { exit bad }' "$work/peer.log" ||
    fail "ircpeer sent an over-long line"

echo "-- a closed IRC connection is opened again; the DDE server stays up meanwhile"
say "OPER tester secret"
wait_for "$work/client.log" " 381 alice "
say "KILL peer :testing the reconnect"
wait_for "$work/peer.log" "^-- connecting again in 1 s"
end=$((SECONDS + 20))
until [ "$(grep -c '^-- joined #velkor' "$work/peer.log")" -ge 2 ]; do
    ((SECONDS < end)) || fail "ircpeer did not join again after the KILL"
    sleep 0.1
done
poke_ok "/msg #velkor back after the kill"
wait_for "$work/client.log" "^<< :peer!\S+ PRIVMSG #velkor :back after the kill$"

echo "-- /quit ends ircpeer cleanly"
poke_ok "/quit bye now"
wait_for "$work/client.log" "^<< :peer!\S+ QUIT :.*bye now"
rc=0
wait "$peer" || rc=$?
[ "$rc" = 0 ] || fail "ircpeer exit code $rc"
grep -q "^-- exit 0" "$work/peer.log" || fail "ircpeer did not log its exit"

passed=1
echo "PASS"
