#!/usr/bin/env python3
"""An independent client of PSHLib: loads the library by path with ctypes and
checks its pseudonyms against hashlib's SHA-1, and with --exports checks with
nm that the library exports its three entry points and nothing else."""

import ctypes
import hashlib
import random
import subprocess
import sys

EXPORTS = {"PSHCalc", "PSHVersion", "PSHAbout"}


def expected_pseudonym(code):
    """The pseudonym as the library defines it, computed here independently."""
    if code is None:
        code = b""
    start, end = 0, len(code)
    while start < end and code[start] <= 32:
        start += 1
    while end > start and code[end - 1] <= 32:
        end -= 1
    # bytes.upper() touches only the ASCII letters a-z.
    return hashlib.sha1(code[start:end].upper()).hexdigest().upper().encode("ascii")


def fiscal_codes():
    letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
    months = "ABCDEHLMPRST"
    rng = random.Random(20260101)
    codes = [
        None,
        b"",
        b"   ",
        b"RSSMRA80A01H501U",
        b"rssmra80a01h501u",
        b"  VRDGPP85T10F205X\r\n",
        b"\tBNCLRA72M41L219K\x00",
        b"MRTNNA90E45H501\xc0",
        b"\xe0\xe8\xec\xf2\xf9",
        b"\xa0RSSMRA80A01H501U\xa0",
        b"RSS MRA 80A01",
        b"X" * 300,
    ]
    for _ in range(300):
        code = "".join(rng.choice(letters) for _ in range(6))
        code += "%02d" % rng.randrange(100) + rng.choice(months)
        code += "%02d" % rng.choice([rng.randrange(1, 32), rng.randrange(41, 72)])
        code += rng.choice(letters) + "%03d" % rng.randrange(1000) + rng.choice(letters)
        if rng.random() < 0.3:
            code = code.lower()
        if rng.random() < 0.3:
            code = rng.choice([" ", "\t", "\r\n", "\x01"]) + code + rng.choice([" ", "\n", ""])
        codes.append(code.encode("ascii"))
    for _ in range(200):
        length = rng.randrange(0, 40)
        codes.append(bytes(rng.randrange(1, 256) for _ in range(length)))
    return codes


def check_digests(path):
    library = ctypes.CDLL(path)
    library.PSHCalc.argtypes = [ctypes.c_char_p]
    library.PSHCalc.restype = ctypes.c_char_p
    library.PSHVersion.argtypes = []
    library.PSHVersion.restype = ctypes.c_char_p
    library.PSHAbout.argtypes = []
    library.PSHAbout.restype = None

    failures = []
    codes = fiscal_codes()
    for code in codes:
        # A NUL ends the text for the library as for any C client.
        sent = code.split(b"\x00")[0] if code is not None else None
        got = library.PSHCalc(sent)
        want = expected_pseudonym(sent)
        if got != want:
            failures.append("PSHCalc(%r) = %r, expected %r" % (code, got, want))
    version = library.PSHVersion()
    if version != b"1.0.0.2":
        failures.append("PSHVersion() = %r" % version)
    for failure in failures:
        print(failure)
    print("%d codes checked, %d failures" % (len(codes), len(failures)))
    return 1 if failures else 0


def check_exports(path):
    output = subprocess.run(["nm", "-D", "--defined-only", path], check=True,
                            capture_output=True, text=True).stdout
    names = {line.split()[-1].split("@")[0] for line in output.splitlines() if line.strip()}
    if names != EXPORTS:
        print("exported: %s; expected exactly %s" % (sorted(names), sorted(EXPORTS)))
        return 1
    print("exports: %s" % ", ".join(sorted(names)))
    return 0


def main(argv):
    if len(argv) == 3 and argv[1] == "--exports":
        return check_exports(argv[2])
    if len(argv) == 2:
        return check_digests(argv[1])
    print("usage: pshlib_ctypes.py [--exports] PATH/PSHLib.so", file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
