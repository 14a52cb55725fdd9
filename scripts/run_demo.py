#!/usr/bin/env python3
"""Two users chat through velkor without a screen: ngircd on loopback, one Wine prefix per
user with ircpeer and velkor.exe (same key, encryption on), and a plain IRC client who
sees only what the server carries. Saves a screenshot of each window and prints what each
side showed. Run by scripts/run.sh inside Xvfb.

usage: run_demo.py OUTPUT_DIR"""
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import rig  # noqa: E402

KEY = "correct horse battery"
CONVERSATION = [
    ("user1", "evening! is the key working on your side?"),
    ("user2", "loud and clear. nobody else can read this"),
    ("user1", "good. the tea house at eight, then"),
    ("user2", "eight it is. bring the notes"),
    ("user1", "will do. see you"),
]
PLACES = {"user1": (0, 0, 500, 340), "user2": (512, 0, 500, 340)}


def screenshot(out, place):
    x, y, w, h = place
    xwd = subprocess.run(["xwd", "-root", "-silent", "-display", os.environ["DISPLAY"]],
                         capture_output=True, timeout=60, check=True)
    subprocess.run(["/usr/bin/convert-im6.q16", "xwd:-", "-crop", "%dx%d+%d+%d" % (w, h, x, y),
                    "+repage", str(out)], input=xwd.stdout, timeout=60, check=True)


def main():
    out_dir = Path(sys.argv[1]).resolve()
    out_dir.mkdir(parents=True, exist_ok=True)
    work = Path(tempfile.mkdtemp(prefix="velkor-demo."))
    with rig.Rig(work) as r:
        port = r.start_ngircd()
        print("ngircd on 127.0.0.1:%d" % port, flush=True)
        prefixes = r.boot([out_dir / "prefix-user1", out_dir / "prefix-user2"])
        _, eve = r.plain_client("eve", ["#velkor"])
        users = {}
        for name, prefix in zip(("user1", "user2"), prefixes):
            r.ircpeer(prefix, name)
            d = r.driver(prefix, name)
            d.start()
            d.setkey(KEY)
            d.encryption(True)
            d.call("place %d %d %d %d" % PLACES[name])
            users[name] = d
        print("both velkors up, key %r, encryption on" % KEY, flush=True)
        for who, line in CONVERSATION:
            other = "user2" if who == "user1" else "user1"
            status, _ = users[who].type(line)
            if status != "sent":
                raise rig.RigError("%s could not send %r" % (who, line))
            users[other].wait_shown("<%s> %s" % (who, line))
        shots = {}
        for name, d in users.items():
            d.call("place %d %d %d %d" % PLACES[name])
            shots[name] = out_dir / ("%s.png" % name)
            screenshot(shots[name], PLACES[name])
        for name, d in users.items():
            print("\n%s's velkor shows:" % name)
            for line in d.lines():
                print("   " + line)
        print("\nthe IRC server carried (as the plain client eve saw it):")
        for line in eve.lines():
            m = re.match(r"^<< :(\w+)!\S+ PRIVMSG (#\S+) :(.*)$", line)
            if m:
                print("   <%s> %s" % (m.group(1), m.group(3)))
        print("\nscreenshots: %s" % ", ".join(str(p) for p in shots.values()))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except rig.RigError as e:
        print("run: %s" % e, file=sys.stderr)
        sys.exit(1)
