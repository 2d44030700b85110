#!/usr/bin/env python3
"""Prints the code page tables of conv/encoding.cpp as the PC's iconv decodes them:
the code point of each byte 0x80..0xFF, 0 where iconv reads none. Paste the output
over the tables there and run clang-format on the file."""
import subprocess

PAGES = [
    ("kWindows1250", "WINDOWS-1250"), ("kWindows1251", "WINDOWS-1251"),
    ("kWindows1252", "WINDOWS-1252"), ("kWindows1253", "WINDOWS-1253"),
    ("kWindows1254", "WINDOWS-1254"), ("kWindows1257", "WINDOWS-1257"),
    ("kIso8859_2", "ISO-8859-2"), ("kIso8859_5", "ISO-8859-5"),
    ("kIso8859_7", "ISO-8859-7"), ("kIso8859_9", "ISO-8859-9"),
    ("kIso8859_13", "ISO-8859-13"), ("kIso8859_15", "ISO-8859-15"),
    ("kKoi8R", "KOI8-R"), ("kKoi8U", "KOI8-U"),
]


def code_point(page, byte):
    run = subprocess.run(["iconv", "-f", page, "-t", "UTF-32BE"], input=bytes([byte]),
                         capture_output=True)
    if run.returncode != 0 or len(run.stdout) != 4:
        return 0
    return int.from_bytes(run.stdout, "big")


for symbol, page in PAGES:
    points = ", ".join("0x%04X" % code_point(page, b) for b in range(0x80, 0x100))
    print("constexpr std::array<uint16_t, 128> %s = {%s,};" % (symbol, points))
