"""The Flash sample tour, packed by morva-pack onto the real player: its
viewer movie (compiled from our Haxe source) plays through the runtime the
player carries. The cases run in order on one player run.

MORVA_FLASH_TOUR names the assembled tour (the flash_tour target),
MORVA_FLASH_TOUR_SOURCE its source folder (for the panoramas' colours),
MORVA_PACK the packer."""

import os
import subprocess
import sys
import time

from guitest import (SessionTest, main, near, read,
                     skip_without_flash_runtime, toolkit_complaints,
                     wait_exit, wait_near)

sys.path.insert(0, os.environ["MORVA_FLASH_TOUR_SOURCE"])
import make_panoramas  # noqa: E402

TITLE = "Flash Tour Start  -  Morva"
ROW = 300        # a window row inside the panoramas' belt of bands
PAN_STEP = 100   # pixels an arrow key pans
SPOT = (500, 300)  # the hotspot at the start of each scene
CLOSE_BUTTON = (740, 40)
PRESSED = (0x2e, 0x8b, 0x57)  # the close button once pressed


def band(scene, x, pan=0):
    """The belt colour the movie shows at window column x."""
    return make_panoramas.band_colour(scene, x + pan)


class FlashTourTest(SessionTest):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        s = cls.session
        cls.exe = os.path.join(s.work, "flash-tour")
        pack = os.environ["MORVA_PACK"]
        built = subprocess.run(
            [pack, "build", os.environ["MORVA_FLASH_TOUR"], "-o", cls.exe,
             "--player", cls.player], capture_output=True, env=s.env(),
            timeout=60)
        assert built.returncode == 0, built.stderr.decode()
        cls.checked = subprocess.run([pack, "check", cls.exe],
                                     capture_output=True, env=s.env(),
                                     timeout=60)
        cls.start_time = time.monotonic()
        cls.proc = s.start([cls.exe])
        cls.window = s.wait_window(TITLE + "$", timeout=30)

    def tearDown(self):
        pass  # the cases share the one run

    def expect(self, x, scene, pan=0, timeout=10):
        want = band(scene, x, pan)
        seen = wait_near(self.session, self.window, x, ROW, want, timeout)
        self.assertTrue(near(seen, want), "at x=%d: %s, expected %s (%s)"
                        % (x, seen, want, scene))

    def test_1_check_lists_the_movie(self):
        self.assertEqual(self.checked.returncode, 0,
                         self.checked.stderr.decode())
        out = self.checked.stdout.decode()
        self.assertIn("  flash movie     _flash/qzviewer.swf (in _flash/Flash "
                      "Tour Start.html, _flash/Flash Tour.html)\n", out)
        self.assertIn("built into the player", out)

    def test_2_movie_draws_the_panorama(self):
        # The page writes the movie's markup only once its detection
        # script has found the plug-in; bands 0 to 3 of the first scene.
        self.expect(100, "courtyard", timeout=40)
        for x in (300, 700):
            self.expect(x, "courtyard")
        self.assertEqual(self.session.geometry(self.window), (0, 0, 800, 600))

    def test_3_arrow_key_pans_without_a_click(self):
        self.session.key(self.window, "Right")
        self.expect(100, "courtyard", PAN_STEP)
        self.expect(650, "courtyard", PAN_STEP)

    def test_4_hotspot_walks_to_the_next_scene(self):
        self.session.click(self.window, SPOT[0] - PAN_STEP, SPOT[1])
        self.expect(100, "harbour")
        self.expect(300, "harbour")

    def test_5_dragging_pans(self):
        s = self.session
        s.x("xdotool", "mousemove", "--window", str(self.window), "300",
            str(ROW + 150), "mousedown", "1")
        for x in (280, 250, 220, 200):
            s.x("xdotool", "mousemove", "--window", str(self.window), str(x),
                str(ROW + 150))
            time.sleep(0.05)
        s.x("xdotool", "mouseup", "1")
        self.expect(100, "harbour", 100)

    def test_6_app_link_is_swallowed_and_the_player_stays(self):
        s = self.session
        s.click(self.window, *CLOSE_BUTTON)
        seen = wait_near(s, self.window, CLOSE_BUTTON[0] - 30,
                         CLOSE_BUTTON[1] - 12, PRESSED)
        self.assertTrue(near(seen, PRESSED), "button not pressed: %s" % (seen,))
        time.sleep(1.5)
        self.assertIsNone(self.proc.poll())
        # Still the tour page with its movie, not an error page.
        self.expect(100, "harbour", 100)

    def test_7_close_leaves_nothing(self):
        s = self.session
        s.request_close(self.window)
        self.assertEqual(wait_exit(self.proc, 15), 0)
        # Nothing written anywhere: no caches of the compiled module, no
        # settings of the runtime, in HOME, TMPDIR or the runtime folder.
        self.assertEqual(s.leftovers(), [])
        self.assertEqual(read(self.proc.out_path), b"")
        self.assertEqual(toolkit_complaints(self.proc), [])


if __name__ == "__main__":
    skip_without_flash_runtime()
    main()
