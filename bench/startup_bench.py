#!/usr/bin/env python3
"""Startup time of the player: from process start to the tour page's load
finishing, for a small packed tour, side by side in one run with a bare
WebKitGTK window (bare_webview_gtk) loading the same page from a folder that
is already unpacked. The difference is what the player adds: copying the
archive out, unpacking, reading the start page, and a cold private cache.

    bench/startup_bench.py [--rounds N] BUILD_DIR

Runs under its own Xvfb with private folders (the GUI tests' harness). The
player reports the load through its trace line (MORVA_TRACE=1)."""

import argparse
import os
import select
import signal
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "tests", "gui"))
import guitest  # noqa: E402

PAGE = """<!DOCTYPE html><html><head><title>Bench tour</title><style>
html, body { margin: 0; height: 100%; background: #204060; }
</style></head><body><img src="scenes/scene0.jpg" width="1" height="1">
</body></html>"""


def time_to_load(session, argv, env, timeout=30):
    """Seconds from starting argv until it prints a "load finished" line on
    stderr; the process is then stopped."""
    start = time.monotonic()
    proc = subprocess.Popen(argv, env=session.env(**env),
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    buffered = b""
    elapsed = None
    try:
        while time.monotonic() - start < timeout:
            ready, _, _ = select.select([proc.stderr], [], [], 0.5)
            if not ready:
                continue
            chunk = os.read(proc.stderr.fileno(), 65536)
            if not chunk:
                break
            buffered += chunk
            if b"load finished" in buffered:
                elapsed = time.monotonic() - start
                break
    finally:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    if elapsed is None:
        raise RuntimeError("%s never finished loading:\n%s"
                           % (argv[0], buffered.decode(errors="replace")))
    return elapsed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir")
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args()
    player = os.path.join(args.build_dir, "morva")
    bare = os.path.join(args.build_dir, "bench", "bare_webview_gtk")

    session = guitest.Session("startup-bench")
    try:
        # A small tour: the page and 2 MB of scene images that do not
        # compress, so that unpacking is part of the picture.
        extra = {"scenes/scene%d.jpg" % i: os.urandom(200 * 1024)
                 for i in range(10)}
        files = guitest.tour_files("Bench tour", PAGE, 800, 600, extra)
        exe = guitest.pack_tour(player, os.path.join(session.work, "tour"),
                                files)
        unpacked = os.path.join(session.work, "unpacked")
        for name, data in files.items():
            path = os.path.join(unpacked, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        page = os.path.join(unpacked, "_flash", "page.html")

        results = {"player (packed tour)": [], "bare WebKitGTK window": []}
        # Alternate, so that drift on a shared machine hits both alike.
        for _ in range(args.rounds):
            results["player (packed tour)"].append(
                time_to_load(session, [exe], {"MORVA_TRACE": "1"}))
            results["bare WebKitGTK window"].append(
                time_to_load(session, [bare, page, "800", "600"], {}))
        print("startup to load finished, %d rounds, seconds" % args.rounds)
        for name, times in results.items():
            print("  %-24s median %.3f  min %.3f  max %.3f"
                  % (name, statistics.median(times), min(times), max(times)))
        left = session.leftovers()
        # The bare window keeps its caches in the session's home, by design
        # of the comparison; the player must leave nothing in TMPDIR.
        print("player leftovers in TMPDIR:",
              [p for p in left if p.startswith("tmp/")] or "none")
    finally:
        session.close()


if __name__ == "__main__":
    main()
