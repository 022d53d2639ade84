#!/usr/bin/env python3
"""Startup time of the player: from process start to the tour page's load
finishing, for a small packed tour, side by side in one run with a bare
WebKitGTK window (bare_webview_gtk) loading the same page from a folder that
is already unpacked, and for a 60 MB tour-like package. The player's extra
time should stay within the headless launch's time (launch_bench
--launch-any on the same executable, measured in the same rounds) plus
100 ms. The difference is what the player adds: copying the
archive out, unpacking, reading the start page, and a cold private cache.

    bench/startup_bench.py [--rounds N] BUILD_DIR

Runs under its own Xvfb with private folders (the GUI tests' harness). The
player reports the load through its trace line (MORVA_TRACE=1)."""

import argparse
import os
import random
import select
import shutil
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


def time_headless(launch_bench, exe, scratch):
    """Seconds of one headless launch (copy out, unpack, start page) of exe,
    in a fresh temporary folder that is removed afterwards."""
    os.makedirs(scratch)
    env = dict(os.environ, TMPDIR=scratch)
    start = time.monotonic()
    subprocess.run([launch_bench, "--launch-any", exe], env=env, check=True)
    elapsed = time.monotonic() - start
    shutil.rmtree(scratch)
    return elapsed


def make_tour(session, player, name, extra):
    """Packs a tour and unpacks the same files into a folder for the bare
    window; returns (executable, page in the unpacked folder)."""
    files = guitest.tour_files("Bench tour", PAGE, 800, 600, extra)
    exe = guitest.pack_tour(player, os.path.join(session.work, name), files)
    unpacked = os.path.join(session.work, name + "-unpacked")
    for path_name, data in files.items():
        path = os.path.join(unpacked, path_name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    return exe, os.path.join(unpacked, "_flash", "page.html")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir")
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args()
    player = os.path.join(args.build_dir, "morva")
    bare = os.path.join(args.build_dir, "bench", "bare_webview_gtk")
    launch_bench = os.path.join(args.build_dir, "bench", "launch_bench")

    session = guitest.Session("startup-bench")
    try:
        rng = random.Random(7)
        tours = {
            # 2 MB of scene images that do not compress.
            "small": {"scenes/scene%d.jpg" % i: rng.randbytes(200 * 1024)
                      for i in range(10)},
            # About 60 MB in a few hundred files, mostly incompressible.
            "large": dict(
                [("scenes/tile%03d.jpg" % i, rng.randbytes(200 * 1024))
                 for i in range(300)] +
                [("data/scene%03d.xml" % i,
                  ("<scene id='%d'><hotspot/></scene>\n" % i) * 400)
                 for i in range(60)]),
        }
        for shape, extra in tours.items():
            exe, page = make_tour(session, player, "tour-" + shape, extra)
            player_times, bare_times, headless_times = [], [], []
            # Alternate, so that drift on a shared machine hits all alike.
            for round_index in range(args.rounds):
                player_times.append(
                    time_to_load(session, [exe], {"MORVA_TRACE": "1"}))
                bare_times.append(
                    time_to_load(session, [bare, page, "800", "600"], {}))
                headless_times.append(time_headless(
                    launch_bench, exe,
                    os.path.join(session.work, "headless-%s-%d"
                                 % (shape, round_index))))
            ours = statistics.median(player_times)
            ref = statistics.median(bare_times)
            headless = statistics.median(headless_times)
            budget = headless + 0.100
            extra_time = ours - ref
            print("%s tour: player %.3f s, bare window %.3f s, extra %.3f s, "
                  "headless launch %.3f s (medians of %d)"
                  % (shape, ours, ref, extra_time, headless, args.rounds))
            print('RESULT name=startup_%s what="start to page loaded, %s tour" '
                  'ours_label="player, packed tour" '
                  'ref_label="bare WebKitGTK window, unpacked" '
                  'ours=%.6f ref=%.6f unit=s ratio=%.3f '
                  'target="extra<=headless+100ms (%.0f ms)" met=%s runs=%d '
                  'note="extra %.0f ms; headless launch %.0f ms"'
                  % (shape, shape, ours, ref, ours / ref, budget * 1e3,
                     "yes" if extra_time <= budget else "no", args.rounds,
                     extra_time * 1e3, headless * 1e3), flush=True)
        left = session.leftovers()
        # The bare window keeps its caches in the session's home, by design
        # of the comparison; the player must leave nothing in TMPDIR.
        print("player leftovers in TMPDIR:",
              [p for p in left if p.startswith("tmp/")] or "none")
    finally:
        session.close()


if __name__ == "__main__":
    main()
