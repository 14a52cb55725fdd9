"""Sets up real chat parts for the two-user test, the demo and the benchmarks: a private
ngircd, Wine prefixes (one wineserver, one desktop each), ircpeer as each user's IRC client,
chat_driver running velkor.exe inside a prefix, and a plain IRC client. Everything started
is stopped by Rig.close(), also after Ctrl-C or SIGTERM. Standard library only."""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CHANNEL = "#velkor"
OPER = "tester:secret"


class RigError(Exception):
    pass


class Failed(Exception):
    """A scenario saw the chat do something wrong (RigError: the rig itself went wrong)."""


def check(condition, message):
    if not condition:
        raise Failed(message)


def log(text):
    print(text, flush=True)


def to_hex(text):
    data = text.encode("latin-1") if isinstance(text, str) else text
    return data.hex() or "-"


def from_hex(field):
    if field == "-":
        return ""
    return bytes.fromhex(field).decode("latin-1")


def wine_popen(argv, **popen_args):
    """subprocess.Popen(["wine", *argv]), started again when Wine gives up before the
    program runs (status 1 within 25 ms; see scripts/wine-start). Returns the Popen of
    wine itself, so that killing it kills the program."""
    limit = int(os.environ.get("VELKOR_WINE_GIVEUP_MS", "25")) / 1000
    for attempt in range(3):
        started = time.monotonic()
        proc = subprocess.Popen(["wine", *argv], **popen_args)
        while proc.poll() is None and time.monotonic() - started < limit:
            time.sleep(0.002)
        gave_up = proc.returncode == 1 and time.monotonic() - started < limit
        if not gave_up or attempt == 2:
            return proc
        for pipe in (proc.stdin, proc.stdout, proc.stderr):
            if pipe:
                pipe.close()
        log("-- Wine gave up starting %s; starting it again" % argv[0])


def wait_until(check, timeout, what, interval=0.05):
    """Polls check() until it returns something true; returns that, or raises."""
    end = time.monotonic() + timeout
    while True:
        value = check()
        if value:
            return value
        if time.monotonic() > end:
            raise RigError("timed out after %gs waiting for %s" % (timeout, what))
        time.sleep(interval)


class LogFile:
    """A process's output file, searched line by line."""

    def __init__(self, path):
        self.path = Path(path)

    def lines(self):
        try:
            return self.path.read_text(encoding="latin-1").replace("\r", "").splitlines()
        except FileNotFoundError:
            return []

    def find(self, pattern):
        rx = re.compile(pattern)
        for line in self.lines():
            m = rx.search(line)
            if m:
                return m
        return None

    def wait(self, pattern, timeout=30):
        return wait_until(lambda: self.find(pattern), timeout, "/%s/ in %s" % (pattern, self.path.name))


class Prefix:
    """A Wine prefix with its own wineserver: a desktop of its own for DDE and windows."""

    def __init__(self, path):
        self.path = Path(path)
        self.env = dict(os.environ, WINEPREFIX=str(self.path), WINEDEBUG="-all")
        self.booted = False

    def boot_process(self):
        """Boots the prefix; its messages (a prefix made afresh, one that cannot start
        programs) go to a file beside it, for boot() to show."""
        self.path.parent.mkdir(parents=True, exist_ok=True)
        self.booted = True
        self.boot_log = self.path.parent / (self.path.name + ".boot.log")
        with open(self.boot_log, "wb") as err:
            return subprocess.Popen(["bash", str(ROOT / "scripts/wine-prefix.sh"), "boot", str(self.path)],
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=err, env=self.env)

    def kill(self):
        if self.booted:
            subprocess.run(["bash", str(ROOT / "scripts/wine-prefix.sh"), "kill", str(self.path)],
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, env=self.env, timeout=30)
            self.booted = False


class Driver:
    """chat_driver.exe in a prefix: one command line in, one reply line out."""

    def __init__(self, rig, prefix, name, env=None):
        self.name = name
        self.prefix = prefix
        with open(Path(rig.work) / ("driver-%s.err" % name), "ab") as err:
            self.proc = wine_popen([rig.driver_exe], stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, stderr=err,
                                   env=dict(prefix.env, **(env or {})))
        self.replies = []
        self.cond = threading.Condition()
        self.transcript = open(Path(rig.work) / ("driver-%s.log" % name), "a", encoding="latin-1")
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.proc.stdout:
            line = raw.decode("latin-1").rstrip("\r\n")
            self._note("< " + line)
            with self.cond:
                self.replies.append(line)
                self.cond.notify_all()
        with self.cond:
            self.replies.append(None)
            self.cond.notify_all()

    def _note(self, text):
        self.transcript.write(text[:300] + "\n")
        self.transcript.flush()

    def send(self, line):
        self._note("> " + line)
        try:
            self.proc.stdin.write((line + "\n").encode("latin-1"))
            self.proc.stdin.flush()
        except BrokenPipeError:
            raise RigError("%s: the driver is gone" % self.name)

    def reply(self, timeout=60):
        with self.cond:
            if not self.cond.wait_for(lambda: self.replies, timeout):
                raise RigError("%s: no reply within %gs" % (self.name, timeout))
            line = self.replies.pop(0)
        if line is None:
            raise RigError("%s: the driver ended" % self.name)
        if line.startswith("err"):
            raise RigError("%s: %s" % (self.name, line))
        if not line.startswith("ok"):
            raise RigError("%s: unexpected reply %r" % (self.name, line))
        return line.split()[1:]

    def call(self, line, timeout=60):
        self.send(line)
        return self.reply(timeout)

    # Commands.
    def start(self):
        return int(self.call("start", 60)[0])

    def setkey(self, key):
        return from_hex(self.call("setkey " + to_hex(key))[0])

    def bufferlines(self, n):
        return from_hex(self.call("bufferlines %d" % n)[0])

    def encryption(self, on):
        return from_hex(self.call("encryption " + ("on" if on else "off"))[0])

    def menu(self, ident):
        self.call("menu %d" % ident)

    def type(self, line):
        """("sent", None) or ("refused", message box text)."""
        fields = self.call("type " + to_hex(line), 60)
        return (fields[0], from_hex(fields[1]) if len(fields) > 1 else None)

    def burst(self, lines, timeout=240):
        self.send("burst %d" % len(lines))
        for line in lines:
            self.send(to_hex(line))
        sent, ms = self.reply(timeout)
        return int(sent), int(ms)

    def dismiss(self):
        self.call("dismiss")

    def input(self):
        return from_hex(self.call("input")[0])

    def status(self):
        return from_hex(self.call("status")[0])

    def lines(self):
        fields = self.call("lines", 60)
        return [from_hex(f) for f in fields[1:]]

    def waitlines(self, n, timeout=60):
        return int(self.call("waitlines %d %d" % (n, timeout * 1000), timeout + 30)[0])

    def wait_shown(self, line, timeout=30):
        """Waits until the display holds `line`; returns the display lines."""
        lines = []

        def seen():
            nonlocal lines
            lines = self.lines()
            return line in lines
        wait_until(seen, timeout, "%s to show %r" % (self.name, line), interval=0.2)
        return lines

    def alive(self):
        self.call("alive", 30)

    def wire(self, key, line):
        """(wire text, whether the cipher bytes hold a zero, the line read back)."""
        w, zero, back = self.call("wire %s %s" % (to_hex(key), to_hex(line)))
        return from_hex(w), zero == "1", from_hex(back)

    def quit(self):
        try:
            if self.proc.poll() is None:
                self.call("quit", 15)
        except RigError:
            pass
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(5)


class Rig:
    def __init__(self, work, build=None, driver_exe=None):
        self.work = Path(work)
        self.work.mkdir(parents=True, exist_ok=True)
        self.build = Path(build or os.environ.get("VELKOR_BUILD") or ROOT / "build/windows")
        self.driver_exe = str(driver_exe or self.build / "tests/e2e/chat_driver.exe")
        self.ircpeer_exe = str(self.build / "harness/ircpeer/ircpeer.exe")
        self.port = None
        self.prefixes = []
        self.drivers = []
        self.procs = []  # (name, Popen) of everything else
        self.closed = False
        self._old_handlers = {}
        for sig in (signal.SIGINT, signal.SIGTERM):
            self._old_handlers[sig] = signal.signal(sig, self._on_signal)

    def _on_signal(self, signum, frame):
        raise SystemExit(128 + signum)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def start_ngircd(self):
        out = subprocess.run(["bash", str(ROOT / "scripts/ngircd.sh"), "start", str(self.work / "irc")],
                             stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
        if out.returncode != 0:
            raise RigError("ngircd did not start: " + out.stderr)
        self.port = int(out.stdout.split()[-1])
        return self.port

    def boot(self, paths):
        """Boots the prefixes side by side; a prefix that exists boots in a second or two."""
        prefixes = [Prefix(p) for p in paths]
        self.prefixes += prefixes
        procs = [p.boot_process() for p in prefixes]
        for prefix, proc in zip(prefixes, procs):
            rc = proc.wait(240)
            said = prefix.boot_log.read_text(errors="replace").strip()
            if said:
                log(said)
            if rc != 0:
                raise RigError("Wine prefix %s did not boot (status %d): %s" % (prefix.path, rc, said))
        return prefixes

    def ircpeer(self, prefix, nick, extra=(), per_line=True, exe=None):
        """Starts ircpeer as the user's IRC client; waits until it joined with mode +F.
        per_line: each channel line gets a DDE conversation of its own, as mIRC's remote
        event "/dde" opens one; False keeps one conversation for all. exe: another build of
        ircpeer (a 32-bit one, as mIRC is)."""
        out = LogFile(self.work / ("ircpeer-%s.log" % nick))
        mode = ["--dde-per-line"] if per_line else []
        with open(out.path, "ab") as f:
            proc = wine_popen([exe or self.ircpeer_exe, "--server", "127.0.0.1:%d" % self.port,
                               "--nick", nick, "--join", CHANNEL, "--oper", OPER, *mode, *extra],
                              stdin=subprocess.DEVNULL, stdout=f, stderr=subprocess.STDOUT,
                              env=prefix.env)
        self.procs.append(("ircpeer " + nick, proc))
        start = len(out.lines())
        def joined():
            lines = out.lines()[start:]
            if proc.poll() is not None:
                raise RigError("ircpeer %s ended with status %d before joining %s; its output:\n%s"
                               % (nick, proc.returncode, CHANNEL, "\n".join(lines[-20:])))
            return (any(l.startswith("-- joined " + CHANNEL) for l in lines) and
                    any(re.match(r"<< :%s!\S+ MODE %s :?\+F" % (nick, nick), l) for l in lines))
        wait_until(joined, 60, "ircpeer %s to join %s as +F" % (nick, CHANNEL))
        return proc, out

    def driver(self, prefix, name, env=None):
        d = Driver(self, prefix, name, env)
        self.drivers.append(d)
        return d

    def plain_client(self, nick, channels, lifetime=600, port=None, name=None):
        """A plain IRC client that is not in the secret (on ngircd, or on another port: a
        bouncer's); returns (send, its log)."""
        out = LogFile(self.work / ("client-%s.log" % (name or nick)))
        f = open(out.path, "wb")
        proc = subprocess.Popen([sys.executable, str(ROOT / "harness/ircclient.py"),
                                 "--port", str(port or self.port), "--nick", nick, "--lifetime", str(lifetime)],
                                stdin=subprocess.PIPE, stdout=f, stderr=subprocess.STDOUT)
        f.close()
        self.procs.append(("client " + nick, proc))

        def send(line):
            proc.stdin.write((line + "\n").encode("latin-1"))
            proc.stdin.flush()
        for channel in channels:
            send("JOIN " + channel)
            out.wait(r" 366 %s %s " % (re.escape(nick), re.escape(channel)), 30)
        return send, out

    def stop_process(self, proc):
        if proc.poll() is None:
            proc.kill()
            try:
                proc.wait(10)
            except subprocess.TimeoutExpired:
                pass

    def close(self):
        if self.closed:
            return
        self.closed = True
        # Ctrl-C again while cleaning up must not leave processes behind.
        for sig in self._old_handlers:
            signal.signal(sig, signal.SIG_IGN)
        for d in self.drivers:
            d.quit()
        for name, proc in self.procs:
            if proc.poll() is None:
                proc.terminate()
        for name, proc in self.procs:
            try:
                proc.wait(3)
            except subprocess.TimeoutExpired:
                self.stop_process(proc)
        for p in self.prefixes:
            try:
                p.kill()
            except Exception:
                pass
        if self.port is not None:
            subprocess.run(["bash", str(ROOT / "scripts/ngircd.sh"), "stop", str(self.work / "irc")],
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30)
        for sig, handler in self._old_handlers.items():
            signal.signal(sig, handler)


def run_scenario(name, build, driver_exe, body, logs=("*.log",), tail=40):
    """Runs body(rig) in a fresh work folder; on failure prints the tail of every log
    matching one of `logs` below it. Keeps the folder when VELKOR_E2E_KEEP is set (or
    VELKOR_E2E_KEEP_ON_FAIL and it failed). Returns the process exit status."""
    work = Path(tempfile.mkdtemp(prefix="velkor-%s." % name))
    started = time.monotonic()
    passed = False
    try:
        with Rig(work, build=build, driver_exe=driver_exe) as r:
            body(r)
            passed = True
    except (Failed, RigError) as e:
        print("FAIL: %s" % e, flush=True)
    finally:
        if not passed:
            for f in [f for pattern in logs for f in sorted(work.rglob(pattern))]:
                print("===== %s" % f.relative_to(work))
                print("\n".join(LogFile(f).lines()[-tail:]))
        keep_on_fail = not passed and os.environ.get("VELKOR_E2E_KEEP_ON_FAIL")
        if os.environ.get("VELKOR_E2E_KEEP") or keep_on_fail:
            print("logs kept in %s" % work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    print("%s in %.1f s" % ("PASS" if passed else "FAILED", time.monotonic() - started))
    return 0 if passed else 1


def ensure_display(argv):
    """Without an X display, runs this script again inside a private Xvfb."""
    if os.environ.get("DISPLAY"):
        return
    os.execvp("xvfb-run", ["xvfb-run", "-a", "-s", "-screen 0 1024x768x24",
                           sys.executable, *argv])
