#!/usr/bin/env python3
"""Two users chatting through a real IRC server. ngircd on loopback; alice, bob and carol
each in their own Wine prefix with their own ircpeer (the IRC client, DDE service "mirc")
and velkor.exe, driven by chat_driver inside that prefix; eve is a plain IRC client on the
channel who is not in the secret. alice and bob share the key, carol has another one.
carol's ircpeer runs the remote event of the shipped velkor.mrc, as mIRC runs it, and pokes
on its item "" in CF_UNICODETEXT, giving up on an acknowledgement after 1 s.

usage: test_two_users.py --build BUILD_DIR --driver CHAT_DRIVER_EXE --velkor-crypt EXE [--peer32 EXE]
--peer32: bob's ircpeer is this 32-bit build, chatting with the 64-bit velkor.exe as mIRC does.
VELKOR_E2E_PREFIXES: folder for the three prefixes (default BUILD_DIR/e2e), kept between runs.
VELKOR_E2E_KEEP=1 keeps the folder with every process's log (VELKOR_E2E_KEEP_ON_FAIL=1: after a
failure only)."""
import argparse
import glob
import os
import random
import re
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
import rig  # noqa: E402

KEY = "lantern at midnight"
WRONG_KEY = "not the key"
OVER_LIMIT = "Your message exceeds IRC limits, please restate"
MENU_CLEARBUFFER = 1001
MENU_MANUALCONNECT = 1010
BURST = 200
WIRE = re.compile(r"^[012][!-`]*$")


Failed = rig.Failed
check = rig.check


def privmsgs(client_log, nick, channel="#velkor", since=0):
    """Texts of nick's channel messages as the plain client received them."""
    rx = re.compile(r"^<< :%s!\S+ PRIVMSG %s :(.*)$" % (re.escape(nick), re.escape(channel)))
    out = []
    for line in client_log.lines()[since:]:
        m = rx.match(line)
        if m:
            out.append(m.group(1))
    return out


class Crypt:
    """velkor-crypt decode-line: the native build's when there is one, else the Windows one."""

    def __init__(self, windows_exe, prefix):
        native = rig.ROOT / "build/native/tools/velkor-crypt/velkor-crypt"
        if os.access(native, os.X_OK):
            self.command, self.env = [str(native)], None
        else:
            self.command, self.env = [str(rig.ROOT / "scripts/wine-start"), windows_exe], prefix.env

    def decode(self, key, wires):
        # --bytes: the lines compared are code page 1252 bytes, on Linux as on Windows.
        out = subprocess.run(self.command + ["decode-line", "--bytes", "--key", key],
                             input="".join(w + "\n" for w in wires).encode("latin-1"),
                             capture_output=True, env=self.env, timeout=60)
        return out.stdout.decode("latin-1").replace("\r\n", "\n").split("\n")[:len(wires)]


class TwoUsers:
    def __init__(self, r, args, prefixes_dir):
        self.r = r
        self.args = args
        self.prefixes_dir = prefixes_dir
        self.times = []

    def setup(self):
        self.port = self.r.start_ngircd()
        self.pa, self.pb, self.pc = self.r.boot(
            [self.prefixes_dir / n for n in ("prefix-alice", "prefix-bob", "prefix-carol")])
        self.eve_send, self.eve = self.r.plain_client("eve", ["#velkor", "#other"])
        self.peer_a, self.peer_a_log = self.r.ircpeer(self.pa, "alice")
        self.r.ircpeer(self.pb, "bob", exe=self.args.peer32)
        _, self.peer_c_log = self.r.ircpeer(
            self.pc, "carol", extra=["--event", "Z:" + str(rig.ROOT / "docs/velkor.mrc"), "--unicode", "--ack-1s"])
        self.a = self.r.driver(self.pa, "alice")
        self.b = self.r.driver(self.pb, "bob")
        self.c = self.r.driver(self.pc, "carol")
        for d in (self.a, self.b, self.c):
            d.start()
        for d, key in ((self.a, KEY), (self.b, KEY), (self.c, WRONG_KEY)):
            d.setkey(key)
            status = d.encryption(True)
            check(status.endswith("Key: %s   Encryption: On" % key), "status line: %r" % status)
        # Room for the burst and everything before it.
        for d in (self.a, self.b, self.c):
            d.bufferlines(1000)
        self.crypt = Crypt(self.args.velkor_crypt, self.pa)

    # ---- cases ----

    def case_encrypted_both_ways(self):
        """Same key, encryption on: lines typed by one appear as "<nick> line" at the other,
        both ways and in order; carol (wrong key) shows the nicks with noise."""
        self.eve_mark = len(self.eve.lines())
        turns = [("alice", "good evening bob, can you read me?"),
                 ("alice", "the meeting moved to the old mill"),
                 ("alice", "bring the blue folder"),
                 ("bob", "loud and clear, alice"),
                 ("bob", "old mill it is"),
                 ("alice", "see you at nine then"),
                 ("bob", "nine sharp")]
        self.secret_turns = turns
        driver = {"alice": self.a, "bob": self.b}
        other = {"alice": self.b, "bob": self.a}
        expect = {"alice": [], "bob": []}
        for who, text in turns:
            status, _ = driver[who].type(text)
            check(status == "sent", "%s could not send %r" % (who, text))
            other[who].wait_shown("<%s> %s" % (who, text))
            expect[who].append(text)
            expect["bob" if who == "alice" else "alice"].append("<%s> %s" % (who, text))
        check(self.a.lines() == expect["alice"], "alice shows %r" % self.a.lines())
        check(self.b.lines() == expect["bob"], "bob shows %r" % self.b.lines())

        # carol: one "<nick> " line per message, in order, never the plain text.
        self.c.waitlines(len(turns), 30)
        shown = self.c.lines()
        check(len(shown) >= len(turns), "carol shows %r" % shown)
        nicks = [re.match(r"<(alice|bob)> ", l).group(1) for l in shown if re.match(r"<(alice|bob)> ", l)]
        check(nicks == [who for who, _ in turns], "carol's nicks %r" % nicks)
        for who, text in turns:
            check(not any(text in l for l in shown), "carol reads %r" % text)
        noise = [l[len(who) + 3:] for l in shown for who in ("alice", "bob") if l.startswith("<%s> " % who)]
        check(any(noise), "carol shows no noise at all: %r" % shown)
        self.c.alive()

    def case_shipped_event(self):
        """velkor.mrc's default event at carol: a wire text is forwarded, a plain line with
        $me never reaches /dde."""
        before = len(self.c.lines())
        self.eve_send("PRIVMSG #velkor :hello $me")
        self.eve_send("PRIVMSG #velkor :2Q;X`N<(LY1/@")
        self.c.waitlines(before + 1, 30)
        shown = self.c.lines()[before:]
        check(len(shown) == 1 and shown[0].startswith("<eve> "), "carol shows %r" % shown)
        check(any(l.endswith("the remote event does not take: hello $me")
                  for l in self.peer_c_log.lines()), "the plain line was not held back")

    def case_third_party_sees_only_wire_texts(self):
        """eve sees one digit and "!".."`" characters, no plain word; velkor-crypt with the
        key gives the lines back, with a wrong key something else."""
        seen = {who: privmsgs(self.eve, who, since=self.eve_mark) for who in ("alice", "bob")}
        sent = {who: [t for w, t in self.secret_turns if w == who] for who in ("alice", "bob")}
        for who in ("alice", "bob"):
            check(len(seen[who]) == len(sent[who]), "eve saw %r from %s" % (seen[who], who))
            for wire in seen[who]:
                check(WIRE.match(wire), "not a wire text: %r" % wire)
                check((len(wire) - 1) % 4 == 0, "armour not whole groups: %r" % wire)
            words = {w for t in sent[who] for w in re.findall(r"[a-z]{3,}", t)}
            for wire in seen[who]:
                for w in words:
                    check(w not in wire.lower(), "plain word %r in %r" % (w, wire))
            check(self.crypt.decode(KEY, seen[who]) == sent[who],
                  "decode-line with the key gave %r" % self.crypt.decode(KEY, seen[who]))
            wrong = self.crypt.decode(WRONG_KEY, seen[who])
            check(all(w != s for w, s in zip(wrong, sent[who])), "a wrong key read %r" % wrong)

    def case_plain_chat(self):
        """Encryption off on both sides: plain chat both ways; "/join #other" reaches the
        server as a JOIN; a line over the limit is refused and stays in the input box."""
        for d in (self.a, self.b):
            check(d.encryption(False).endswith("Encryption: Off"), "encryption still on")
        carol_before = self.c.lines()
        check(self.a.type("plain words from alice")[0] == "sent", "alice could not send")
        self.b.wait_shown("<alice> plain words from alice")
        check(self.b.type("and plain words back")[0] == "sent", "bob could not send")
        self.a.wait_shown("<bob> and plain words back")
        self.eve.wait(r"^<< :alice!\S+ PRIVMSG #velkor :plain words from alice$")
        self.eve.wait(r"^<< :bob!\S+ PRIVMSG #velkor :and plain words back$")

        check(self.a.type("/join #other")[0] == "sent", "/join not sent")
        self.eve.wait(r"^<< :alice!\S+ JOIN :?#other$")
        check(self.a.lines()[-1] == "/join #other", "the command is not echoed as typed")

        longest = "x" * 255 + "y"
        check(self.a.type(longest)[0] == "sent", "256 characters must pass")
        self.b.wait_shown("<alice> " + longest)
        over = "z" * 256 + "!"
        status, message = self.a.type(over)
        check(status == "refused" and message == OVER_LIMIT, "257 characters: %r %r" % (status, message))
        check(self.a.input() == over, "the refused line left the input box")
        self.a.dismiss()
        check(self.a.input() == over, "the input box lost the line with the message")
        check(self.a.type("after the long one")[0] == "sent", "alice could not send after refusal")
        self.b.wait_shown("<alice> after the long one")
        self.eve.wait(r"^<< :alice!\S+ PRIVMSG #velkor :after the long one$")
        check(not any(over in l for l in self.eve.lines()), "the refused line reached the channel")
        # carol, with encryption on, shows no plain chat.
        check(self.c.lines() == carol_before, "carol shows plain chat: %r" % self.c.lines()[len(carol_before):])

    def burst_lines(self):
        """200 distinct lines; 20 of them have a zero byte among their cipher bytes, which
        the wire text must carry like any other byte."""
        rng = random.Random(20240611)
        words = ("amber", "basalt", "cedar", "delta", "ember", "fjord", "garnet", "harbor",
                 "indigo", "juniper", "kelp", "lumen", "marrow", "nectar", "onyx", "pepper")
        plain, zeros = [], []
        i = 0
        while len(plain) + len(zeros) < BURST:
            text = "%03d %s" % (i, " ".join(rng.choice(words) for _ in range(rng.randint(1, 7))))
            i += 1
            wire, zero, back = self.a.wire(KEY, text)
            check(back == text, "the codec reads %r back as %r" % (text, back))
            if zero and len(zeros) < 20:
                zeros.append((text, wire))
            elif not zero and len(plain) < BURST - 20:
                plain.append((text, wire))
        lines = plain + zeros
        rng.shuffle(lines)
        return lines, {t for t, w in zeros}

    def case_burst(self):
        """alice types 200 lines quickly: bob shows all 200, in order, none lost, none cut."""
        for d in (self.a, self.b):
            check(d.encryption(True).endswith("Encryption: On"), "encryption still off")
        self.b.call("menu %d" % MENU_CLEARBUFFER)
        check(self.b.lines() == [], "bob's display not cleared")
        lines, zeros = self.burst_lines()
        mark = len(self.eve.lines())
        t0 = time.monotonic()
        sent, ms = self.a.burst([t for t, w in lines])
        check(sent == BURST, "alice sent only %d lines" % sent)
        self.b.waitlines(BURST, 120)
        shown_s = time.monotonic() - t0
        shown = self.b.lines()
        want = ["<alice> " + t for t, w in lines]
        if shown != want:
            missing = [l for l in want if l not in shown]
            cut = [l for l in shown if l not in want]
            raise Failed("bob shows %d lines, %d missing (%r...), %d changed (%r...), "
                         "first difference at %d" % (
                len(shown), len(missing), missing[:3], len(cut), cut[:3],
                next((k for k, (x, y) in enumerate(zip(shown, want)) if x != y), -1)))
        wires = rig.wait_until(lambda: len(privmsgs(self.eve, "alice", since=mark)) >= BURST and
                               privmsgs(self.eve, "alice", since=mark), 60, "eve to see the burst")
        check(wires == [w for t, w in lines], "the wire texts on the channel differ")
        self.burst_figures = "typed in %.1f s (%.0f lines/s), all shown after %.1f s" % (
            ms / 1000, BURST / max(ms / 1000, 1e-3), shown_s)

    def case_irc_client_away(self):
        """ircpeer (mIRC's side) killed: velkor stays usable; after ircpeer is back,
        "Manual connect" restores sending."""
        self.r.stop_process(self.peer_a)
        self.eve.wait(r"^<< :alice!\S+ QUIT", 30)
        t0 = time.monotonic()
        status, _ = self.a.type("typed while the client is away")
        away_s = time.monotonic() - t0
        check(status == "sent", "the line was not taken: %r" % status)
        check(self.a.lines()[-1] == "[NOT SENT: no link to mIRC] typed while the client is away",
              "no marked echo while away: %r" % self.a.lines()[-1])
        self.a.alive()
        # Two more lines while away: each must come back as quickly as the first.
        for k in range(2):
            check(self.a.type("still away %d" % k)[0] == "sent", "not taken while away")
        self.peer_a, _ = self.r.ircpeer(self.pa, "alice")
        self.a.menu(MENU_MANUALCONNECT)
        line = "back on the air"
        check(self.a.type(line)[0] == "sent", "not sent after Manual connect")
        self.b.wait_shown("<alice> " + line)
        line2 = "welcome back alice"
        check(self.b.type(line2)[0] == "sent", "bob could not send")
        self.a.wait_shown("<bob> " + line2)
        check(not any("away" in l for l in self.b.lines()), "a line typed while away arrived")
        self.away_figures = "a line typed while away took %.2f s" % away_s

    def run(self):
        cases = [self.case_encrypted_both_ways, self.case_shipped_event,
                 self.case_third_party_sees_only_wire_texts,
                 self.case_plain_chat, self.case_burst, self.case_irc_client_away]
        t = time.monotonic()
        self.setup()
        print("-- setup: ngircd, 3 prefixes, 3 ircpeers, 3 velkors: %.1f s" % (time.monotonic() - t),
              flush=True)
        for case in cases:
            t = time.monotonic()
            case()
            print("ok %s (%.1f s)" % (case.__name__[5:], time.monotonic() - t), flush=True)
        print("-- burst: " + self.burst_figures)
        print("-- " + self.away_figures)
        for d in (self.a, self.b, self.c):
            d.alive()


def main():
    rig.ensure_display(sys.argv)
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--velkor-crypt", required=True)
    parser.add_argument("--peer32")
    args = parser.parse_args()
    if args.peer32 and not glob.glob("/usr/lib/*/wine/i386-windows") + glob.glob("/usr/lib/wine/i386-windows"):
        print("skipped: this Wine cannot run 32-bit programs (install wine32)")
        return 77
    if args.peer32 and not Path(args.peer32).is_file():
        sys.exit("no 32-bit ircpeer at %s: build it with the windows-i686 preset" % args.peer32)
    build = Path(args.build).resolve()
    prefixes = Path(os.environ.get("VELKOR_E2E_PREFIXES") or build / "e2e").resolve()
    return rig.run_scenario("e2e", build, args.driver,
                            lambda r: TwoUsers(r, args, prefixes).run())


if __name__ == "__main__":
    sys.exit(main())
