#!/usr/bin/env python3
"""The include graph between the project's folders, and the layering check.

Every quoted include names a header by its path from the repository's top, so the folder
of the including file and the folder of the header give one edge. Each folder names the
folders it may use; a use the table does not name is a violation, also a downward one.

usage: scripts/layers.py [--dot FILE]   prints the folder graph; exit 1 on a violation
"""
import argparse
import pathlib
import re
import subprocess
import sys

# Folder, what it is, the folders it may use. Bottom first (the order of the printed graph).
# A file belongs to the longest folder of this list that holds it.
LAYERS = [
    ("crypto", "the cipher component", []),
    ("chat", "the portable chat core", ["crypto"]),
    ("bridge", "the line library of the IRC client add-ons and velkor-crypt", ["crypto", "chat"]),
    ("win", "the Win32 platform base and window toolkit", []),
    ("dde", "the DDE unit (its text rules portable)", ["win"]),
    ("app", "the chat window program (its start-up texts portable)",
     ["crypto", "chat", "win", "dde"]),
    ("tools/velkor-crypt", "the command-line tool", ["crypto", "chat", "bridge"]),
    ("tools/weechat", "the WeeChat plugin", ["bridge"]),
    ("tools/znc", "the ZNC module", ["bridge"]),
    ("harness", "stand-ins for the outside world: ircpeer, the Wine test kit, DDE helpers",
     ["win", "dde", "app"]),
    ("tests", "tests", ["crypto", "chat", "bridge", "win", "dde", "app", "harness"]),
    ("fuzz", "fuzz targets", ["crypto", "chat"]),
    ("bench", "benchmarks, on the harness", ["crypto", "chat", "app", "harness"]),
]
RANK = {name: i for i, (name, _, _) in enumerate(LAYERS)}
MAY_USE = {name: set(uses) for name, _, uses in LAYERS}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(path: str):
    best = None
    for name, _, _ in LAYERS:
        if path == name or path.startswith(name + "/"):
            if best is None or len(name) > len(best):
                best = name
    return best


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dot", help="also write the graph in Graphviz form to this file")
    args = parser.parse_args()
    root = pathlib.Path(__file__).resolve().parent.parent
    files = subprocess.run(["git", "ls-files", "*.h", "*.cpp", "*.rc"], cwd=root,
                           capture_output=True, text=True, check=True).stdout.split()
    edges = {}
    problems = []
    for f in files:
        src = layer_of(f)
        if src is None:
            continue
        for inc in INCLUDE.findall((root / f).read_text(errors="replace")):
            if "/" not in inc:
                if (root / inc).exists() or not inc.endswith(".h") or inc == "Version.h":
                    continue  # generated headers live in the build folder
                problems.append(f"{f}: \"{inc}\" is not named from the include root")
                continue
            dst = layer_of(inc)
            if dst is None or dst == src:
                continue
            edges.setdefault((src, dst), []).append(f)
            if dst not in MAY_USE[src]:
                problems.append(f"{f}: {src} uses {dst} (\"{inc}\"), which it may not")
    for (src, dst), users in sorted(edges.items(), key=lambda e: (RANK[e[0][0]], RANK[e[0][1]])):
        print(f"{src:18} -> {dst:14} ({len(users)} files)")
    if args.dot:
        lines = ["digraph layers {", "  rankdir=BT;"]
        lines += [f'  "{n}" [label="{n}\\n{what}"];' for n, what, _ in LAYERS]
        lines += [f'  "{s}" -> "{d}";' for s, d in sorted(edges)]
        lines.append("}")
        pathlib.Path(args.dot).write_text("\n".join(lines) + "\n")
    for p in problems:
        print("layering:", p, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
