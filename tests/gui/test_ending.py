"""Whatever ends the player, nothing is left: a signal with a dialog, a
menu, the print dialog, a JavaScript dialog or a page's window open, a
signal while a large tour unpacks or in the first moments of the run, a
stray signal, the display going away."""

import os
import random
import shutil
import signal
import subprocess
import time
import zipfile

from guitest import (Session, SessionTest, color, main, pack_tour, read,
                     tour_files, wait_exit)

ORANGE = color("#ff8000")
ENDING = (signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGQUIT)

# Links on the left of the 640 x 480 page.
PAGE = """<!DOCTYPE html><html><head><title>Tour page</title><style>
html, body { margin: 0; height: 100%; background: #ff8000; }
a { position: absolute; display: block; left: 0; width: 100px;
    height: 100px; }
#print { top: 0; } #alert { top: 150px; } #popup { top: 300px; }
</style></head><body>
<a id="print" href="#" onclick="window.print(); return false"></a>
<a id="alert" href="#" onclick="alert('Hello'); return false"></a>
<a id="popup" href="#" onclick="window.open('popup.html', '_blank',
   'width=300,height=200'); return false"></a>
</body></html>"""
POPUP = """<html><head><title>Popup</title></head>
<body style="background: #ffff00"></body></html>"""


def trace(proc):
    return read(proc.err_path).decode("utf-8", "replace").splitlines()


def large_tour(player, folder):
    """A tour with scenes of 1 GB of zeros in all: a small package that
    takes a while to write out."""
    exe = os.path.join(folder, "Large")
    pack_tour(player, exe, tour_files("Large", PAGE, 640, 480))
    with open(exe, "rb") as f:
        f.seek(-4, os.SEEK_END)
        size = int.from_bytes(f.read(4), "little")
    with open(exe, "r+b") as f:
        f.truncate(os.path.getsize(exe) - 4 - size)
    zip_path = os.path.join(folder, "large.zip")
    with zipfile.ZipFile(zip_path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in tour_files("Large", PAGE, 640, 480).items():
            z.writestr(name, data)
        for scene in range(2):
            with z.open("_flash/scenes/huge%d.jpg" % scene, "w",
                        force_zip64=True) as big:
                chunk = bytes(1 << 24)
                for _ in range(32):
                    big.write(chunk)
    with open(exe, "ab") as f, open(zip_path, "rb") as z:
        data = z.read()
        f.write(data)
        f.write(len(data).to_bytes(4, "little"))
    os.remove(zip_path)
    return exe


class EndingTest(SessionTest):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.tour = pack_tour(cls.player, os.path.join(cls.session.work, "T"),
                             tour_files("T", PAGE, 640, 480,
                                        extra={"popup.html": POPUP}))

    def play(self):
        s = self.session
        proc = s.start([self.tour], MORVA_TRACE="1")
        window = s.wait_window("^T  -  Morva$")
        self.assertEqual(s.wait_pixel(window, 320, 240, ORANGE), ORANGE)
        return proc, window

    def assert_ends_clean(self, proc, signum, closed=None):
        start = time.monotonic()
        proc.send_signal(signum)
        code = wait_exit(proc, 5)
        took = time.monotonic() - start
        self.assertEqual(code, 0, "signal %d" % signum)
        # A second is the promise; the slack is for a loaded machine.
        self.assertLess(took, 1.5, "signal %d" % signum)
        self.assertEqual(self.session.leftovers(), [])
        lines = trace(proc)
        self.assertIn("closing on signal %d" % signum, lines)
        if closed:
            self.assertIn(closed, lines)

    # Whatever holds a nested loop or a grab gives way to the close.

    def test_about_box(self):
        for signum in ENDING:
            with self.subTest(signal=signum):
                proc, window = self.play()
                self.session.key(window, "F1")
                self.session.wait_window("^About Morva$")
                self.assert_ends_clean(proc, signum,
                                       'closing the dialog "About Morva"')

    def test_context_menu(self):
        s = self.session
        for signum in ENDING:
            with self.subTest(signal=signum):
                proc, window = self.play()
                s.x("xdotool", "mousemove", "--window", str(window), "320",
                    "240", "click", "3")
                time.sleep(0.7)
                self.assert_ends_clean(proc, signum, "closing a menu")

    def test_print_dialog(self):
        for signum in ENDING:
            with self.subTest(signal=signum):
                proc, window = self.play()
                self.session.click(window, 50, 50)
                self.session.wait_window("^Print$")
                self.assert_ends_clean(proc, signum,
                                       'closing the dialog "Print"')

    def test_javascript_dialog_and_page_window(self):
        proc, window = self.play()
        self.session.click(window, 50, 200)
        time.sleep(1)
        self.assert_ends_clean(proc, signal.SIGTERM)
        proc, window = self.play()
        self.session.click(window, 50, 350)
        self.session.wait_window("^Popup  -  Morva$")
        self.assert_ends_clean(proc, signal.SIGTERM,
                               'closing the window "Popup  -  Morva"')

    def test_stray_signals_are_ignored_and_a_timer_ends_cleanly(self):
        proc, window = self.play()
        for signum in (signal.SIGUSR1, signal.SIGUSR2, signal.SIGPIPE,
                       signal.SIGXFSZ, signal.SIGVTALRM, signal.SIGRTMIN):
            proc.send_signal(signum)
        time.sleep(1)
        self.assertIsNone(proc.poll())
        self.assertEqual(self.session.wait_pixel(window, 320, 240, ORANGE),
                         ORANGE)
        self.assert_ends_clean(proc, signal.SIGALRM)

    def test_a_large_tour_shows_at_once_and_ends_clean_while_it_unpacks(self):
        s = self.session
        exe = large_tour(self.player, s.work)

        for end in ("signal", "close"):
            with self.subTest(end=end):
                proc = s.start([exe], MORVA_TRACE="1")
                window = s.wait_window("^Large  -  Morva$")
                # At its final place and size from its first moment.
                self.assertEqual(s.geometry(window), (0, 0, 640, 480))
                if end == "signal":
                    self.assert_ends_clean(proc, signal.SIGTERM)
                else:
                    s.request_close(window)
                    self.assertEqual(wait_exit(proc, 5), 0)
                    self.assertEqual(s.leftovers(), [])
                lines = trace(proc)
                self.assertIn("stopping the unpack", lines,
                              "the unpack was over before the end")
                self.assertFalse([l for l in lines if "load finished" in l])

    def test_signal_in_the_first_moments(self):
        # A race: before the handlers, during the toolkit's start, the copy,
        # the unpack, the first show. Before the handlers exist the default
        # action ends the process, with nothing made yet.
        rounds = int(os.environ.get("MORVA_RACE_ROUNDS", "10"))
        rng = random.Random(os.environ.get("MORVA_RACE_SEED"))
        for i in range(rounds):
            signum = (signal.SIGTERM, signal.SIGINT, signal.SIGHUP)[i % 3]
            delay = rng.uniform(0, 0.3)
            with self.subTest(round=i, signal=signum, delay=delay):
                proc = self.session.start([self.tour])
                time.sleep(delay)
                proc.send_signal(signum)
                self.assertIn(wait_exit(proc, 5), (0, -signum))
                self.assertEqual(self.session.leftovers(), [])


class DisplayLossTest(SessionTest):

    def test_display_going_away_under_a_playing_tour(self):
        # A session of its own: its X server goes.
        s = Session("DisplayLoss")
        try:
            exe = pack_tour(self.player, os.path.join(s.work, "T"),
                            tour_files("T", PAGE, 640, 480))
            proc = s.start([exe])
            window = s.wait_window("^T  -  Morva$")
            self.assertEqual(s.wait_pixel(window, 320, 240, ORANGE), ORANGE)
            s.xvfb.kill()
            s.xvfb.wait()
            self.assertEqual(wait_exit(proc, 10), 1)
            self.assertEqual(s.leftovers(), [])
        finally:
            s.close()

    def test_display_going_away_while_a_large_tour_unpacks(self):
        s = Session("DisplayLossUnpacking")
        try:
            exe = large_tour(self.player, s.work)
            proc = s.start([exe], MORVA_TRACE="1")
            s.wait_window("^Large  -  Morva$")
            s.xvfb.kill()
            s.xvfb.wait()
            self.assertEqual(wait_exit(proc, 10), 1)
            self.assertEqual(s.leftovers(), [])
            self.assertIn("stopping the unpack", trace(proc),
                          "the unpack was over before the display went")
        finally:
            s.close()

    def test_compositor_going_away_under_a_playing_tour(self):
        # The same on Wayland, with a headless compositor of our own.
        s = self.session
        if not shutil.which("weston"):
            self.skipTest("weston is not installed")
        env = s.env()
        del env["DISPLAY"]
        socket = os.path.join(s.runtime, "wl-morva")
        compositor = subprocess.Popen(
            ["weston", "--backend=headless-backend.so", "--socket=wl-morva",
             "--idle-time=0"], env=env, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 10
            while not os.path.exists(socket) and time.monotonic() < deadline:
                time.sleep(0.05)
            exe = pack_tour(self.player, os.path.join(s.work, "T"),
                            tour_files("T", PAGE, 640, 480))
            proc = s.start([exe], DISPLAY="", WAYLAND_DISPLAY="wl-morva",
                           GDK_BACKEND="wayland", MORVA_TRACE="1")
            deadline = time.monotonic() + 20
            while time.monotonic() < deadline and not [
                    l for l in trace(proc) if "load finished" in l]:
                time.sleep(0.1)
            self.assertTrue([l for l in trace(proc) if "load finished" in l])
            compositor.kill()
            compositor.wait()
            self.assertEqual(wait_exit(proc, 10), 1)
            # The session's runtime folder is the compositor's business.
            self.assertEqual([p for p in s.leftovers()
                              if not p.startswith("runtime/")], [])
        finally:
            if compositor.poll() is None:
                compositor.kill()
                compositor.wait()


if __name__ == "__main__":
    main()
