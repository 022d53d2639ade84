#!/usr/bin/env python3
"""Checks that the committed sample tour still follows the package conventions
the player relies on, and that the panorama generator still draws what the
tour page loads.

Usage: check_tour.py TOUR_DIR   (the committed folder that holds _flash/)
"""

import os
import re
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
POPUP = re.compile(rb"javascript:window\.open\('([^']+)','[^']+','.+width=(\d+).+height=(\d+)'",
                   re.S)
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
    return ok


def text_mode(data):
    """The launcher as the player reads it: lines joined without their ends."""
    data = data.split(b"\x1a", 1)[0]
    return b"".join(line[:-1] if line.endswith(b"\r") else line
                    for line in data.split(b"\n"))


def check_package(tour):
    content = os.path.join(tour, "_flash")
    movies = [os.path.relpath(os.path.join(d, f), tour)
              for d, _, files in os.walk(tour) for f in files if f.lower() == "qzviewer.swf"]
    check(movies == [os.path.join("_flash", "qzviewer.swf")],
          "exactly one viewer movie, at _flash/qzviewer.swf; found %r" % movies)

    with open(os.path.join(content, "autorun.inf"), "rb") as f:
        autorun = f.read()
    m = re.fullmatch(rb"\[autorun\] \r\r\nshellexecute=([^\r\n]+\.html)", autorun)
    if not check(m, "autorun.inf is not '[autorun] ' CR CR LF 'shellexecute=NAME.html': %r" % autorun):
        return
    launcher = os.path.join(content, m.group(1).decode())
    if not check(os.path.isfile(launcher), "launcher %s is missing" % launcher):
        return

    with open(launcher, "rb") as f:
        page = text_mode(f.read())
    calls = list(POPUP.finditer(page.lower()))
    if not check(len(calls) == 1, "launcher holds %d pop-up calls, wants 1" % len(calls)):
        return
    span = calls[0]
    name = page[span.start(1):span.end(1)].replace(b"%20", b" ").decode()
    size = (int(page[span.start(2):span.end(2)]), int(page[span.start(3):span.end(3)]))
    check(os.path.isfile(os.path.join(content, name)), "tour page %s is missing" % name)
    check(size == (1024, 768), "pop-up size %r, wants 1024x768" % (size,))
    return os.path.join(content, name)


def png_pixels(data):
    """Width, height and raw RGB rows of an 8-bit RGB PNG with Sub filters."""
    check(data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        crc = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])[0]
        check(zlib.crc32(kind + body) & 0xFFFFFFFF == crc, "bad CRC in %r" % kind)
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    w, h, depth, colour = header[:4]
    check((depth, colour) == (8, 2), "PNG is not 8-bit RGB")
    raw = zlib.decompress(idat)
    check(len(raw) == h * (3 * w + 1), "PNG data has the wrong length")
    rows = []
    for y in range(h):
        line = bytearray(raw[y * (3 * w + 1):(y + 1) * (3 * w + 1)])
        kind, line = line[0], line[1:]
        check(kind in (0, 1), "unexpected PNG filter %d" % kind)
        if kind == 1:
            for i in range(3, len(line)):
                line[i] = (line[i] + line[i - 3]) & 255
        rows.append(bytes(line))
    return w, h, rows


def check_panoramas(tour_page):
    with open(tour_page, encoding="utf-8") as f:
        wanted = sorted(re.findall(r"panorama:\s*'scene/([^']+)\.png'", f.read()))
    check(len(wanted) == 2, "tour page loads %r, wants two scenes" % wanted)
    script = os.path.join(HERE, "make_panoramas.py")
    with tempfile.TemporaryDirectory() as a, tempfile.TemporaryDirectory() as b:
        for out in (a, b):
            subprocess.run([sys.executable, script, out, "256"], check=True)
        drawn = sorted(f[:-4] for f in os.listdir(a) if f.endswith(".png"))
        check(drawn == wanted, "generator draws %r, the tour page loads %r" % (drawn, wanted))
        pictures = {}
        for name in drawn:
            with open(os.path.join(a, name + ".png"), "rb") as f:
                data = f.read()
            with open(os.path.join(b, name + ".png"), "rb") as f:
                check(f.read() == data, "%s.png differs between two runs" % name)
            w, h, rows = png_pixels(data)
            check((w, h) == (256, 128), "%s.png is %dx%d, wants 256x128" % (name, w, h))
            grey = [sum(row[i:i + 3]) / 3 for row in rows for i in range(0, len(row), 3)]
            mean = sum(grey) / len(grey)
            spread = (sum((g - mean) ** 2 for g in grey) / len(grey)) ** 0.5
            # A flat or nearly flat picture would not show that the viewer renders.
            check(spread > 25, "%s.png is too plain (spread %.1f)" % (name, spread))
            pictures[name] = b"".join(rows)
        if len(pictures) == 2:
            one, two = pictures.values()
            same = sum(x == y for x, y in zip(one, two)) / len(one)
            check(same < 0.5, "the two scenes share %.0f%% of their bytes" % (100 * same))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: check_tour.py TOUR_DIR")
    tour_page = check_package(sys.argv[1])
    if tour_page:
        check_panoramas(tour_page)
    for f in failures:
        print("FAIL:", f)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
