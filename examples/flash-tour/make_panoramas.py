#!/usr/bin/env python3
"""Draws the Flash sample tour's panoramas as JPEG pictures.

Usage: make_panoramas.py OUT_DIR

Writes OUT_DIR/courtyard.jpg and OUT_DIR/harbour.jpg, WIDTH x HEIGHT pixels:
a sky at the top, a ground at the bottom, and between them a belt of
vertical bands of solid colour, BAND pixels wide, in the colours listed
below. The viewer movie shows the picture at its own size, so a test knows
which colour each point of the window shows for a given pan. Standard
library only (the picture is written as PPM and turned into JPEG by
ImageMagick's convert); the same script gives the same pictures.
"""

import os
import subprocess
import sys

WIDTH = 2400
HEIGHT = 900
BAND = 200
BELT_TOP = 250      # the solid belt spans these rows
BELT_BOTTOM = 650

SCENES = {
    "courtyard": {
        "sky": ((40, 90, 170), (150, 200, 240)),
        "ground": ((150, 130, 100), (90, 75, 55)),
        "bands": ["#c83c3c", "#3cb43c", "#3c50c8", "#dcc832", "#b43cb4",
                  "#3cbeb4", "#e67828", "#78a0dc", "#a0643c", "#f0f0f0",
                  "#64c864", "#505050"],
    },
    "harbour": {
        "sky": ((20, 30, 80), (230, 140, 90)),
        "ground": ((30, 70, 110), (10, 30, 60)),
        "bands": ["#1e6e8c", "#e6c8a0", "#8c2846", "#46aa82", "#f5dc64",
                  "#5a3c8c", "#28b4dc", "#be5a32", "#d2d2e6", "#326432",
                  "#ff82aa", "#143c5a"],
    },
}


def rgb(hex_colour):
    hex_colour = hex_colour.lstrip("#")
    return tuple(int(hex_colour[i:i + 2], 16) for i in (0, 2, 4))


def band_colour(scene, x):
    """The colour of the belt at picture column x."""
    bands = SCENES[scene]["bands"]
    return rgb(bands[(x // BAND) % len(bands)])


def blend(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def draw(scene):
    colours = SCENES[scene]
    rows = []
    belt = b"".join(bytes(band_colour(scene, x)) for x in range(WIDTH))
    for y in range(HEIGHT):
        if y < BELT_TOP:
            row = bytes(blend(*colours["sky"], y / BELT_TOP)) * WIDTH
        elif y < BELT_BOTTOM:
            row = belt
        else:
            t = (y - BELT_BOTTOM) / (HEIGHT - BELT_BOTTOM)
            row = bytes(blend(*colours["ground"], t)) * WIDTH
        rows.append(row)
    return b"P6\n%d %d\n255\n" % (WIDTH, HEIGHT) + b"".join(rows)


def main():
    if len(sys.argv) != 2:
        print("usage: make_panoramas.py OUT_DIR", file=sys.stderr)
        return 2
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for scene in SCENES:
        ppm = os.path.join(out, scene + ".ppm")
        with open(ppm, "wb") as f:
            f.write(draw(scene))
        # No metadata (dates, profiles): the same bytes on every build.
        subprocess.run(["convert", ppm, "-strip", "-quality", "92",
                        os.path.join(out, scene + ".jpg")], check=True)
        os.remove(ppm)
    return 0


if __name__ == "__main__":
    sys.exit(main())
