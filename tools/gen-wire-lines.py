#!/usr/bin/env python3
"""Writes tests/vectors/wire-lines.txt: pinned wire texts of chat lines, produced
independently of the program (libgcrypt's IDEA through ctypes, armour written here).
The build never runs this; rerun it by hand only when the vectors are to be renewed."""
import ctypes
import ctypes.util
import sys

GCRY_CIPHER_IDEA = 1
GCRY_CIPHER_MODE_ECB = 1

lib = ctypes.CDLL(ctypes.util.find_library("gcrypt") or "libgcrypt.so.20")
lib.gcry_check_version.restype = ctypes.c_char_p
lib.gcry_check_version(None)


def idea_ecb(key_block: bytes, data: bytes) -> bytes:
    hd = ctypes.c_void_p()
    if lib.gcry_cipher_open(ctypes.byref(hd), GCRY_CIPHER_IDEA, GCRY_CIPHER_MODE_ECB, 0):
        sys.exit("libgcrypt has no IDEA")
    try:
        if lib.gcry_cipher_setkey(hd, key_block, ctypes.c_size_t(16)):
            sys.exit("setkey failed")
        out = ctypes.create_string_buffer(len(data))
        if lib.gcry_cipher_encrypt(hd, out, ctypes.c_size_t(len(data)), data,
                                   ctypes.c_size_t(len(data))):
            sys.exit("encrypt failed")
        return out.raw
    finally:
        lib.gcry_cipher_close(hd)


def key_block(key: bytes) -> bytes:
    # The key text up to its first zero byte, at most 16 bytes, zero-filled on the right.
    key = key.split(b"\0", 1)[0][:16]
    return key + bytes(16 - len(key))


def armour(data: bytes) -> str:
    chars = []
    for i in range(0, len(data), 3):
        group = int.from_bytes(data[i:i + 3], "big")
        for shift in (18, 12, 6, 0):
            sextet = (group >> shift) & 63
            chars.append("`" if sextet == 0 else chr(sextet + 32))
    return "".join(chars)


def wire(line: bytes, key: bytes) -> str:
    padded = line + bytes(-len(line) % 8)
    cipher = idea_ecb(key_block(key), padded)
    r = len(cipher) % 3
    fill = {0: b"", 1: b"  ", 2: b" "}[r]
    return str(r) + armour(cipher + fill)


def self_check():
    # Lai's worked example, so a broken binding cannot go unnoticed.
    k = bytes.fromhex("00010002000300040005000600070008")
    assert idea_ecb(k, bytes.fromhex("0000000100020003")).hex() == "11fbed2b01986de5"
    assert armour(b"abc") == "86)C"


def main():
    self_check()
    cases = [
        (b"velkor", b"a"),
        (b"velkor", b"hello, channel"),
        (b"", b"empty key gives sixteen zero bytes"),
        (b"sixteen-byte-key", b"12345678"),
        (b"sixteen-byte-key and more", b"12345678"),
        (b"k", b"123456789"),
        (b"Enter Key!", bytes(range(1, 256))),
        (b"Enter Key!", b"\xe4\xf6\xfc \xa9 caf\xe9 \xff"),
        (b"#velkor", b"x" * 184),
        (b"#velkor", b"y" * 185),
        (b"long line", bytes((i * 7) % 255 + 1 for i in range(1024))),
    ]
    # A line whose ciphertext holds a zero byte, pinned so its full wire text is fixed.
    line = b"a line whose cipher holds a zero"
    for i in range(100000):
        key = b"zero-%d" % i
        if 0 in idea_ecb(key_block(key), line + bytes(-len(line) % 8)):
            cases.append((key, line))
            break
    print("# Pinned wire texts: key (hex), line (hex), wire text.")
    print("# source: tools/gen-wire-lines.py (libgcrypt IDEA-ECB via ctypes, armour and "
          "digit computed in the script)")
    for key, line in cases:
        print(key.hex() or "-", line.hex(), wire(line, key))


if __name__ == "__main__":
    main()
