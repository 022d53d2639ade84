"""The sample tour, a web export packed by morva-pack --page onto the real
player, plays in the real window: the panorama renders, and closing the
window leaves nothing.

Needs the assembled sample tour (the sample_tour target, which fetches
Pannellum from npm): MORVA_SAMPLE_TOUR names its folder, MORVA_PACK the
packer. Exits 77 (skipped) when the tour could not be assembled for want of
the npm registry."""

import os
import subprocess
import sys
import time

from guitest import SessionTest, main

TITLE = "Sample Tour  -  Morva"

# A blank or black page has a grey-level standard deviation of 0. The
# viewer's own error page (a panorama it cannot load) varies as much as a
# panorama, about 0.17, but with some 200 colours of line art and text; the
# rendered panorama has a deviation of about 0.19 and over 15,000 colours.
MIN_DEVIATION = 0.1
MIN_COLOURS = 1000


def grey_deviation_and_colours(image):
    """Standard deviation of the grey level (0..1) and the number of
    distinct colours of the image."""
    data = image.data
    n = image.width * image.height
    total = total_sq = 0
    # Rec. 601 luma over every pixel; a sum of squares, not numpy, keeps
    # the test on the standard library.
    for i in range(0, 3 * n, 3):
        y = (299 * data[i] + 587 * data[i + 1] + 114 * data[i + 2]) / 255000
        total += y
        total_sq += y * y
    mean = total / n
    deviation = max(total_sq / n - mean * mean, 0) ** 0.5
    colours = len({data[i:i + 3] for i in range(0, 3 * n, 3)})
    return deviation, colours


class SampleTourTest(SessionTest):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.pack = os.environ["MORVA_PACK"]
        cls.tour_dir = os.environ["MORVA_SAMPLE_TOUR"]

    def run_pack(self, *args):
        return subprocess.run([self.pack] + list(args), capture_output=True,
                              env=self.session.env(), timeout=60)

    def test_packed_sample_tour_renders_its_panorama(self):
        s = self.session
        exe = os.path.join(s.work, "sample-tour")
        built = self.run_pack("build", self.tour_dir, "-o", exe, "--page",
                              "index.html", "--player", self.player)
        self.assertEqual(built.returncode, 0, built.stderr.decode())
        checked = self.run_pack("check", exe)
        self.assertEqual(checked.returncode, 0, checked.stderr.decode())
        self.assertIn(b"  title           " + TITLE.encode() + b"\n",
                      checked.stdout)
        self.assertEqual(s.leftovers(), [], "check leaves nothing behind")

        proc = s.start([exe])
        window = s.wait_window(TITLE + "$", timeout=30)
        self.assertEqual(s.geometry(window), (0, 0, 1024, 768))

        deadline = time.monotonic() + 60
        seen = (0, 0)
        while time.monotonic() < deadline:
            shot = s.screenshot(window)
            seen = grey_deviation_and_colours(shot)
            if seen[0] > MIN_DEVIATION and seen[1] > MIN_COLOURS:
                break
            time.sleep(0.5)
        if os.environ.get("MORVA_GUI_KEEP"):
            s.x("import", "-silent", "-window", str(window),
                os.path.join(s.work, "sample-tour.png"))
        self.assertGreater(seen[0], MIN_DEVIATION,
                           "no rendered panorama: deviation %.3f, %d colours"
                           % seen)
        self.assertGreater(seen[1], MIN_COLOURS,
                           "no rendered panorama: deviation %.3f, %d colours"
                           % seen)

        # Scene 2 is another panorama: the page is live, not a still.
        s.key(window, "2")
        deadline = time.monotonic() + 20
        changed = False
        first = shot.data
        while time.monotonic() < deadline and not changed:
            time.sleep(0.5)
            later = s.screenshot(window)
            changed = later.data != first and \
                grey_deviation_and_colours(later)[1] > MIN_COLOURS
        self.assertTrue(changed, "scene 2 never showed")

        self.assert_closes_quietly(proc, window)


if __name__ == "__main__":
    tour = os.environ["MORVA_SAMPLE_TOUR"]
    if not os.path.isfile(os.path.join(tour, "pannellum", "pannellum.js")):
        print("SKIPPED: the sample tour in %s is not assembled (Pannellum "
              "could not be fetched from the npm registry)" % tour,
              file=sys.stderr)
        sys.exit(77)
    main()
