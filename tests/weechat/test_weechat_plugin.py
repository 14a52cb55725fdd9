#!/usr/bin/env python3
"""velkor.exe and the WeeChat plugin on one channel of a real IRC server. ngircd on loopback;
alice runs velkor.exe with ircpeer in a Wine prefix (driven by chat_driver); dave and frank
run weechat-headless with the velkor plugin, dave with alice's key, frank with another; eve
is a plain IRC client. One table of lines: who types what, and what each of them must see.
Then the saved-keys store of the plugin, without a server.

usage: test_weechat_plugin.py --build WIN_BUILD --driver CHAT_DRIVER_EXE --plugin VELKOR_SO
VELKOR_WEECHAT_PREFIXES: folder for alice's Wine prefix (default WIN_BUILD/weechat-e2e), kept
between runs. VELKOR_E2E_KEEP=1 keeps the logs of every process."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
import rig  # noqa: E402

KEY = "lantern at midnight"
WRONG_KEY = "not the key"
MARK = "\U0001F512 "     # the defaults of plugins.var.velkor.prefix
WARN = "[wrong key?] "   # and plugins.var.velkor.warning
PLAIN = "[not encrypted] "  # and plugins.var.velkor.plain
OVER_LIMIT = "Your message exceeds IRC limits, please restate"
WIRE = re.compile(r"^[012][!-`]+$")
CHANNEL = rig.CHANNEL
SERVER = "t"

# Who types what and what must follow:
#   sent     - everyone with the key reads it, frank sees the wire text with the warning,
#              eve sees only a wire text;
#   plain    - a line that is not a wire text: shown in WeeChat behind the plain mark, so a
#              typed mark cannot pass for a deciphered line;
#   refused  - WeeChat shows the message (a part of it here), sends nothing and does not show
#              the line as sent (also a /msg, whose echo WeeChat prints after sending).
CASES = [
    ("alice", "good evening from the window", "sent"),
    ("dave", "and good evening from weechat", "sent"),
    ("alice", "caf\u00e9 20 \u20ac", "sent"),
    ("dave", "caf\u00e9 20 \u20ac", "sent"),
    ("dave", "\u201cquoted\u201d \u2013 na\u00efve \u00c6sir \u2026", "sent"),
    ("alice", "x" * 184, "sent"),
    ("dave", "/msg %s sent with /msg" % rig.CHANNEL, "sent"),
    ("dave", "y" * 185, "refused:" + OVER_LIMIT),
    ("dave", "\u20ac" * 185, "refused:" + OVER_LIMIT),
    ("dave", "go \u2192 there", "refused:\"\u2192\" (U+2192) has no form in the Windows code page 1252"),
    ("dave", "\x02bold\x02 words", "refused:control and formatting characters (U+0002)"),
    ("dave", "/msg %s \u20ac%s" % (rig.CHANNEL, "z" * 184), "refused:" + OVER_LIMIT),
    ("dave", "/me waves", "refused:/me is not sent on " + rig.CHANNEL),
    ("dave", "/velkor key -server nosuch %s k" % rig.CHANNEL, "refused:no IRC server named \"nosuch\""),
    ("dave", "/velkor Key %s k" % rig.CHANNEL, "refused:unknown subcommand \"Key\""),
    ("dave", "/velkor key -srv t %s k" % rig.CHANNEL, "refused:unknown option \"-srv\""),
    ("eve", "just plain words", "plain"),
    ("eve", MARK + "this looks deciphered", "plain"),
    ("eve", WARN + "1abc", "plain"),
    ("eve", "2 apples and 1 pear", "plain"),
]


Failed = rig.Failed
check = rig.check


def said(text):
    """What a typed line says on the channel: a /msg without its command and target."""
    return re.sub(r"^/msg \S+ ", "", text)


def ansi(text):
    """The code page 1252 bytes of a text as the driver's latin-1 strings carry them."""
    return text.encode("cp1252").decode("latin-1")


class WeeChat:
    """weechat-headless with the plugin, typed into through its FIFO; its channel log (the
    logger plugin, flushed at once) is what it shows."""

    def __init__(self, r, work, nick, plugin, port=None, extra=(), env=None, log_keyed=True):
        self.nick = nick
        self.dir = Path(work) / ("weechat-" + nick)
        self.dir.mkdir(parents=True, exist_ok=True)
        self.fifo = self.dir / "fifo"
        # Installed where WeeChat finds it again after /upgrade, as the install script does.
        (self.dir / "plugins").mkdir(exist_ok=True)
        shutil.copy(plugin, self.dir / "plugins" / "velkor.so")
        cmds = ["/plugin load logger", "/plugin load fifo",
                "/set logger.file.flush_delay 0", "/set fifo.file.path %s" % self.fifo,
                "/plugin load velkor"]
        if log_keyed:  # the channel log is what these tests read
            cmds.append("/set plugins.var.velkor.log_keyed on")
        if port:
            cmds = ["/plugin load irc"] + cmds + [
                "/server add %s 127.0.0.1/%d" % (SERVER, port),
                "/set irc.server.%s.nicks %s" % (SERVER, nick),
                "/set irc.server.%s.autojoin %s" % (SERVER, CHANNEL),
                # No anti-flood delay between our lines (ngircd is set up without penalties).
                "/set irc.server.%s.anti_flood_prio_high 0" % SERVER,
                "/connect %s" % SERVER]
        cmds += list(extra)
        self.out = open(self.dir / "stdout", "ab")
        self.proc = subprocess.Popen(["weechat-headless", "--dir", str(self.dir), "-p",
                                      "-r", ";".join(cmds)],
                                     stdin=subprocess.DEVNULL, stdout=self.out,
                                     stderr=subprocess.STDOUT, env=dict(os.environ, **(env or {})))
        r.procs.append(("weechat " + nick, self.proc))
        self.channel_log = rig.LogFile(self.dir / "logs" / ("irc.%s.%s.weechatlog" % (SERVER, CHANNEL)))
        self.core_log = rig.LogFile(self.dir / "logs" / "core.weechat.weechatlog")

    def wait_joined(self):
        self.channel_log.wait(r"\t%s \(\S+\) has joined %s$" % (self.nick, re.escape(CHANNEL)), 30)
        rig.wait_until(self.fifo.exists, 10, "the FIFO of " + self.nick)

    def type(self, text, buffer="irc.%s.%s" % (SERVER, CHANNEL)):
        with open(self.fifo, "w", encoding="utf-8") as f:
            f.write("%s *%s\n" % (buffer, text))

    def shown(self, log=None):
        """(nick, message) of each line of the channel, read as UTF-8."""
        out = []
        path = (log or self.channel_log).path
        if not path.exists():
            return out
        for line in path.read_text(encoding="utf-8", errors="replace").splitlines():
            parts = line.split("\t", 2)
            if len(parts) == 3:
                out.append((parts[1].lstrip("@+%&~"), parts[2]))
        return out

    def wait_shown(self, nick, message, since=0, log=None, timeout=30):
        """Waits for the line among those after the first `since` ones."""
        rig.wait_until(lambda: (nick, message) in self.shown(log)[since:], timeout,
                       "%s to show <%s> %r" % (self.nick, nick, message), interval=0.05)

    def wait_error(self, part, since, timeout=30):
        rig.wait_until(lambda: any(n == "=!=" and part in m for n, m in self.shown()[since:]),
                       timeout, "%s to show the error %r" % (self.nick, part), interval=0.05)


class Exchange:
    def __init__(self, r, args, prefixes):
        self.r, self.args, self.prefixes = r, args, prefixes

    def setup(self):
        self.port = self.r.start_ngircd()
        work = self.r.work
        self.dave = WeeChat(self.r, work, "dave", self.args.plugin, self.port)
        self.frank = WeeChat(self.r, work, "frank", self.args.plugin, self.port)
        self.gina = WeeChat(self.r, work, "gina", self.args.plugin, self.port, log_keyed=False)
        (self.pa,) = self.r.boot([self.prefixes / "prefix-alice"])
        self.eve_send, self.eve = self.r.plain_client("eve", [CHANNEL])
        self.r.ircpeer(self.pa, "alice")
        self.a = self.r.driver(self.pa, "alice")
        self.a.start()
        self.a.setkey(KEY)
        check(self.a.encryption(True).endswith("Encryption: On"), "alice: encryption not on")
        for w, key in ((self.dave, KEY), (self.frank, WRONG_KEY), (self.gina, KEY)):
            w.wait_joined()
            w.type("/velkor key %s %s" % (CHANNEL, key))
            # gina's channel is no longer logged: she lists the keys in the core buffer.
            w.type("/velkor list", buffer="core.weechat")
            w.wait_shown("", "  %s %s  key ********" % (SERVER, CHANNEL), log=w.core_log)

    def eve_privmsgs(self, nick):
        rx = re.compile(r"^<< :%s!\S+ PRIVMSG %s :(.*)$" % (re.escape(nick), re.escape(CHANNEL)))
        return [m.group(1) for m in map(rx.match, self.eve.lines()) if m]

    def run_case(self, who, text, outcome):
        dave, frank = len(self.dave.shown()), len(self.frank.shown())
        if outcome == "plain":
            # eve's client writes bytes as latin-1 strings: hand it the UTF-8 of the line.
            self.eve_send("PRIVMSG %s :%s" % (CHANNEL, text.encode().decode("latin-1")))
            self.dave.wait_shown("eve", PLAIN + text, dave)
            self.frank.wait_shown("eve", PLAIN + text, frank)
            return
        if outcome.startswith("refused:"):
            self.dave.type(text)
            self.dave.wait_error(outcome[len("refused:"):], dave)
            return
        before = len(self.eve_privmsgs(who))
        if who == "alice":
            status, message = self.a.type(ansi(text))
            check(status == "sent", "alice could not send %r: %r" % (text, message))
        else:
            self.dave.type(text)
        wires = rig.wait_until(lambda: self.eve_privmsgs(who)[before:], 30, "eve to see %s's line" % who)
        check(len(wires) == 1 and WIRE.match(wires[0]), "eve saw %r for %r" % (wires, text))
        check(not any(w in wires[0] for w in re.findall(r"[a-z]{4,}", text)), "plain words on the wire")
        if who == "alice":
            self.dave.wait_shown("alice", MARK + text, dave)
        else:
            self.a.wait_shown("<dave> " + ansi(said(text)))
            self.dave.wait_shown("dave", said(text), dave)  # WeeChat's own echo
        self.frank.wait_shown(who, WARN + wires[0], frank)

    def run(self):
        t = time.monotonic()
        self.setup()
        print("-- setup: ngircd, a prefix with ircpeer and velkor.exe, two WeeChats: %.1f s"
              % (time.monotonic() - t), flush=True)
        for who, text, outcome in CASES:
            t = time.monotonic()
            try:
                self.run_case(who, text, outcome)
            except (Failed, rig.RigError) as e:
                raise Failed("%s %r (%s): %s" % (who, text, outcome.split(":")[0], e))
            print("ok %-5s %-8s %r (%.2f s)" % (who, outcome.split(":")[0], text[:40],
                                               time.monotonic() - t), flush=True)
        # Refused lines never left, and dave's WeeChat does not show them as said.
        for who, text, outcome in CASES:
            if outcome.startswith("refused:"):
                check(("dave", said(text)) not in self.dave.shown(), "dave shows %r as said" % text)
        sent = [said(t) for w, t, o in CASES if w == "dave" and o == "sent"]
        check(len(self.eve_privmsgs("dave")) == len(sent),
              "eve saw %d lines from dave, he sent %d" % (len(self.eve_privmsgs("dave")), len(sent)))
        # alice shows each of dave's lines once, none of the refused ones.
        shown = self.a.lines()
        check([l for l in shown if l.startswith("<dave> ")] == ["<dave> " + ansi(t) for t in sent],
              "alice shows %r" % shown)
        self.paste_with_a_refused_line()
        # gina keeps WeeChat's defaults: her logger writes nothing of the keyed channel.
        log = self.gina.channel_log.path
        logged = log.read_text(encoding="utf-8", errors="replace") if log.exists() else ""
        check(not any(said(t) in logged for w, t, o in CASES if o == "sent"),
              "gina's logger wrote keyed lines in clear")
        self.key_commands()

    def paste_with_a_refused_line(self):
        """Keys that come together, as a paste's do: a refused line goes back alone, and the
        line typed after it goes out on its own, not glued onto it."""
        before = len(self.eve_privmsgs("dave"))
        buf = "irc.%s.%s" % (SERVER, CHANNEL)
        with open(self.dave.fifo, "w", encoding="utf-8") as f:  # one write, one batch
            f.write("".join("%s */input %s\n" % (buf, c) for c in (
                "insert go \u2192 there", "return", "insert after the refused one", "return")))
        self.a.wait_shown("<dave> after the refused one")
        check(len(self.eve_privmsgs("dave")) == before + 1, "the paste sent %r"
              % self.eve_privmsgs("dave")[before:])

    def key_commands(self):
        """/velkor list masks the key; after /upgrade the forgotten key refuses lines rather
        than sending them in the clear; /velkor off sends in the clear again."""
        mark = len(self.dave.shown())
        self.dave.type("/velkor list")
        self.dave.wait_shown("", "  %s %s  key ********" % (SERVER, CHANNEL), mark)
        check(not any(KEY in m for n, m in self.dave.shown()), "dave's buffer shows the key")
        self.dave.type("/upgrade")
        self.dave.core_log.wait(r"Upgrade done", 30)
        rig.wait_until(self.dave.fifo.exists, 10, "dave's FIFO after /upgrade")
        mark = len(self.dave.shown())
        self.dave.type("a secret after the upgrade")
        self.dave.wait_error("had a key, which is gone", mark)
        self.dave.type("/velkor off %s" % CHANNEL)
        self.dave.type("in the clear now")
        self.eve.wait(r"^<< :dave!\S+ PRIVMSG %s :in the clear now$" % re.escape(CHANNEL))
        check(not any("secret after the upgrade" in l for l in self.eve.lines()),
              "a line typed after /upgrade went out in the clear")
        self.a.alive()


def check_saved_keys(r, plugin):
    """Keys reach sec.conf only with save_keys on and a passphrase set, never in clear, come
    back at the next start, and leave sec.conf when save_keys goes off."""
    key_hex = KEY.encode("cp1252").hex()
    set_key = "/velkor key -server %s %s %s" % (SERVER, CHANNEL, KEY)
    server = ["/plugin load irc", "/server add %s 127.0.0.1/1" % SERVER]  # known, never joined
    w = WeeChat(r, r.work, "saver", plugin, extra=server + [
        "/set plugins.var.velkor.save_keys on", set_key, "/secure passphrase pass words",
        set_key, "/quit"])
    w.proc.wait(30)
    sec = (w.dir / "sec.conf").read_text()
    check("keys stay in memory only" in " ".join(m for n, m in w.shown(w.core_log)),
          "no warning for a key saved without a passphrase")
    check("velkor_key_" in sec, "the key was not saved: %s" % sec)
    check(KEY not in sec and key_hex not in sec, "the key is in sec.conf in clear")
    w2 = WeeChat(r, r.work, "saver", plugin, env={"WEECHAT_PASSPHRASE": "pass words"}, extra=[
        "/velkor list", "/set plugins.var.velkor.save_keys off", "/quit"])
    w2.proc.wait(30)
    w2.wait_shown("", "  %s %s  key ********" % (SERVER, CHANNEL), log=w2.core_log, timeout=5)
    check("velkor_key_" not in (w2.dir / "sec.conf").read_text(), "save_keys off left the key")
    # The passphrase deleted with keys saved: no file under WeeChat's home holds the key.
    w3 = WeeChat(r, r.work, "deleter", plugin, extra=server + [
        "/set plugins.var.velkor.save_keys on", "/secure passphrase pass words", set_key,
        "/secure passphrase -delete", "/save", "/quit"])
    w3.proc.wait(30)
    for f in (p for p in w3.dir.rglob("*") if p.is_file() and p.name != "fifo"):
        data = f.read_bytes()
        check(not any(k in data for k in (KEY.encode(), KEY.encode("cp1252"), key_hex.encode())),
              "%s holds the key after the passphrase was deleted" % f)


def main():
    rig.ensure_display(sys.argv)
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--plugin", required=True)
    args = parser.parse_args()
    if not os.path.exists(args.plugin) or not shutil.which("weechat-headless"):
        print("FAIL: needs %s (native build with weechat-dev) and weechat-headless" % args.plugin)
        return 1
    build = Path(args.build).resolve()
    prefixes = Path(os.environ.get("VELKOR_WEECHAT_PREFIXES") or build / "weechat-e2e").resolve()

    def exchange(r):
        Exchange(r, args, prefixes).run()
        t = time.monotonic()
        check_saved_keys(r, args.plugin)
        print("ok saved keys (%.2f s)" % (time.monotonic() - t), flush=True)

    return rig.run_scenario("weechat", build, args.driver, exchange,
                            logs=("*.log", "*.weechatlog"), tail=30)


if __name__ == "__main__":
    sys.exit(main())
