#!/usr/bin/env python3
"""A plain IRC client for the tests: registers, answers PING, writes every received line
to stdout (flushed), and sends each line read from stdin as a raw IRC line. Ends at stdin
EOF (sending QUIT) or after --lifetime seconds. Standard library only."""
import argparse
import os
import select
import socket
import sys
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--nick", required=True)
    parser.add_argument("--lifetime", type=float, default=60.0)
    args = parser.parse_args()

    deadline = time.monotonic() + args.lifetime
    sock = socket.create_connection((args.host, args.port), timeout=5)
    sock.setblocking(False)
    out = sys.stdout

    def send(line):
        data = line.encode("latin-1") + b"\r\n"
        sock.setblocking(True)
        sock.settimeout(5)
        sock.sendall(data)
        sock.setblocking(False)
        out.write(">> " + line + "\n")
        out.flush()

    send("NICK " + args.nick)
    send("USER " + args.nick + " 0 * :plain test client")
    pending = b""
    stdin_open = True
    stdin_fd = sys.stdin.fileno()
    stdin_buf = b""
    while time.monotonic() < deadline:
        readers = [sock] + ([stdin_fd] if stdin_open else [])
        ready, _, _ = select.select(readers, [], [], 0.2)
        if sock in ready:
            chunk = sock.recv(65536)
            if not chunk:
                out.write("-- server closed the connection\n")
                out.flush()
                return 0
            pending += chunk
            while b"\n" in pending:
                raw, pending = pending.split(b"\n", 1)
                line = raw.rstrip(b"\r").decode("latin-1")
                # repr-like escapes keep CTCP markers visible and a log line one line.
                shown = line.replace("\x01", "\\x01")
                out.write("<< " + shown + "\n")
                out.flush()
                if line.startswith("PING"):
                    send("PONG" + line[4:])
        if stdin_open and stdin_fd in ready:
            chunk = os.read(stdin_fd, 65536)
            if not chunk:
                stdin_open = False
                send("QUIT :done")
                deadline = min(deadline, time.monotonic() + 2)
                continue
            stdin_buf += chunk
            while b"\n" in stdin_buf:
                raw, stdin_buf = stdin_buf.split(b"\n", 1)
                send(raw.decode("latin-1").rstrip("\r"))
    out.write("-- lifetime over\n")
    out.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main())
