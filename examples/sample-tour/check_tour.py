#!/usr/bin/env python3
"""Checks that the committed sample tour is still a plain web export, which
morva-pack packs with --page, and that the panorama generator still draws
what the tour page loads.

Usage: check_tour.py TOUR_DIR   (the committed folder that holds index.html)
"""

import os
import re
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
    return ok


def check_package(tour):
    """The page is there with the title the launcher is named after, and
    nothing of the player's own conventions is committed: the packer makes
    them."""
    page = os.path.join(tour, "index.html")
    if not check(os.path.isfile(page), "no tour page %s" % page):
        return None
    with open(page, encoding="utf-8") as f:
        title = re.search(r"<title>([^<]*)</title>", f.read())
    check(title and title.group(1) == "Sample Tour",
          "the page's <title> is %r, wants 'Sample Tour'" % (title and title.group(1)))
    player_files = [os.path.relpath(os.path.join(d, f), tour)
                    for d, _, files in os.walk(tour) for f in files
                    if f.lower() in ("autorun.inf", "qzviewer.swf")]
    check(player_files == [], "the packer makes these, not the repository: %r" % player_files)
    return page


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
