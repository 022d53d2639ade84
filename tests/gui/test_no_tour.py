"""The player without a tour: its page says so and offers "Open Tour...",
which opens the real file chooser, and takes a tour file dropped onto the
window. A tour chosen either way plays in a new player at its own size, this
one ends, and neither leaves anything; a file that is no tour is refused on
the page."""

import os
import signal

from guitest import (SessionTest, color, main, pack_tour, poll, tour_files,
                     wait_exit)

BUTTON = color("#f2d49b")   # the page's Open Tour button
PROBLEM = color("#a8261d")  # the line that says why a file does not play
ORANGE = color("#ff8000")   # the tour's page
PAGE = """<!DOCTYPE html><html><head><title>Tour page</title><style>
html, body { margin: 0; height: 100%; background: #ff8000; }
</style></head><body></body></html>"""

# Standard folders that every desktop account has and that the toolkit's
# file chooser makes when one lacks them.
DESKTOP_FOLDERS = (".config/gtk-3.0", ".local/share")
# The account's list of recently used files, to which the chooser (any
# program's) adds the file the user chose.
RECENT = "home/.local/share/recently-used.xbel"


def pixels_of(image, rgb):
    """(x, y) of every pixel of the colour rgb, on a 2-pixel grid."""
    return [(x, y) for y in range(0, image.height, 2)
            for x in range(0, image.width, 2) if image.pixel(x, y) == rgb]


def process_ended(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] in "ZX"
    except FileNotFoundError:
        return True


class NoTourTest(SessionTest):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        s = cls.session
        for folder in DESKTOP_FOLDERS:
            os.makedirs(os.path.join(s.home, folder))
        cls.before = s.leftovers()
        cls.tour = pack_tour(cls.player, os.path.join(s.work, "Tour.exe"),
                             tour_files("Chosen", PAGE, 640, 480))
        cls.text = os.path.join(s.work, "notes.txt")
        with open(cls.text, "w") as f:
            f.write("no tour in here\n")

    def setUp(self):
        self.others = []  # players this one started, by process id

    def tearDown(self):
        for pid in self.others:
            if not process_ended(pid):
                os.kill(pid, signal.SIGKILL)
        super().tearDown()

    def left(self):
        return [p for p in self.session.leftovers() if p != RECENT]

    def start_bare(self, chosen):
        """The player as built, which carries no tour, once its page shows.
        Its chooser opens with the file `chosen` chosen."""
        s = self.session
        # The test session has no settings service; the chooser keeps its
        # settings in memory instead.
        proc = s.start([self.player], MORVA_TEST_CHOOSER_FILE=chosen,
                       GSETTINGS_BACKEND="memory")
        window = s.wait_window("^Morva$")
        self.assertEqual(s.geometry(window)[2:], (600, 470))
        self.assertTrue(self.button(window), "no Open Tour button on the page")
        return proc, window

    def button(self, window):
        """Where the page's Open Tour button is now, or None."""
        found = poll(lambda: pixels_of(self.session.screenshot(window), BUTTON),
                     timeout=10)
        if not found:
            return None
        xs, ys = [p[0] for p in found], [p[1] for p in found]
        return (min(xs) + max(xs)) // 2, (min(ys) + max(ys)) // 2

    def open_chooser(self, window):
        s = self.session
        s.click(window, *self.button(window))
        return s.wait_window("^Open Tour$")

    def assert_tour_plays_instead(self, proc):
        """The tour's window comes from a new player, started with the
        user's environment; this one ends, and once the tour is closed
        nothing is left."""
        s = self.session
        tour = s.wait_window("^Chosen  -  Morva$")
        pid = int(s.x("xdotool", "getwindowpid", str(tour)))
        self.others.append(pid)
        self.assertNotEqual(pid, proc.pid)
        with open("/proc/%d/environ" % pid, "rb") as f:
            environment = dict(v.decode().split("=", 1)
                               for v in f.read().split(b"\0") if v)
        for name, value in s.env().items():
            self.assertEqual(environment.get(name), value, name)
        self.assertEqual(wait_exit(proc, 10), 0)
        self.assertEqual(s.windows("^Morva$"), [])
        self.assertEqual(s.geometry(tour), (0, 0, 640, 480))
        self.assertEqual(s.wait_pixel(tour, 320, 240, ORANGE), ORANGE)
        # Nothing that writes on its own while the player ends (a shader
        # cache) is written at all.
        self.assertEqual([p for p in s.leftovers() if "shader" in p], [])
        s.request_close(tour)
        self.assertTrue(poll(lambda: process_ended(pid), timeout=10))
        self.assertEqual(self.left(), self.before)

    def test_open_tour_cancelled_refused_ended_and_chosen(self):
        s = self.session
        # A program that is no tour (the player itself, as built).
        proc, window = self.start_bare(self.player)
        chooser = self.open_chooser(window)
        s.key(chooser, "Escape")
        self.assertTrue(poll(lambda: not s.windows("^Open Tour$")))
        self.assertFalse(pixels_of(s.screenshot(window), PROBLEM))
        chooser = self.open_chooser(window)
        s.key(chooser, "Return")
        self.assertTrue(poll(lambda: pixels_of(s.screenshot(window), PROBLEM)),
                        "the page does not say that the program holds no tour")
        self.assertIsNone(wait_exit(proc, 0.5))
        # A signal while the chooser is open closes both, and the player
        # leaves nothing.
        self.open_chooser(window)
        proc.send_signal(signal.SIGTERM)
        self.assertEqual(wait_exit(proc, 2), 0)
        self.assertEqual(self.left(), self.before)

        proc, window = self.start_bare(self.tour)
        chooser = self.open_chooser(window)
        s.key(chooser, "Return")
        self.assert_tour_plays_instead(proc)

    def test_a_tour_dropped_on_the_window_plays(self):
        s = self.session
        proc, window = self.start_bare(self.tour)
        # What is no tour is refused on the page, each with its own reason
        # (so a line of another length), and the page stays.
        said = 0
        for paths in ([self.text], [s.work], [self.tour, self.tour]):
            self.assertTrue(s.drop_files(window, 300, 100, paths))
            now = poll(lambda: len(pixels_of(s.screenshot(window), PROBLEM))
                       not in (0, said) and
                       len(pixels_of(s.screenshot(window), PROBLEM)))
            self.assertTrue(now, "nothing said about %s" % paths)
            said = now
            self.assertIsNone(wait_exit(proc, 0.5))
        self.assertTrue(s.drop_files(window, 300, 100, [self.tour]))
        self.assert_tour_plays_instead(proc)


if __name__ == "__main__":
    main()
