#!/usr/bin/env python3
"""Line-path benchmarks of the chat window under Wine, one run, one table.

latency   Enter in alice's velkor to the line shown in bob's, through ircpeer, ngircd,
          ircpeer and DDE: host clock read by the two drivers (one per prefix)
display   bench_display.exe in one prefix: incoming flood against a naive RichEdit append,
          start-up to the first DDE connect, working set after the flood's shown lines

usage: bench_e2e.py [--lines 500] [--flood 10000] [--naive 300] [--launches 10]
Prefixes live in build/windows/bench (VELKOR_BENCH_PREFIXES to change)."""
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


def display(r, prefix, args):
    exe = r.build / "bench/e2e/bench_display.exe"
    out = subprocess.run(["wine", str(exe), "--flood", str(args.flood), "--naive", str(args.naive),
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
    parser.add_argument("--flood", type=int, default=10000)
    parser.add_argument("--naive", type=int, default=300)
    parser.add_argument("--launches", type=int, default=10)
    args = parser.parse_args()
    build = rig.ROOT / "build/windows"
    where = Path(os.environ.get("VELKOR_BENCH_PREFIXES") or build / "bench").resolve()
    work = Path(tempfile.mkdtemp(prefix="velkor-bench."))
    started = time.monotonic()
    with rig.Rig(work, build=build) as r:
        samples = latency(r, [where / "prefix-alice", where / "prefix-bob"], args.lines)
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
