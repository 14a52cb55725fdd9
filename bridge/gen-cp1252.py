#!/usr/bin/env python3
"""Writes tests/weechat/cp1252.txt: every byte of code page 1252 and its Unicode character
("-" for the five bytes without one), taken from Python's own cp1252 codec, an
implementation independent of the plugin's table. The build never runs this."""
from pathlib import Path

out = Path(__file__).resolve().parents[2] / "tests/weechat/cp1252.txt"
lines = ["# source: Python %s codec 'cp1252' (bridge/gen-cp1252.py)" % __import__("sys").version.split()[0],
         "# byte (hex) and its Unicode code point (hex), '-' when the byte has none"]
for b in range(256):
    try:
        c = bytes([b]).decode("cp1252")
        lines.append("%02x %04x" % (b, ord(c)))
    except UnicodeDecodeError:
        lines.append("%02x -" % b)
out.write_text("\n".join(lines) + "\n")
