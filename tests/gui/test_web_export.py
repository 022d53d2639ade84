"""Web exports packed with morva-pack build --page, played in the real
window. A folder that holds nothing of the player's own (a page, an image)
plays at the size and with the title asked for, and its pages read their
own files as from a web server: fetch() and XMLHttpRequest answer with the
status 200 and a content type, in every frame, while a missing file and a
file outside the work folder still fail."""

import os
import struct
import subprocess
import zlib

from guitest import (SessionTest, color, main, near, read, tree, wait_exit,
                     wait_near)

GREEN = color("#00c000")  # status: as expected
PICTURE = (40, 160, 220)


def png(width, height, rgb):
    """A PNG of one colour."""
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    row = b"\0" + bytes(rgb) * width
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0,
                                       0)) +
            chunk(b"IDAT", zlib.compress(row * height)) + chunk(b"IEND", b""))


# Each check colours its square in row ROW: green as expected, red not.
# BASE leads from the page to the top of the tour; OUTSIDE is a file of the
# user's beside the tour.
PROBE = """
var CHECKS = ['fetch', 'fetch missing', 'fetch outside', 'XHR', 'XHR blob',
              'XHR missing', 'XHR outside'];
function probe(row, base, outside) {
  function square(n, ok) {
    var d = document.createElement('div');
    d.style.cssText = 'position:absolute;width:50px;height:50px;top:' +
        (row * 60) + 'px;left:' + (n * 60) + 'px;background:' +
        (ok ? '#00c000' : '#ff0000');
    document.documentElement.appendChild(d);
  }
  function fails(promise, n) {
    promise.then(function (r) {
      return r.text().then(function (t) { square(n, !r.ok && t === ''); });
    }, function () { square(n, true); });
  }
  function xhr(url, type, done) {
    var x = new XMLHttpRequest();
    x.open('GET', url);
    if (type) x.responseType = type;
    x.onloadend = function () { done(x); };
    x.send();
  }
  fetch(base + 'data/scene.json').then(function (r) {
    var typed = r.headers.get('Content-Type') === 'application/json';
    return r.json().then(function (d) {
      square(0, r.status === 200 && r.ok && r.statusText === 'OK' && typed &&
                d.ok === 1);
    });
  }).catch(function () { square(0, false); });
  fails(fetch(base + 'data/missing.json'), 1);
  fails(fetch(outside), 2);
  xhr(base + 'data/scene.json', '', function (x) {
    square(3, x.status === 200 && x.statusText === 'OK' &&
              x.getResponseHeader('Content-Type') === 'application/json' &&
              /content-type: application\\/json/i.test(
                  x.getAllResponseHeaders()) &&
              JSON.parse(x.responseText).ok === 1);
  });
  xhr(base + 'picture.png', 'blob', function (x) {
    square(4, x.status === 200 && x.response && x.response.size > 50);
  });
  xhr(base + 'data/missing.json', '', function (x) {
    square(5, x.status === 0 && x.responseText === '');
  });
  xhr(outside, '', function (x) {
    square(6, x.status === 0 && x.responseText === '');
  });
}
"""

FRAMES_PAGE = """<!DOCTYPE html><html><head><title>Frames</title>
<script src="probe.js"></script>
<style>html, body { margin: 0; height: 100%%; background: #ff8000; }
iframe { position: absolute; left: 0; top: 60px; width: 600px; height: 60px;
         border: 0; }</style>
</head><body><iframe src="pages/frame.html"></iframe>
<script>probe(0, '', '%(outside)s');
// A frame a script makes without a document of its own.
var blank = document.createElement('iframe');
blank.style.cssText = 'position:absolute;left:0;top:120px;width:600px;' +
    'height:60px;border:0';
document.body.appendChild(blank);
blank.contentWindow.eval('(' + probe + ')(0, "' +
    document.baseURI.replace(/[^\\/]*$/, '') + '", "%(outside)s")');
</script></body></html>"""

FRAME_PAGE = """<!DOCTYPE html><html><head><script src="../probe.js"></script>
<style>html, body { margin: 0; background: #ff8000; }</style></head>
<body><script>probe(0, '../', '%(outside)s');</script></body></html>"""


class WebExportTest(SessionTest):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.pack = os.environ["MORVA_PACK"]

    def export(self, name, files):
        folder = os.path.join(self.session.work, name)
        for path, data in files.items():
            full = os.path.join(folder, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(data.encode() if isinstance(data, str) else data)
        return folder

    def build(self, folder, *args):
        exe = folder + ".run"
        built = subprocess.run(
            [self.pack, "build", folder, "-o", exe, "--player", self.player] +
            list(args), capture_output=True, env=self.session.env(),
            timeout=60)
        self.assertEqual(built.returncode, 0, built.stderr.decode())
        self.assertIn(b": plays intact\n", built.stdout)
        return exe

    def test_a_page_and_its_image(self):
        s = self.session
        page = "Vue à 100% été.html"
        folder = self.export("only", {
            page: '<!DOCTYPE html><html><head><title>Ignored</title></head>'
                  '<body style="margin: 0"><img src="picture.png" '
                  'style="display: block; width: 640px; height: 480px">'
                  '</body></html>',
            "picture.png": png(8, 8, PICTURE),
        })
        before = tree(folder)
        exe = self.build(folder, "--page", page, "--size", "640x480",
                         "--title", "L'été à 100%")
        self.assertEqual(tree(folder), before)
        proc = s.start([exe])
        window = s.wait_window("^L'été à 100%  -  Morva$", timeout=30)
        self.assertEqual(s.geometry(window), (0, 0, 640, 480))
        seen = wait_near(s, window, 320, 240, PICTURE)
        self.assertTrue(near(seen, PICTURE), seen)
        self.assert_closes_quietly(proc, window)

    def test_own_files_answer_as_from_a_web_server_in_every_frame(self):
        s = self.session
        outside = os.path.join(s.work, "outside", "secret.json")
        os.makedirs(os.path.dirname(outside))
        with open(outside, "w") as f:
            f.write('{"ok": 1}')
        fill = {"outside": "file://" + outside}
        folder = self.export("frames", {
            "index.html": FRAMES_PAGE % fill,
            "pages/frame.html": FRAME_PAGE % fill,
            "probe.js": PROBE,
            "data/scene.json": '{"ok": 1}',
            "picture.png": png(8, 8, PICTURE),
        })
        exe = self.build(folder, "--page", "index.html", "--size", "640x300")
        proc = s.start([exe])
        window = s.wait_window("^Frames  -  Morva$", timeout=30)
        rows = ("the page", "a frame", "a frame without a document")
        for row, where in enumerate(rows):
            for n, check in enumerate(("fetch", "fetch of a missing file",
                                       "fetch outside", "XHR", "XHR blob",
                                       "XHR of a missing file",
                                       "XHR outside")):
                seen = wait_near(s, window, n * 60 + 25, row * 60 + 25, GREEN)
                self.assertTrue(near(seen, GREEN),
                                "%s in %s: %s" % (check, where, seen))
        s.request_close(window)
        self.assertEqual(wait_exit(proc, 15), 0)
        self.assertEqual(s.leftovers(), [])


if __name__ == "__main__":
    main()
