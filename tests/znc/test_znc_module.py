#!/usr/bin/env python3
"""The velkor ZNC module between a private ngircd and a private ZNC (run as nobody when
root). bob is attached from a phone and a laptop; dave runs WeeChat with the velkor plugin
on ngircd (when both are there); alice runs velkor.exe with ircpeer in a Wine prefix (with
--build and --driver, the Windows build's); eve, on ngircd, must see only wire texts.
A table of lines both ways, then a client that attaches later (playback), ZNC's log, and ZNC
restarted with the key kept. Exit status 77 (skipped) without ZNC or the module.
usage: test_znc_module.py --module VELKOR_SO --velkor-crypt EXE [--plugin WEECHAT_VELKOR_SO]
                     [--build WIN_BUILD --driver CHAT_DRIVER_EXE]"""
import argparse
import os
import re
import shutil
import socket
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
import rig  # noqa: E402
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "weechat"))
from test_weechat_plugin import WeeChat  # noqa: E402

KEY, WRONG_KEY = "lantern at midnight", "not the key"
MARK, WARN, PLAIN = "\U0001F512 ", "[wrong key?] ", "[not encrypted] "
CHANNEL, WIRE, check = rig.CHANNEL, re.compile(r"^[012][!-`]+$"), rig.check

# bob's lines come from his phone: "sent" - eve gets a wire text that velkor-crypt reads back
# as the line, and the laptop shows the line; "refused:TEXT" - the phone gets a notice with
# TEXT and nothing goes out. eve sends the line, or the wire text of it under KEY (wire:) or
# WRONG_KEY (wrong:); the last field is what both of bob's clients and dave's WeeChat show.
# dave types in WeeChat, alice in velkor.exe; bob's clients show the last field, eve gets a
# wire text; each of them shows the others' lines.
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
    ("eve", "2 apples and 1 pear", PLAIN + "2 apples and 1 pear"),
    ("eve", MARK + "forged", PLAIN + MARK + "forged"),
    ("dave", "caf\u00e9 20 \u20ac from weechat", MARK + "caf\u00e9 20 \u20ac from weechat"),
    ("alice", "caf\u00e9 20 \u20ac from velkor.exe", MARK + "caf\u00e9 20 \u20ac from velkor.exe"),
]


def ansi(text):
    """The code page 1252 bytes of a text as the driver's latin-1 strings carry them."""
    return text.encode("cp1252").decode("latin-1")
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
  Nick = bob
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


def texts(log, nick, since=0):
    """The channel texts from nick in a plain client's log (bytes as Latin-1, written as UTF-8)."""
    lines = log.path.read_text("utf-8").replace("\r", "").splitlines()[since:]
    rx = re.compile(r"<< :%s!\S+ PRIVMSG %s :(.*)" % (nick, re.escape(CHANNEL)))
    return [m.group(1).encode("latin-1").decode("utf-8") for m in map(rx.match, lines) if m]


def scenario(r, args):
    r.start_ngircd()
    eve_send, eve = r.plain_client("eve", [CHANNEL])
    data = r.work / "znc"
    (data / "configs").mkdir(parents=True)
    (data / "modules").mkdir()
    shutil.copy(args.module, data / "modules/velkor.so")
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    (data / "configs/znc.conf").write_text(CONF.format(port=port, irc=r.port, chan=CHANNEL))
    run_as = []
    if os.getuid() == 0:  # ZNC will not run as root
        os.chmod(r.work, 0o711)
        subprocess.run(["chown", "-R", "nobody:nogroup", str(data)], check=True)
        run_as = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]

    def start_znc():
        proc = subprocess.Popen(run_as + ["znc", "--datadir", str(data), "--foreground"],
                                stdin=subprocess.DEVNULL, stdout=open(r.work / "znc.log", "ab"),
                                stderr=subprocess.STDOUT)
        r.procs.append(("znc", proc))

        def listening():
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                return True
            except OSError:
                return proc.poll() is not None  # ended: attach fails with its log
        rig.wait_until(listening, 30, "ZNC to listen")
        return proc

    def attach(device):
        send, log = r.plain_client("bob", [], port=port, name=device)
        send("PASS bob@%s/net:pw" % device)
        log.wait(r" 366 bob %s " % CHANNEL)
        return send, log

    def command(client, line, answer):
        since = len(client[1].lines())
        client[0]("PRIVMSG *velkor :" + line)
        rig.wait_until(lambda: any(re.match(r"<< :\*velkor!\S+ PRIVMSG bob :.*" + answer, l)
                                   for l in client[1].lines()[since:]), 20, "*velkor: " + answer)

    dave = None
    if args.plugin and os.path.exists(args.plugin) and shutil.which("weechat-headless"):
        dave = WeeChat(r, r.work, "dave", args.plugin, r.port)
        dave.wait_joined()
        dave.type("/velkor key %s %s" % (CHANNEL, KEY))
    else:
        print("-- no WeeChat or plugin: dave's rows are left out")
    alice = None
    if args.build:
        (pa,) = r.boot([Path(args.build).resolve() / "znc-e2e" / "prefix-alice"])
        r.ircpeer(pa, "alice")
        alice = r.driver(pa, "alice")
        alice.start()
        alice.setkey(KEY)
        check(alice.encryption(True).endswith("Encryption: On"), "alice: encryption not on")
    znc = start_znc()
    phone, laptop = attach("phone"), attach("laptop")
    command(phone, "key %s %s" % (CHANNEL, KEY), "key set for " + CHANNEL)
    command(phone, "list", re.escape(CHANNEL) + r" \*+$")
    command(phone, "frobnicate", "usage: key #chan TEXT")
    for who, line, expected in CASES:
        p0, l0, e0 = len(phone[1].lines()), len(laptop[1].lines()), len(texts(eve, "bob"))
        d0 = len(dave.shown()) if dave else 0
        if who in ("dave", "alice"):
            typist = dave if who == "dave" else alice
            if not typist:
                continue
            e0 = len(texts(eve, who))
            if typist is dave:
                dave.type(line)
            else:
                check(alice.type(ansi(line))[0] == "sent", "alice could not send %r" % line)
            rig.wait_until(lambda: len(texts(eve, who)) > e0, 20, "eve to get %s's line" % who)
            wire = texts(eve, who)[e0]
            check(WIRE.match(wire) and crypt(args, "decode-line", KEY, wire) == line,
                  "eve got %r for %r" % (wire, line))
            for log, since in ((phone[1], p0), (laptop[1], l0)):
                rig.wait_until(lambda: texts(log, who, since), 20, "bob to get %s's line" % who)
                check(texts(log, who, since) == [expected], "bob saw %r" % texts(log, who, since))
            if alice and who == "dave":
                alice.wait_shown("<dave> " + ansi(line))
            if dave and who == "alice":
                dave.wait_shown("alice", MARK + line, d0)
        elif who == "bob":
            phone[0]("PRIVMSG %s :%s" % (CHANNEL, line.encode().decode("latin-1")))
            if expected.startswith("refused:"):
                phone[1].wait(r"<< :\*velkor!\S+ NOTICE bob :.*" + re.escape(expected[8:]))
                continue
            rig.wait_until(lambda: len(texts(eve, "bob")) > e0, 20, "eve to get bob's line")
            wire = texts(eve, "bob")[e0]
            check(WIRE.match(wire), "eve got %r, not a wire text" % wire)
            check(crypt(args, "decode-line", KEY, wire) == line, "%r does not read %r" % (wire, line))
            rig.wait_until(lambda: line in texts(laptop[1], "bob", l0), 20, "the laptop to show " + line)
            check(not texts(phone[1], "bob", p0), "the phone got its own line back")
            if dave:
                dave.wait_shown("bob", MARK + line, d0)
            if alice:
                alice.wait_shown("<bob> " + ansi(line))
        else:
            text = line
            if line.startswith(("wire:", "wrong:")):
                kind, plain = line.split(":", 1)
                text = crypt(args, "encode-line", KEY if kind == "wire" else WRONG_KEY, plain)
            eve_send("PRIVMSG %s :%s" % (CHANNEL, text.encode().decode("latin-1")))
            shown = expected.replace("{wire}", text)
            for log, since in ((phone[1], p0), (laptop[1], l0)):
                rig.wait_until(lambda: texts(log, "eve", since), 20, "bob to get eve's line")
                check(texts(log, "eve", since) == [shown], "bob saw %r, not %r" % (texts(log, "eve", since), shown))
            if dave:
                dave.wait_shown("eve", shown, d0)
    sent = [line for who, line, expected in CASES if who == "bob" and expected == "sent"]
    check(len(texts(eve, "bob")) == len(sent), "eve got %r" % texts(eve, "bob"))

    # The playback buffer and the log (after velkor) keep the lines as the clients saw them.
    _, tablet = attach("tablet")
    rig.wait_until(lambda: len(texts(tablet, r"\S+")) >= len(CASES) - 4, 20, "the playback")
    played = [re.sub(r"^\[[\d:]+\] ", "", t) for t in texts(tablet, r"\S+")]
    for text in sent + [MARK + "caf\u00e9 20 \u20ac from eve"]:
        check(text in played, "%r is not in the playback %r" % (text, played))
    logged = "".join(f.read_text("utf-8") for f in (data / "users/bob/networks/net/moddata/log").rglob("*.log"))
    for text in ["<bob> " + line for line in sent] + ["<eve> " + MARK + "caf\u00e9 20 \u20ac from eve"]:
        check(text in logged, "the log lacks %r:\n%s" % (text, logged))
    check("\u2192" not in logged and "y" * 185 not in logged, "a refused line is in the log")

    # ZNC restarted keeps the key, in a file for ZNC's account only.
    registry = data / "users/bob/networks/net/moddata/velkor/.registry"
    check(registry.stat().st_mode & 0o077 == 0, "others may read %s" % registry)
    znc.terminate()
    znc.wait(10)
    start_znc()
    phone = attach("phone-again")
    e0 = len(texts(eve, "bob"))
    phone[0]("PRIVMSG %s :after the restart" % CHANNEL)
    rig.wait_until(lambda: len(texts(eve, "bob")) > e0, 20, "eve to get bob's line after the restart")
    check(crypt(args, "decode-line", KEY, texts(eve, "bob")[e0]) == "after the restart", "key lost")
    command(phone, "off " + CHANNEL, "forgotten")


def crypt(args, command, key, line):
    out = subprocess.run([args.velkor_crypt, command, "--key", key, "--", line], capture_output=True, timeout=30)
    return out.stdout.decode("utf-8").rstrip("\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--module", required=True)
    parser.add_argument("--velkor-crypt", required=True)
    parser.add_argument("--plugin")
    parser.add_argument("--build")
    parser.add_argument("--driver")
    args = parser.parse_args()
    if not shutil.which("znc") or not os.path.exists(args.module):
        print("SKIP: ZNC or the module is not there")
        return 77
    if args.build:
        rig.ensure_display(sys.argv)
    return rig.run_scenario("znc", args.build, args.driver, lambda r: scenario(r, args))


if __name__ == "__main__":
    sys.exit(main())
