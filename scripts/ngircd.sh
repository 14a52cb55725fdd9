#!/usr/bin/env bash
# Starts and stops a private ngircd for tests and the demo, on a free loopback port.
# usage: ngircd.sh start DIR   -> prints the port; writes DIR/ngircd.conf, .pid, .log, .port
#        ngircd.sh stop DIR
# The operator account for --oper is NGIRCD_OPER (default "tester:secret").
set -euo pipefail
cmd="${1:-}"
dir="${2:-}"
if [ -z "$cmd" ] || [ -z "$dir" ]; then
    echo "usage: ngircd.sh start|stop DIR" >&2
    exit 2
fi

free_port() {
    python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}

port_open() {
    python3 -c 'import socket, sys
try:
    socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=0.5).close()
except OSError:
    sys.exit(1)' "$1"
}

case "$cmd" in
start)
    ngircd_bin="$(command -v ngircd || echo /usr/sbin/ngircd)"
    mkdir -p "$dir/conf.d" "$dir/run"
    dir="$(cd "$dir" && pwd)"
    oper="${NGIRCD_OPER:-tester:secret}"
    port="$(free_port)"
    cat >"$dir/ngircd.conf" <<CONF
[Global]
    Name = irc.test
    Info = velkor test server
    Listen = 127.0.0.1
    Ports = $port
    MotdPhrase = test server
    PidFile = $dir/run/ngircd.pid
[Limits]
    MaxPenaltyTime = 0
    MaxConnectionsIP = 0
    MaxNickLength = 30
    PingTimeout = 120
    PongTimeout = 60
[Options]
    PAM = no
    Ident = no
    DNS = no
    IncludeDir = $dir/conf.d
    OperCanUseMode = yes
[Operator]
    Name = ${oper%%:*}
    Password = ${oper#*:}
CONF
    # Started as root, ngircd drops to nobody, which must still read its configuration.
    chmod 755 "$dir" "$dir/conf.d"
    chmod 777 "$dir/run"
    chmod 644 "$dir/ngircd.conf"
    "$ngircd_bin" -n -f "$dir/ngircd.conf" </dev/null >"$dir/ngircd.log" 2>&1 &
    pid=$!
    echo "$pid" >"$dir/ngircd.pid"
    echo "$port" >"$dir/ngircd.port"
    for _ in $(seq 100); do
        if port_open "$port"; then
            echo "$port"
            exit 0
        fi
        if ! kill -0 "$pid" 2>/dev/null; then
            break
        fi
        sleep 0.1
    done
    echo "ngircd did not start; log follows" >&2
    cat "$dir/ngircd.log" >&2
    kill "$pid" 2>/dev/null || true
    exit 1
    ;;
stop)
    if [ -f "$dir/ngircd.pid" ]; then
        pid="$(cat "$dir/ngircd.pid")"
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
        rm -f "$dir/ngircd.pid"
    fi
    ;;
*)
    echo "usage: ngircd.sh start|stop DIR" >&2
    exit 2
    ;;
esac
