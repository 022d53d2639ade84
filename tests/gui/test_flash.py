"""Flash content in small tours: hand-written movies (swf.py) played by the
runtime the player carries, the plug-in entry pages test for, movies in
frames and as documents, and the answers pages get for their own files.
Every tour runs under LANG=C.UTF-8, a locale without a language."""

import os
import signal
import time

from guitest import (SessionTest, color, main, near, pack_tour,
                     skip_without_flash_runtime, tour_files, wait_exit,
                     wait_near)
from swf import rectangle_movie

ORANGE = color("#ff8000")  # page background
GREEN = color("#00c000")   # status: as expected
RED = color("#ff0000")     # status: not as expected

# Movies: (background, rectangle colour, rectangle) on a 400 x 300 stage.
MAIN = ((0, 128, 255), (255, 0, 0), (100, 50, 200, 100))
FRAMED = ((255, 255, 0), (0, 160, 0), (50, 50, 100, 100))
DIRECT = ((128, 0, 128), (255, 255, 255), (100, 50, 200, 100))
# Lies outside the work folder: it must never play, embedded or opened.
OUTSIDE = ((0, 255, 255), (255, 0, 255), (0, 0, 400, 300))


def movie(colours):
    background, colour, rect = colours
    return rectangle_movie(400, 300, background, colour, rect)


STATUS_SCRIPT = """
function square(n, ok) {
  var d = document.createElement('div');
  d.style.cssText = 'position:absolute;width:80px;height:80px;top:' +
      STATUS_TOP + 'px;left:' + (n * 100) + 'px;background:' +
      (ok ? '#00c000' : '#ff0000');
  document.documentElement.appendChild(d);
}
"""

# The first script of the page looks for the plug-in as old pages did,
# before any markup of a movie exists.
FLASH_PAGE = """<!DOCTYPE html><html><head><title>Flash page</title>
<script>var STATUS_TOP = 320;""" + STATUS_SCRIPT + """
var plugin = navigator.plugins['Shockwave Flash'];
var type = navigator.mimeTypes['application/x-shockwave-flash'];
square(0, plugin && /^Shockwave Flash \\d+/.test(plugin.description) &&
          type && type.enabledPlugin === plugin);
square(1, navigator.language === 'en-US');
</script>
<style>html, body { margin: 0; height: 100%; background: #ff8000; }
embed, iframe { position: absolute; top: 0; border: 0; }
a { position: absolute; top: 420px; width: 200px; height: 80px;
    background: #404040; }</style></head><body>
<embed src="main.swf" width="400" height="300" style="left: 0">
<iframe src="framed.html" width="400" height="300" style="left: 400px">
</iframe>
<div style="position: absolute; left: 400px; top: 320px">
<embed src="OUTSIDE_URI" width="200" height="150"></div>
<a href="direct.swf" style="left: 0"></a>
<a href="OUTSIDE_URI" style="left: 200px"></a>
</body></html>"""

FRAMED_PAGE = """<!DOCTYPE html><html><head><style>
html, body { margin: 0; background: #ff8000; }</style></head><body>
<script>document.write('<object type="application/x-shockwave-flash" ' +
    'data="framed.swf" width="400" height="300"></object>');</script>
</body></html>"""

# A page without Flash: its own files answer as from a web server, missing
# ones still fail, and the runtime is never loaded.
PLAIN_PAGE = """<!DOCTYPE html><html><head><title>Plain page</title>
<script>var STATUS_TOP = 0;""" + STATUS_SCRIPT + """</script>
<style>html, body { margin: 0; height: 100%; background: #ff8000; }</style>
</head><body><script>
fetch('data/scene.json').then(function (r) {
  var typed = r.headers.get('Content-Type') === 'application/json';
  return r.json().then(function (d) {
    square(0, r.status === 200 && r.ok && typed && d.ok === 1);
  });
}).catch(function () { square(0, false); });
fetch('data/missing.json').then(function () { square(1, false); },
                                function () { square(1, true); });
var x = new XMLHttpRequest();
x.open('GET', 'data/scene.json', false);
x.send();
var y = new XMLHttpRequest();
y.open('GET', 'data/missing.json', false);
try { y.send(); } catch (e) {}
square(2, x.status === 200 && x.statusText === 'OK' &&
          x.getResponseHeader('Content-Type') === 'application/json' &&
          JSON.parse(x.responseText).ok === 1 && y.status === 0);
setTimeout(function () {
  var loaded = performance.getEntriesByType('resource').some(function (e) {
    return e.name.indexOf('morva-flash:') === 0;
  }) || !!document.querySelector('script[src^="morva-flash:"]');
  square(3, !loaded);
}, 2000);
</script></body></html>"""


class FlashTest(SessionTest):

    def flash_tour(self, name):
        outside = os.path.join(self.session.work, "outside.swf")
        with open(outside, "wb") as f:
            f.write(movie(OUTSIDE))
        page = FLASH_PAGE.replace("OUTSIDE_URI", "file://" + outside)
        return pack_tour(self.player, os.path.join(self.session.work, name),
                         tour_files(name, page, 800, 600, extra={
                             "main.swf": movie(MAIN),
                             "framed.html": FRAMED_PAGE,
                             "framed.swf": movie(FRAMED),
                             "direct.swf": movie(DIRECT),
                         }))

    def expect(self, window, x, y, rgb, timeout=10):
        seen = wait_near(self.session, window, x, y, rgb, timeout)
        self.assertTrue(near(seen, rgb),
                        "at (%d, %d): %s, expected %s" % (x, y, seen, rgb))

    def not_outside(self, window, x, y):
        seen = self.session.screenshot(window).pixel(x, y)
        for rgb in OUTSIDE[:2]:
            self.assertFalse(near(seen, rgb),
                             "at (%d, %d): %s, the movie from outside the "
                             "work folder" % (x, y, seen))

    def test_movies_in_the_page_in_a_frame_and_as_a_document(self):
        s = self.session
        proc = s.start([self.flash_tour("Movies")])
        window = s.wait_window("^Movies  -  Morva$")
        # The plug-in entry was there for the page's first script, and the
        # engine has a language although the locale names none.
        self.expect(window, 40, 360, GREEN)
        self.expect(window, 140, 360, GREEN)
        # <embed> in the page: its rectangle and its stage.
        self.expect(window, 200, 100, MAIN[1], timeout=40)
        self.expect(window, 30, 250, MAIN[0])
        # <object> written by a script in a frame.
        self.expect(window, 400 + 100, 100, FRAMED[1], timeout=40)
        self.expect(window, 400 + 300, 250, FRAMED[0])
        # One from outside the work folder neither plays in the page nor
        # replaces it when its link is followed.
        self.not_outside(window, 500, 395)
        s.click(window, 300, 460)
        time.sleep(1)
        self.expect(window, 200, 100, MAIN[1])
        self.not_outside(window, 500, 395)
        # A movie opened as the document fills the view.
        s.click(window, 100, 460)
        self.expect(window, 400, 200, DIRECT[1], timeout=40)
        self.expect(window, 50, 550, DIRECT[0])
        self.assert_closes_quietly(proc, window)

    def test_page_without_flash(self):
        s = self.session
        exe = pack_tour(self.player, os.path.join(s.work, "Plain"),
                        tour_files("Plain", PLAIN_PAGE, 640, 480, extra={
                            "data/scene.json": '{"ok": 1}',
                        }))
        proc = s.start([exe])
        window = s.wait_window("^Plain  -  Morva$")
        for n, what in enumerate(("fetch of a sibling file",
                                  "fetch of a missing file",
                                  "synchronous requests",
                                  "no runtime loaded")):
            seen = wait_near(s, window, n * 100 + 40, 40, GREEN)
            self.assertTrue(near(seen, GREEN), "%s: %s" % (what, seen))
        s.request_close(window)
        self.assertEqual(wait_exit(proc, 15), 0)
        self.assertEqual(s.leftovers(), [])

    def test_sigterm_while_the_runtime_starts(self):
        s = self.session
        proc = s.start([self.flash_tour("Stopped")])
        window = s.wait_window("^Stopped  -  Morva$")
        # The page is there; the runtime is still compiling its module.
        self.expect(window, 700, 500, ORANGE)
        proc.send_signal(signal.SIGTERM)
        self.assertEqual(wait_exit(proc, 10), 0)
        self.assertEqual(s.leftovers(), [])


if __name__ == "__main__":
    skip_without_flash_runtime()
    main()
