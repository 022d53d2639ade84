"""How the player ends: the page closes itself, a signal, the user closes a
window that has no tour. Every way runs the cleanup and leaves nothing."""

import os
import shutil
import signal
import time

from guitest import (SessionTest, color, main, pack_tour, read,
                     toolkit_complaints, tour_files, wait_exit, wav)

ORANGE = color("#ff8000")
PAGE = """<!DOCTYPE html><html><head><title>Tour page</title><style>
html, body { margin: 0; height: 100%%; background: #ff8000; }
</style></head><body>
<audio src="click.wav" autoplay></audio>
<script>%s</script></body></html>"""

# A short silent sound: tours have sound, and the first sound is what makes
# the media framework set up (and want to cache) its plugin registry.
WAV = wav(0.1)


class CloseTest(SessionTest):

    def pack(self, name, script=""):
        return pack_tour(self.player, os.path.join(self.session.work, name),
                         tour_files(name, PAGE % script, 640, 480,
                                    extra={"click.wav": WAV}))

    def assert_clean_exit(self, proc, timeout):
        self.assertEqual(wait_exit(proc, timeout), 0)
        self.assertEqual(self.session.leftovers(), [])
        self.assertEqual(toolkit_complaints(proc), [])

    def test_page_closing_itself_ends_the_player(self):
        exe = self.pack("Closing", "setTimeout(function() {"
                        " document.title = 'closing'; window.close(); }, 1500);")
        proc = self.session.start([exe])
        window = self.session.wait_window("^Closing  -  Morva$")
        self.assertEqual(self.session.wait_pixel(window, 320, 240, ORANGE),
                         ORANGE)
        self.assert_clean_exit(proc, 10)

    def test_sigterm_ends_within_a_second(self):
        proc = self.session.start([self.pack("Signalled")])
        window = self.session.wait_window("^Signalled  -  Morva$")
        self.assertEqual(self.session.wait_pixel(window, 320, 240, ORANGE),
                         ORANGE)
        proc.send_signal(signal.SIGTERM)
        self.assert_clean_exit(proc, 1)

    def test_player_without_package(self):
        exe = os.path.join(self.session.work, "bare")
        shutil.copyfile(self.player, exe)
        os.chmod(exe, 0o755)
        proc = self.session.start([exe])
        window = self.session.wait_window("^Morva$")
        self.assertEqual(self.session.geometry(window)[2:], (600, 470))
        time.sleep(1.5)
        self.assertIsNone(proc.poll(), "the empty window must stay open")
        self.assertEqual(self.session.windows("^Morva$"), [window])
        self.session.request_close(window)
        self.assert_clean_exit(proc, 10)
        self.assertEqual(read(proc.out_path), b"")


if __name__ == "__main__":
    main()
