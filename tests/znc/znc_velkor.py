#!/usr/bin/env python3
"""The velkor ZNC module on a private ngircd and a private ZNC. bob reaches the channel through
ZNC from two plain clients (phone and laptop, Python sockets); eve is a plain client on
ngircd, who sees only wire texts, and whose wire texts velkor-crypt makes. One table of lines
in both directions, then a third client that attaches later (the playback buffer keeps the
lines as the clients saw them), then ZNC restarted with the key kept.

usage: znc_velkor.py --module VELKOR_SO --velkor-crypt EXE
Exit status 77 (skipped) when ZNC is not installed."""
import argparse
import os
import re
import shutil
import socket
import subprocess
import sys
import threading
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
import rig  # noqa: E402

KEY, WRONG_KEY = "lantern at midnight", "not the key"
MARK, WARN = "\U0001F512 ", "[wrong key?] "
CHANNEL = rig.CHANNEL
WIRE = re.compile(r"^[012][!-`]+$")
check = rig.check

# (who, line, expected): bob's lines come from his phone; "sent" means eve gets a wire text
# that reads back as the line and his laptop shows the line; "refused:TEXT" means the phone
# gets a notice containing TEXT and nothing leaves ZNC. eve's rows give what both of bob's
# clients show; eve sends the wire text of KEY (wire:), of WRONG_KEY (wrong:) or the line.
CASES = [
    ("bob", "good evening through the bouncer", "sent"),
    ("bob", "caf\u00e9 20 \u20ac", "sent"),
    ("bob", "x" * 184, "sent"),
    ("bob", "go \u2192 there", "refused:(U+2192) has no form"),
    ("bob", "\x02bold\x02 words", "refused:control and formatting characters"),
    ("bob", "\x01ACTION waves\x01", "refused:actions (/me)"),
    ("bob", "y" * 185, "refused:exceeds IRC limits"),
    ("eve", "wire:caf\u00e9 20 \u20ac from eve", MARK + "caf\u00e9 20 \u20ac from eve"),
    ("eve", "wrong:read me if you can", WARN + "{wire}"),
    ("eve", "2 apples and 1 pear", "2 apples and 1 pear"),
]


class Client:
    """A plain IRC client on a socket: every line it gets, as text."""

    def __init__(self, port, password, nick):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=30)
        self.lines, self.cond = [], threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()
        self.send("PASS " + password)
        self.send("NICK %s" % nick)
        self.send("USER %s 0 * :%s" % (nick, nick))

    def _read(self):
        buf = b""
        try:
            while True:
                data = self.sock.recv(4096)
                if not data:
                    return
                buf += data
                while b"\r\n" in buf:
                    raw, buf = buf.split(b"\r\n", 1)
                    line = raw.decode("utf-8", "replace")
                    if line.startswith("PING "):
                        self.send("PONG " + line[5:])
                    with self.cond:
                        self.lines.append(line)
                        self.cond.notify_all()
        except OSError:
            return

    def send(self, line):
        self.sock.sendall((line + "\r\n").encode("utf-8"))

    def wait(self, pattern, since=0, timeout=20):
        rx = re.compile(pattern)
        with self.cond:
            found = self.cond.wait_for(lambda: any(rx.search(l) for l in self.lines[since:]), timeout)
        check(found, "no line matching %r; last lines:\n%s" % (pattern, "\n".join(self.lines[-8:])))
        return next(l for l in self.lines[since:] if rx.search(l))

    def texts(self, since=0):
        """The texts of the channel messages it got."""
        return [l.split(" :", 1)[1] for l in self.lines[since:]
                if re.match(r":\S+ PRIVMSG %s :" % CHANNEL, l)]

    def close(self):
        self.sock.close()


class Znc:
    CONF = """Version = 1.8.2
<Listener l>
    Port = {port}
    IPv4 = true
    IPv6 = false
    SSL = false
    Host = 127.0.0.1
</Listener>
<User bob>
    <Pass password>
        Method = plain
        Hash = pw
    </Pass>
    Admin = true
    Nick = bob
    AltNick = bob_
    Ident = bob
    AutoClearChanBuffer = false
    <Network net>
        Server = 127.0.0.1 {irc}
        LoadModule = velkor
        LoadModule = log
        <Chan {chan}>
        </Chan>
    </Network>
</User>
"""

    def __init__(self, r, module):
        self.dir = r.work / "znc"
        (self.dir / "configs").mkdir(parents=True)
        (self.dir / "modules").mkdir()
        shutil.copy(module, self.dir / "modules/velkor.so")
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        (self.dir / "configs/znc.conf").write_text(
            self.CONF.format(port=self.port, irc=r.port, chan=CHANNEL))
        # ZNC will not run as root: it runs as nobody, who owns its folder.
        self.prefix = []
        if os.getuid() == 0:
            os.chmod(r.work, 0o711)
            subprocess.run(["chown", "-R", "nobody:nogroup", str(self.dir)], check=True)
            self.prefix = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
        self.r, self.proc = r, None

    def start(self):
        with open(self.r.work / "znc.log", "ab") as f:
            self.proc = subprocess.Popen(self.prefix + ["znc", "--datadir", str(self.dir), "--foreground"],
                                         stdin=subprocess.DEVNULL, stdout=f, stderr=subprocess.STDOUT)
        self.r.procs.append(("znc", self.proc))
        rig.wait_until(lambda: self.proc.poll() is None and _listening(self.port), 30, "ZNC to listen")

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)

    def attach(self, device):
        c = Client(self.port, "bob@%s/net:pw" % device, "bob")
        c.wait(r" 366 bob %s " % CHANNEL)
        return c


def _listening(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        return True
    except OSError:
        return False


def crypt(exe, command, key, line):
    out = subprocess.run([exe, command, "--key", key, line], capture_output=True, timeout=30)
    return out.stdout.decode("utf-8").rstrip("\n")


def scenario(r, args):
    r.start_ngircd()
    eve_send, eve_log = r.plain_client("eve", [CHANNEL])
    znc = Znc(r, args.module)
    znc.start()
    phone, laptop = znc.attach("phone"), znc.attach("laptop")
    eve_log.wait(r":bob!\S+ JOIN :?%s" % CHANNEL)

    def command(client, line, answer):
        since = len(client.lines)
        client.send("PRIVMSG *velkor :" + line)
        return client.wait(r"^:\*velkor!\S+ PRIVMSG bob :.*" + answer, since)

    command(phone, "key %s %s" % (CHANNEL, KEY), "key set for " + CHANNEL)
    check(KEY not in command(phone, "list", CHANNEL), "list shows the key")
    command(phone, "frobnicate", "usage: key #chan TEXT")

    eve_lines = lambda: [l for l in eve_log.lines() if l.startswith("<< :bob!") and " PRIVMSG %s :" % CHANNEL in l]
    for who, line, expected in CASES:
        p0, l0, e0 = len(phone.lines), len(laptop.lines), len(eve_lines())
        if who == "bob":
            phone.send("PRIVMSG %s :%s" % (CHANNEL, line))
            if expected.startswith("refused:"):
                phone.wait(r"^:\*velkor!\S+ NOTICE bob :.*" + re.escape(expected[8:]), p0)
                continue
            rig.wait_until(lambda: len(eve_lines()) > e0, 20, "eve to get bob's line")
            wire = eve_lines()[e0].split(" PRIVMSG %s :" % CHANNEL, 1)[1]
            check(WIRE.match(wire), "eve got %r, not a wire text" % wire)
            check(crypt(args.velkor_crypt, "decode-line", KEY, wire) == line,
                  "the wire text %r does not read back as %r" % (wire, line))
            laptop.wait(r":bob!\S+ PRIVMSG %s :%s$" % (CHANNEL, re.escape(line)), l0)
            check(line not in phone.texts(p0), "the phone got its own line back")
        else:
            text = line
            if line.startswith(("wire:", "wrong:")):
                kind, plain = line.split(":", 1)
                text = crypt(args.velkor_crypt, "encode-line", KEY if kind == "wire" else WRONG_KEY, plain)
            eve_send("PRIVMSG %s :%s" % (CHANNEL, text))
            shown = expected.replace("{wire}", text)
            for c, since in ((phone, p0), (laptop, l0)):
                c.wait(r":eve!\S+ PRIVMSG %s :" % CHANNEL, since)
                check(c.texts(since) == [shown], "bob saw %r, not %r" % (c.texts(since), shown))
    # Nothing refused went out: eve got exactly the lines that were sent.
    sent = [line for who, line, expected in CASES if who == "bob" and expected == "sent"]
    check(len(eve_lines()) == len(sent), "eve got %d lines from bob, not %d" % (len(eve_lines()), len(sent)))

    # The playback buffer keeps what the clients saw: bob's lines plain, eve's deciphered.
    tablet = znc.attach("tablet")
    for text in sent + [MARK + "caf\u00e9 20 \u20ac from eve"]:
        tablet.wait(r" PRIVMSG %s :(\[[\d:]+\] )?%s$" % (CHANNEL, re.escape(text)))
    check(not any(WIRE.match(t.split("] ", 1)[-1]) for t in tablet.texts()
                  if not t.startswith(WARN) and "] " + WARN not in t),
          "a wire text in the playback: %r" % tablet.texts())
    for c in (phone, laptop, tablet):
        c.close()
    # ZNC's log, loaded after velkor, writes the lines as the clients saw them too.
    logged = "".join(f.read_text("utf-8") for f in (znc.dir / "users/bob/networks/net/moddata/log").rglob("*.log"))
    for text in ["<bob> " + line for line in sent] + ["<eve> " + MARK + "caf\u00e9 20 \u20ac from eve"]:
        check(text in logged, "the log lacks %r:\n%s" % (text, logged))
    check("\u2192" not in logged and "y" * 185 not in logged, "a refused line is in the log")

    # Restarted, ZNC still has the key: the module's data keeps it, for ZNC's user only.
    registry = znc.dir / "users/bob/networks/net/moddata/velkor/.registry"
    check(registry.exists() and registry.stat().st_mode & 0o077 == 0,
          "the key file %s is readable by others" % registry)
    znc.stop()
    znc.start()
    phone = znc.attach("phone")
    command(phone, "list", CHANNEL)
    e0 = len(eve_lines())
    phone.send("PRIVMSG %s :after the restart" % CHANNEL)
    rig.wait_until(lambda: len(eve_lines()) > e0, 20, "eve to get bob's line after the restart")
    wire = eve_lines()[e0].split(" PRIVMSG %s :" % CHANNEL, 1)[1]
    check(crypt(args.velkor_crypt, "decode-line", KEY, wire) == "after the restart",
          "after the restart bob sent %r" % wire)
    command(phone, "off " + CHANNEL, "forgotten")
    phone.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--module", required=True)
    parser.add_argument("--velkor-crypt", required=True)
    args = parser.parse_args()
    if not shutil.which("znc") or not os.path.exists(args.module):
        print("SKIP: ZNC or the module is not there")
        return 77
    return rig.run_scenario("znc", None, None, lambda r: scenario(r, args))


if __name__ == "__main__":
    sys.exit(main())
