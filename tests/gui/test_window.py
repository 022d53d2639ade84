"""The GTK player window on its own, driven through the launch's window
operations by morva_window_driver (no package involved)."""

import os
import signal
import time

from guitest import (SCREEN, SessionTest, color, main, poll, read,
                     toolkit_complaints, wait_exit)

ORANGE = color("#ff8000")
PAGE = """<!DOCTYPE html><html><head><title>window test</title>
<style>html, body { margin: 0; height: 100%; background: #ff8000; }</style>
</head><body></body></html>"""


class WindowTest(SessionTest):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.driver = os.environ["MORVA_WINDOW_DRIVER"]

    def run_driver(self, *args):
        marker = os.path.join(self.session.work, "marker-%d" % time.monotonic_ns())
        open(marker, "w").close()
        proc = self.session.start([self.driver, "--marker", marker] + list(args))
        return proc, marker

    def page(self, name, html=PAGE):
        path = os.path.join(self.session.work, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(html)
        return path

    def close_and_check(self, proc, window, marker):
        self.session.request_close(window)
        self.assertEqual(wait_exit(proc, 10), 0)
        # The handler's cleanup ran, while the web view was still there.
        self.assertFalse(os.path.exists(marker))
        self.assertEqual(read(proc.out_path), b"OnDestroy browser=1\n")
        self.assertEqual(self.session.leftovers(), [])

    def close_about_box(self):
        about = self.session.wait_window("^About Morva$", timeout=5)
        self.session.key(about, "Return")
        self.assertTrue(poll(lambda: not self.session.windows("^About Morva$")),
                        "the About box stays open")

    def test_early_stop_keeps_template_size_centred(self):
        proc, marker = self.run_driver()
        window = self.session.wait_window("^Morva$")
        x, y, width, height = self.session.geometry(window)
        self.assertEqual((width, height), (600, 470))
        self.assertEqual((x, y), ((SCREEN[0] - 600) // 2, (SCREEN[1] - 470) // 2))
        self.assertIsNone(wait_exit(proc, 1), "the empty window must stay open")
        self.close_and_check(proc, window, marker)

    def test_full_launch_places_content_at_origin(self):
        proc, marker = self.run_driver("--size", "640x480",
                                       "--page", self.page("plain.html"))
        window = self.session.wait_window("^Morva$")
        self.assertEqual(self.session.geometry(window), (0, 0, 640, 480))
        self.assertEqual(self.session.wait_pixel(window, 320, 240, ORANGE),
                         ORANGE)
        self.close_and_check(proc, window, marker)

    def test_title_bytes_in_the_package_code_page(self):
        # A Windows-1252 name with one of the bytes iconv rejects.
        title = b"Caf\xe9 \x81 \x80  -  Morva"
        proc, marker = self.run_driver("--title", os.fsdecode(title))
        window = self.session.wait_window("Morva$")
        self.assertEqual(self.session.title(window),
                         "Caf\u00e9 \u0081 \u20ac  -  Morva")
        self.close_and_check(proc, window, marker)
        self.assertEqual(toolkit_complaints(proc), [])

    def test_utf8_title_stays_utf8(self):
        proc, marker = self.run_driver("--title", "Zürich  -  Morva")
        window = self.session.wait_window("Morva$")
        self.assertEqual(self.session.title(window), "Zürich  -  Morva")
        self.close_and_check(proc, window, marker)

    def test_minimum_size_and_view_follows_resizes(self):
        proc, marker = self.run_driver("--size", "800x600",
                                       "--page", self.page("resize.html"))
        window = self.session.wait_window("^Morva$")
        s = self.session
        self.assertEqual(s.wait_pixel(window, 400, 300, ORANGE), ORANGE)
        s.resize(window, 100, 100)
        poll(lambda: s.geometry(window)[2:] == (300, 200))
        self.assertEqual(s.geometry(window)[2:], (300, 200))
        s.resize(window, 700, 450)
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            shot = s.screenshot(window)
            corners = [shot.pixel(x, y) for x in (1, 698) for y in (1, 448)]
            if (shot.width, shot.height) == (700, 450) and \
                    corners == [ORANGE] * 4:
                break
            time.sleep(0.2)
        self.assertEqual((shot.width, shot.height), (700, 450))
        self.assertEqual(corners, [ORANGE] * 4)
        self.close_and_check(proc, window, marker)

    def test_percent_and_hash_in_the_file_name(self):
        # If the path were pasted into a URI unescaped, "%41" would turn
        # into "A" and "#" would start a fragment: the page would not load.
        path = self.page("dir 50%20 off/p%41ge #1.html")
        proc, marker = self.run_driver("--size", "400x300", "--page", path)
        window = self.session.wait_window("^Morva$")
        self.assertEqual(self.session.wait_pixel(window, 200, 150, ORANGE),
                         ORANGE)
        self.close_and_check(proc, window, marker)

    def test_signals_close_through_the_normal_path(self):
        for signum in (signal.SIGINT, signal.SIGHUP, signal.SIGTERM):
            with self.subTest(signal=signum):
                proc, marker = self.run_driver()
                self.session.wait_window("^Morva$")
                proc.send_signal(signum)
                self.assertEqual(wait_exit(proc, 1), 0)
                self.assertFalse(os.path.exists(marker))
                self.assertEqual(read(proc.out_path), b"OnDestroy browser=1\n")
                self.assertEqual(self.session.leftovers(), [])

    def test_about_box_from_f1_and_the_context_menu(self):
        proc, marker = self.run_driver("--size", "400x300",
                                       "--page", self.page("menu.html"))
        window = self.session.wait_window("^Morva$")
        self.assertEqual(self.session.wait_pixel(window, 200, 150, ORANGE),
                         ORANGE)
        self.session.key(window, "F1")
        self.close_about_box()
        # The page's context menu ends with "_About Morva..."; its mnemonic
        # is the only "a" in the menu.
        self.session.x("xdotool", "mousemove", "--window", str(window), "200",
                       "150", "click", "3")
        # Until the menu is up, the key goes to the page, which ignores it.
        def about_from_menu():
            self.session.x("xdotool", "key", "a")
            return self.session.windows("^About Morva$")
        self.assertTrue(poll(about_from_menu, interval=0.3),
                        "no About box from the context menu")
        self.close_about_box()
        self.close_and_check(proc, window, marker)


if __name__ == "__main__":
    main()
