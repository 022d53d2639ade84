#!/usr/bin/env python3
"""Draws the sample tour's equirectangular panoramas as PNG files.

Usage: make_panoramas.py OUT_DIR [WIDTH]

Writes OUT_DIR/courtyard.png and OUT_DIR/harbour.png, WIDTH x WIDTH/2 pixels
(default 2048). Standard library only, and no randomness: the same script
gives the same bytes, so the build can treat the images as reproducible.

The scenes are deliberately busy (sky gradient, sun, clouds, a tiled or
watery ground plane, buildings with windows, compass and bearing labels) so
that a screenshot of the viewer is unmistakably a rendered panorama, and the
two scenes are told apart at a glance.
"""

import math
import os
import struct
import sys
import zlib

# A 5x7 bitmap font, one 5-bit row per entry, top row first. Only what the
# labels use.
FONT = {
    "A": (14, 17, 17, 31, 17, 17, 17), "B": (30, 17, 17, 30, 17, 17, 30),
    "C": (14, 17, 16, 16, 16, 17, 14), "D": (30, 17, 17, 17, 17, 17, 30),
    "E": (31, 16, 16, 30, 16, 16, 31), "F": (31, 16, 16, 30, 16, 16, 16),
    "G": (14, 17, 16, 23, 17, 17, 15), "H": (17, 17, 17, 31, 17, 17, 17),
    "I": (14, 4, 4, 4, 4, 4, 14), "J": (7, 2, 2, 2, 2, 18, 12),
    "K": (17, 18, 20, 24, 20, 18, 17), "L": (16, 16, 16, 16, 16, 16, 31),
    "M": (17, 27, 21, 21, 17, 17, 17), "N": (17, 17, 25, 21, 19, 17, 17),
    "O": (14, 17, 17, 17, 17, 17, 14), "P": (30, 17, 17, 30, 16, 16, 16),
    "Q": (14, 17, 17, 17, 21, 18, 13), "R": (30, 17, 17, 30, 20, 18, 17),
    "S": (15, 16, 16, 14, 1, 1, 30), "T": (31, 4, 4, 4, 4, 4, 4),
    "U": (17, 17, 17, 17, 17, 17, 14), "V": (17, 17, 17, 17, 17, 10, 4),
    "W": (17, 17, 17, 21, 21, 21, 10), "X": (17, 17, 10, 4, 10, 17, 17),
    "Y": (17, 17, 17, 10, 4, 4, 4), "Z": (31, 1, 2, 4, 8, 16, 31),
    "0": (14, 17, 19, 21, 25, 17, 14), "1": (4, 12, 4, 4, 4, 4, 14),
    "2": (14, 17, 1, 2, 4, 8, 31), "3": (31, 2, 4, 2, 1, 17, 14),
    "4": (2, 6, 10, 18, 31, 2, 2), "5": (31, 16, 30, 1, 1, 17, 14),
    "6": (6, 8, 16, 30, 17, 17, 14), "7": (31, 1, 2, 4, 8, 8, 8),
    "8": (14, 17, 17, 14, 17, 17, 14), "9": (14, 17, 17, 15, 1, 2, 12),
    "-": (0, 0, 0, 31, 0, 0, 0), ".": (0, 0, 0, 0, 0, 12, 12),
    ">": (8, 4, 2, 1, 2, 4, 8), "<": (2, 4, 8, 16, 8, 4, 2),
    " ": (0, 0, 0, 0, 0, 0, 0),
}

# Each scene: sky from zenith to horizon, the sun, the ground, and landmarks
# standing on the horizon. Angles in degrees; yaw 0 is the image centre and
# grows to the right, as the viewer counts it.
SCENES = {
    "courtyard": {
        "zenith": (28, 78, 168), "horizon": (178, 214, 240),
        "cloud": (250, 250, 252), "cloud_phase": 0.0,
        "sun": (35.0, 38.0, 4.0, (255, 250, 215)),
        "ground": "tiles",
        "tile_a": (168, 150, 118), "tile_b": (112, 98, 80), "haze": (190, 200, 205),
        "title": "COURTYARD",
        "sign": (0.0, (150, 40, 40), (255, 235, 170)),
        "landmarks": [
            # (yaw, width, top pitch, colour, window colour or None, label)
            (-150.0, 26.0, 22.0, (196, 120, 90), (60, 50, 70), ""),
            (-118.0, 20.0, 34.0, (215, 200, 160), (50, 70, 110), ""),
            (-70.0, 34.0, 18.0, (150, 160, 170), (40, 40, 60), ""),
            (-30.0, 14.0, 44.0, (120, 120, 130), (250, 220, 120), ""),
            (45.0, 24.0, 26.0, (226, 180, 120), (60, 60, 90), ""),
            (90.0, 16.0, 14.0, (40, 110, 60), None, "HARBOUR >"),
            (135.0, 30.0, 30.0, (180, 170, 200), (50, 50, 80), ""),
            (170.0, 12.0, 52.0, (100, 90, 80), (240, 230, 200), ""),
        ],
    },
    "harbour": {
        "zenith": (24, 18, 70), "horizon": (250, 150, 70),
        "cloud": (120, 60, 110), "cloud_phase": 2.1,
        "sun": (-120.0, 6.0, 7.0, (255, 210, 120)),
        "ground": "water",
        "tile_a": (120, 84, 52), "tile_b": (88, 58, 34), "haze": (230, 140, 90),
        "water_a": (30, 60, 110), "water_b": (70, 110, 160),
        "title": "HARBOUR",
        "sign": (0.0, (20, 40, 90), (250, 200, 90)),
        "landmarks": [
            (-170.0, 40.0, 8.0, (60, 50, 60), None, ""),
            (-90.0, 16.0, 14.0, (150, 40, 40), None, "< COURTYARD"),
            (-45.0, 10.0, 6.0, (230, 230, 235), (40, 40, 40), ""),
            (40.0, 20.0, 5.0, (200, 60, 40), (250, 240, 200), ""),
            (75.0, 8.0, 12.0, (90, 90, 100), None, ""),
            (150.0, 5.0, 48.0, (240, 240, 240), None, "LIGHT"),
        ],
    },
}


def mix(a, b, t):
    """Linear blend of two colours, t in [0, 1]."""
    return (round(a[0] + (b[0] - a[0]) * t), round(a[1] + (b[1] - a[1]) * t),
            round(a[2] + (b[2] - a[2]) * t))


class Canvas:
    """An RGB image in equirectangular coordinates."""

    def __init__(self, width):
        self.w = width
        self.h = width // 2
        self.rows = [bytearray(3 * self.w) for _ in range(self.h)]

    def x_of(self, yaw):
        return int(round((yaw + 180.0) / 360.0 * self.w)) % self.w

    def y_of(self, pitch):
        return min(self.h - 1, max(0, int(round((90.0 - pitch) / 180.0 * self.h))))

    def fill(self, x0, y0, x1, y1, colour):
        """Fills [x0, x1) x [y0, y1); x wraps around the seam."""
        span = bytes(colour)
        for y in range(max(0, y0), min(self.h, y1)):
            row = self.rows[y]
            for x in range(x0, x1):
                i = 3 * (x % self.w)
                row[i:i + 3] = span

    def text(self, x_centre, y_top, label, scale, colour):
        width = (6 * len(label) - 1) * scale
        x = x_centre - width // 2
        for ch in label:
            glyph = FONT[ch]
            for r, bits in enumerate(glyph):
                for c in range(5):
                    if bits & (16 >> c):
                        self.fill(x + c * scale, y_top + r * scale,
                                  x + (c + 1) * scale, y_top + (r + 1) * scale, colour)
            x += 6 * scale

    def png(self):
        raw = bytearray()
        for row in self.rows:
            # Filter "Sub" per row: the gradients compress far better.
            out = bytearray(row)
            for i in range(len(out) - 1, 2, -1):
                out[i] = (row[i] - row[i - 3]) & 255
            raw += b"\x01" + out

        def chunk(kind, data):
            body = kind + data
            return (struct.pack(">I", len(data)) + body
                    + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF))

        header = struct.pack(">IIBBBBB", self.w, self.h, 8, 2, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def paint_sky(cv, s):
    w, horizon_y = cv.w, cv.h // 2
    yaws = [(x + 0.5) / w * 2 * math.pi - math.pi for x in range(w)]
    wave1 = [math.sin(3 * a + s["cloud_phase"]) for a in yaws]
    wave2 = [math.sin(7 * a - 1.3 + s["cloud_phase"]) for a in yaws]
    wave3 = [math.sin(13 * a + 0.7) for a in yaws]
    for y in range(horizon_y):
        pitch = 90.0 - (y + 0.5) * 180.0 / cv.h
        base = mix(s["horizon"], s["zenith"], (pitch / 90.0) ** 0.6)
        row = cv.rows[y]
        # Clouds live in a band above the horizon; outside it the row is
        # plain gradient and can be filled in one go.
        band = math.sin(math.radians(pitch) * 4.0)
        if pitch < 6.0 or pitch > 42.0:
            row[:] = bytes(base) * w
            continue
        rowterm = math.sin(pitch * 0.35 + s["cloud_phase"])
        cloud = s["cloud"]
        for x in range(w):
            v = 0.5 * wave1[x] + 0.3 * wave2[x] * rowterm + 0.2 * wave3[x] + 0.25 * band
            i = 3 * x
            if v > 0.45:
                t = min(1.0, (v - 0.45) * 4.0)
                c = mix(base, cloud, t * 0.85)
            else:
                c = base
            row[i] = c[0]
            row[i + 1] = c[1]
            row[i + 2] = c[2]

    sun_yaw, sun_pitch, radius, colour = s["sun"]
    for y in range(horizon_y):
        pitch = 90.0 - (y + 0.5) * 180.0 / cv.h
        if abs(pitch - sun_pitch) > 4 * radius:
            continue
        row = cv.rows[y]
        squeeze = max(0.05, math.cos(math.radians(pitch)))
        for x in range(w):
            yaw = (x + 0.5) / w * 360.0 - 180.0
            dyaw = (yaw - sun_yaw + 180.0) % 360.0 - 180.0
            d = math.hypot(dyaw * squeeze, pitch - sun_pitch)
            if d > 4 * radius:
                continue
            i = 3 * x
            here = (row[i], row[i + 1], row[i + 2])
            t = 1.0 if d <= radius else 0.6 * (1.0 - (d - radius) / (3 * radius)) ** 2
            c = mix(here, colour, t)
            row[i:i + 3] = bytes(c)


def paint_ground(cv, s):
    w, h = cv.w, cv.h
    sins = [math.sin((x + 0.5) / w * 2 * math.pi - math.pi) for x in range(w)]
    coss = [math.cos((x + 0.5) / w * 2 * math.pi - math.pi) for x in range(w)]
    eye = 1.6  # metres above the ground
    for y in range(h // 2, h):
        pitch = 90.0 - (y + 0.5) * 180.0 / h
        dist = eye / math.tan(math.radians(-pitch))
        # Far away the pattern would alias into noise; fade it into haze.
        haze = min(1.0, dist / 60.0)
        row = cv.rows[y]
        if s["ground"] == "tiles":
            a = mix(s["tile_a"], s["haze"], haze)
            b = mix(s["tile_b"], s["haze"], haze)
            line = mix((60, 50, 40), s["haze"], haze)
            for x in range(w):
                gx = dist * sins[x]
                gz = dist * coss[x]
                fx = gx - math.floor(gx)
                fz = gz - math.floor(gz)
                if fx < 0.04 or fz < 0.04:
                    c = line
                elif (math.floor(gx) + math.floor(gz)) & 1:
                    c = a
                else:
                    c = b
                i = 3 * x
                row[i] = c[0]
                row[i + 1] = c[1]
                row[i + 2] = c[2]
        else:
            # A wooden pier under the viewer, open water beyond it.
            plank_a = s["tile_a"]
            plank_b = s["tile_b"]
            wa = mix(s["water_a"], s["haze"], haze * 0.8)
            wb = mix(s["water_b"], s["haze"], haze * 0.8)
            for x in range(w):
                gx = dist * sins[x]
                gz = dist * coss[x]
                if abs(gx) < 2.5 and -4.0 < gz < 12.0:
                    plank = math.floor(gx * 2.5)
                    c = plank_a if plank & 1 else plank_b
                    if gz - math.floor(gz) < 0.05:
                        c = (50, 32, 20)
                else:
                    ripple = math.sin(gz * 2.2 + math.sin(gx * 0.9) * 1.5)
                    c = wb if ripple > 0.55 else wa
                i = 3 * x
                row[i] = c[0]
                row[i + 1] = c[1]
                row[i + 2] = c[2]


def paint_landmarks(cv, s):
    base_y = cv.y_of(-3.0)
    for yaw, width, top, colour, windows, label in s["landmarks"]:
        x0 = cv.x_of(yaw - width / 2)
        x1 = x0 + int(round(width / 360.0 * cv.w))
        y0 = cv.y_of(top)
        cv.fill(x0, y0, x1, base_y, colour)
        # Darker right-hand side gives the block some depth.
        shade = tuple(max(0, c - 40) for c in colour)
        cv.fill(x1 - (x1 - x0) // 5, y0, x1, base_y, shade)
        if windows:
            step_x, step_y = 18, 26
            for wy in range(y0 + 12, base_y - 20, step_y):
                for wx in range(x0 + 8, x1 - 16, step_x):
                    cv.fill(wx, wy, wx + 9, wy + 14, windows)
        if label == "LIGHT":
            # A lighthouse: red bands and a lamp.
            for k, by in enumerate(range(y0, base_y, 24)):
                if k % 2:
                    cv.fill(x0, by, x1, min(base_y, by + 24), (200, 30, 30))
            cv.fill(x0 - 6, y0 - 18, x1 + 6, y0, (255, 240, 150))
        elif label:
            # A gate with its destination written above the opening.
            gap = (x1 - x0) // 4
            cv.fill(x0 + gap, cv.y_of(8.0), x1 - gap, base_y, (20, 20, 25))
            cv.text((x0 + x1) // 2, y0 + 8, label, 3, (255, 255, 255))


def paint_labels(cv, s):
    # Bearings every 30 degrees just below the horizon, compass letters above.
    for bearing in range(-180, 180, 30):
        x = cv.x_of(bearing)
        cv.fill(x - 1, cv.y_of(-4.0), x + 2, cv.y_of(-7.0), (20, 20, 20))
        cv.text(x, cv.y_of(-7.5), str(bearing % 360), 3, (250, 250, 250))
    for name, bearing in (("N", 0), ("E", 90), ("S", 180), ("W", -90)):
        cv.text(cv.x_of(bearing), cv.y_of(-11.0), name, 5, (255, 230, 60))
    # The scene's name on a sign board straight ahead.
    yaw, board, ink = s["sign"]
    scale = 8
    label = s["title"]
    half = ((6 * len(label) - 1) * scale) // 2 + 24
    x = cv.x_of(yaw)
    top = cv.y_of(20.0)
    cv.fill(x - half, top, x + half, top + 7 * scale + 40, board)
    cv.fill(x - 6, top + 7 * scale + 40, x + 6, cv.y_of(-3.0), (60, 45, 30))
    cv.text(x, top + 20, label, scale, ink)


def render(name, width):
    s = SCENES[name]
    cv = Canvas(width)
    paint_sky(cv, s)
    paint_ground(cv, s)
    paint_landmarks(cv, s)
    paint_labels(cv, s)
    return cv.png()


def main(argv):
    if len(argv) not in (2, 3):
        sys.exit("usage: make_panoramas.py OUT_DIR [WIDTH]")
    out_dir = argv[1]
    width = int(argv[2]) if len(argv) == 3 else 2048
    if width < 256 or width % 2:
        sys.exit("make_panoramas.py: WIDTH must be even and at least 256")
    os.makedirs(out_dir, exist_ok=True)
    for name in SCENES:
        path = os.path.join(out_dir, name + ".png")
        data = render(name, width)
        # Write beside the target and rename, so an interrupted build never
        # leaves a truncated image that looks up to date.
        with open(path + ".part", "wb") as f:
            f.write(data)
        os.replace(path + ".part", path)


if __name__ == "__main__":
    main(sys.argv)
