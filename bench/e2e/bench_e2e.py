#!/usr/bin/env python3
"""Line-path benchmarks of the chat window under Wine, one run, one table.

latency   Enter in alice's velkor to the line shown in bob's, through ircpeer, ngircd,
          ircpeer and DDE: host clock read by the two drivers (one per prefix)
two-way   alice and bob both type a line every 200 ms (+-100 ms) at once, each ircpeer
          opening a DDE conversation per channel line as mIRC does: per line the time
          from Enter to the input box emptied (the window's send), and lines lost
display   bench_display.exe in one prefix: incoming flood against a naive RichEdit append,
          start-up to the first DDE connect, working set after the flood's shown lines

usage: bench_e2e.py [--lines 500] [--twoway 150] [--flood 10000] [--naive 300] [--launches 10]
Prefixes live in build/windows/bench (VELKOR_BENCH_PREFIXES to change); VELKOR_BUILD names
another Windows build folder."""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
import rig  # noqa: E402

KEY = "lantern at midnight"
MENU_CLEARBUFFER = 1001


def percentile(values, p):
    values = sorted(values)
    k = min(len(values) - 1, max(0, int(round(p / 100 * len(values) + 0.5)) - 1))
    return values[k]


def latency(r, prefixes, n):
    r.start_ngircd()
    pa, pb = r.boot(prefixes)
    r.ircpeer(pa, "alice")
    r.ircpeer(pb, "bob")
    a, b = r.driver(pa, "alice"), r.driver(pb, "bob")
    r.users = (a, b)
    for d in (a, b):
        d.start()
        d.setkey(KEY)
        d.encryption(True)
    b.bufferlines(100000)  # the control's line count then grows by one per line
    count = int(b.call("linecount")[0])
    samples = []
    for i in range(-20, n):  # 20 lines to warm up
        line = "latency probe %04d" % (i + 20)
        b.send("waitgrow %d 20000" % count)
        t0 = int(a.call("typetimed " + rig.to_hex(line))[0])
        t1, count = (int(x) for x in b.reply(30))
        if i >= 0:
            samples.append((t1 - t0) / 1000.0)
    last = b.lines()[-1]
    if last != "<alice> latency probe %04d" % (n + 19):
        raise rig.RigError("bob's last line is %r" % last)
    return samples


def twoway(a, b, n):
    """Both type n lines at once; returns (send times in ms, lines lost, seconds until
    both showed everything)."""
    for d in (a, b):
        d.bufferlines(100000)
        d.call("menu %d" % MENU_CLEARBUFFER)
    t0 = time.monotonic()
    for d, seed in ((a, 11), (b, 22)):
        d.send("twoway %d 200 100 %d %s" % (n, seed, rig.to_hex(d.name)))
    times = []
    for d in (a, b):
        sent, ms = d.reply(n * 2 + 120)
        if int(sent) != n:
            raise rig.RigError("%s sent %s of %d lines" % (d.name, sent, n))
        times += [float(x) for x in ms.split(",")]
    lost = 0
    for d, other in ((a, b), (b, a)):
        try:
            d.waitlines(2 * n, 60)
        except rig.RigError:
            pass  # counted below
        shown = set(d.lines())
        lost += sum("<%s> %s %04d" % (other.name, other.name, i) not in shown
                    for i in range(1, n + 1))
    return times, lost, time.monotonic() - t0


def display(r, prefix, args):
    exe = r.build / "bench/e2e/bench_display.exe"
    out = subprocess.run([str(rig.ROOT / "scripts/wine-start"), str(exe),
                          "--flood", str(args.flood), "--naive", str(args.naive),
                          "--launches", str(args.launches)],
                         stdin=subprocess.DEVNULL, capture_output=True, env=prefix.env, timeout=1800)
    figures = {}
    for line in out.stdout.decode("latin-1").splitlines():
        parts = line.split()
        if len(parts) == 3:
            figures[parts[0]] = float(parts[1])
    if out.returncode != 0:
        raise rig.RigError("bench_display failed (%d): %s" % (out.returncode, figures))
    return figures


def main():
    rig.ensure_display(sys.argv)
    parser = argparse.ArgumentParser()
    parser.add_argument("--lines", type=int, default=500)
    parser.add_argument("--twoway", type=int, default=150)
    parser.add_argument("--flood", type=int, default=10000)
    parser.add_argument("--naive", type=int, default=300)
    parser.add_argument("--launches", type=int, default=10)
    args = parser.parse_args()
    build = Path(os.environ.get("VELKOR_BUILD") or rig.ROOT / "build/windows").resolve()
    where = Path(os.environ.get("VELKOR_BENCH_PREFIXES") or build / "bench").resolve()
    work = Path(tempfile.mkdtemp(prefix="velkor-bench."))
    started = time.monotonic()
    with rig.Rig(work, build=build) as r:
        samples = latency(r, [where / "prefix-alice", where / "prefix-bob"], args.lines)
        sends, lost, twoway_s = twoway(*r.users, args.twoway)
        for d in r.drivers:
            d.quit()
        figures = display(r, r.prefixes[0], args)

    med, p99 = statistics.median(samples), percentile(samples, 99)
    f = figures
    rows = [
        ("line latency, Enter to shown at the other user, median", "%.1f ms" % med,
         "goal < 20 ms: %s" % ("met" if med < 20 else "missed")),
        ("line latency, p99 / mean / min / max (%d lines)" % len(samples),
         "%.1f / %.1f / %.1f / %.1f ms" % (p99, statistics.mean(samples), min(samples), max(samples)),
         "p99/median %.2f" % (p99 / med)),
        ("two-way, both typing every 200 ms, send (Enter to box emptied), p99 / worst",
         "%.1f / %.1f ms" % (percentile(sends, 99), max(sends)),
         "goal worst < 1000 ms: %s; p99/one-way median %.2f" % (
             "met" if max(sends) < 1000 else "missed", percentile(sends, 99) / med)),
        ("two-way lines lost (%d typed by each, all shown after %.1f s)" % (args.twoway, twoway_s),
         "%d" % lost, "goal 0: %s" % ("met" if lost == 0 else "missed")),
        ("incoming flood into the visible chat window (%d pokes)" % args.flood,
         "%.0f pokes/s" % f["flood_rate"],
         "goal >= 500: %s" % ("met" if f["flood_rate"] >= 500 else "missed")),
        ("naive append: visible RichEdit, no redraw hold (%d lines)" % args.naive,
         "%.0f lines/s" % f["naive_rate"], "velkor/naive %.2f" % (f["flood_rate"] / f["naive_rate"])),
        ("same pokes for an unwatched channel (no display)", "%.0f pokes/s" % f["flood_other_channel_rate"],
         "display share of a shown poke %.0f%%" % (100 * (1 - f["flood_rate"] / f["flood_other_channel_rate"]))),
        ("start-up: launch to DDE server accepting, median / max (%d launches)" % args.launches,
         "%.0f / %.0f ms" % (f["startup_median"], f["startup_max"]),
         "goal < 500 ms: %s" % ("met" if f["startup_median"] < 500 else "missed")),
        ("working set at start", "%.1f MB" % f["memory_start_ws"], ""),
        ("working set after %d shown lines (display holds %d)" % (args.flood, f["display_lines_after_flood"]),
         "%.1f MB" % f["memory_after_flood_ws"],
         "peak %.1f MB, growth x%.2f" % (f["memory_after_flood_peak"],
                                          f["memory_after_flood_ws"] / f["memory_start_ws"])),
    ]
    width = max(len(r[0]) for r in rows)
    vw = max(len(r[1]) for r in rows)
    print()
    print("%-*s  %-*s  %s" % (width, "measure", vw, "value", "note"))
    print("-" * (width + vw + 30))
    for name, value, note in rows:
        print("%-*s  %-*s  %s" % (width, name, vw, value, note))
    print("(one run, %.0f s, load average %s)" % (time.monotonic() - started,
                                                   " ".join(open("/proc/loadavg").read().split()[:3])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
