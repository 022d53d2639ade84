"""Today's panorama viewers from npm, set up as their quick-starts show and
packed as they are with morva-pack --page, render their panorama in the
player's window: Pannellum in its API mode (its image read by
XMLHttpRequest), Marzipano fed a JSON configuration by fetch(), and Photo
Sphere Viewer as ES modules through an import map.

Needs the viewers fetched from npm (fetch_viewers.sh, into MORVA_VIEWERS)
and the assembled sample tour for Pannellum and the panorama
(MORVA_SAMPLE_TOUR). Exits 77 (skipped) when either could not be had for
want of the npm registry."""

import os
import shutil
import subprocess
import sys
import time

from guitest import SessionTest, main, wait_exit

VIEWERS = os.environ["MORVA_VIEWERS"]
SAMPLE = os.environ["MORVA_SAMPLE_TOUR"]
PSV = os.path.join(VIEWERS, "photo-sphere-viewer-core-5.15.1", "package")
THREE = os.path.join(VIEWERS, "three-0.185.1", "package", "build")
MARZIPANO = os.path.join(VIEWERS, "marzipano-0.10.2", "package", "dist")
NEEDED = (os.path.join(SAMPLE, "pannellum", "pannellum.js"),
          os.path.join(MARZIPANO, "marzipano.js"),
          os.path.join(PSV, "index.module.js"),
          os.path.join(THREE, "three.module.js"))

STYLE = """<style>html, body { margin: 0; height: 100%; overflow: hidden; }
#pano { width: 100%; height: 100%; }</style>"""

PANNELLUM = """<!DOCTYPE html><html><head><meta charset="utf-8">
<title>Pannellum</title>
<link rel="stylesheet" href="pannellum.css"><script src="pannellum.js"></script>
""" + STYLE + """</head><body><div id="pano"></div><script>
pannellum.viewer('pano', {
  type: 'equirectangular', panorama: 'pano.png', autoLoad: true
});
</script></body></html>"""

MARZIPANO_PAGE = """<!DOCTYPE html><html><head><meta charset="utf-8">
<title>Marzipano</title>""" + STYLE + """</head><body><div id="pano"></div>
<script src="marzipano.js"></script><script>
fetch('data.json').then(function (response) {
  if (!response.ok) throw new Error('data.json: ' + response.status);
  return response.json();
}).then(function (data) {
  var viewer = new Marzipano.Viewer(document.getElementById('pano'));
  var limiter = Marzipano.RectilinearView.limit.traditional(
      data.width, 120 * Math.PI / 180);
  viewer.createScene({
    source: Marzipano.ImageUrlSource.fromString(data.panorama),
    geometry: new Marzipano.EquirectGeometry([{ width: data.width }]),
    view: new Marzipano.RectilinearView(data.view, limiter)
  }).switchTo();
});
</script></body></html>"""

MARZIPANO_DATA = """{"panorama": "pano.png", "width": 2048,
 "view": {"yaw": 0, "pitch": 0, "fov": 1.6}}"""

PSV_PAGE = """<!DOCTYPE html><html><head><meta charset="utf-8">
<title>Photo Sphere Viewer</title>
<link rel="stylesheet" href="psv/index.css">
<script type="importmap">{"imports": {
  "three": "./three/three.module.js",
  "@photo-sphere-viewer/core": "./psv/index.module.js"}}</script>
""" + STYLE + """</head><body><div id="pano"></div>
<script type="module">
import { Viewer } from '@photo-sphere-viewer/core';
new Viewer({ container: document.querySelector('#pano'),
             panorama: 'pano.png' });
</script></body></html>"""

# The panorama's sign (a red band across the view at yaw 0) and the tiles
# of its ground. A viewer's error page or an empty view shows neither.
SIGN = (150, 40, 40)
TILES = ((168, 150, 118), (112, 98, 80))


def shares(image):
    """The shares of the sign's and the tiles' colours, and the number of
    colours, over every fourth pixel of the image."""
    data = image.data
    near = lambda i, c: all(abs(data[i + k] - c[k]) <= 24 for k in range(3))
    sign = tiles = total = 0
    colours = set()
    for i in range(0, len(data) - 2, 12):
        total += 1
        sign += near(i, SIGN)
        tiles += near(i, TILES[0]) or near(i, TILES[1])
        colours.add(data[i:i + 3])
    return sign / total, tiles / total, len(colours)


def rendered(seen):
    return seen[0] > 0.05 and seen[1] > 0.1 and seen[2] > 1000


class ViewersTest(SessionTest):

    def play(self, name, files, copies):
        s = self.session
        folder = os.path.join(s.work, name)
        os.makedirs(folder)
        for path, text in files.items():
            with open(os.path.join(folder, path), "w") as f:
                f.write(text)
        copies["pano.png"] = os.path.join(SAMPLE, "scene", "courtyard.png")
        for path, source in copies.items():
            os.makedirs(os.path.dirname(os.path.join(folder, path)),
                        exist_ok=True)
            shutil.copyfile(source, os.path.join(folder, path))
        exe = folder + ".run"
        built = subprocess.run(
            [os.environ["MORVA_PACK"], "build", folder, "-o", exe, "--page",
             "index.html", "--size", "800x600", "--player", self.player],
            capture_output=True, env=s.env(), timeout=60)
        self.assertEqual(built.returncode, 0, built.stderr.decode())

        proc = s.start([exe])
        window = s.wait_window("^%s  -  Morva$" % name, timeout=30)
        deadline = time.monotonic() + 60
        seen = (0, 0, 0)
        while time.monotonic() < deadline and not rendered(seen):
            time.sleep(0.5)
            seen = shares(s.screenshot(window))
        if os.environ.get("MORVA_GUI_KEEP"):
            s.x("import", "-silent", "-window", str(window),
                os.path.join(s.work, name + ".png"))
        self.assertTrue(rendered(seen), "%s shows no panorama: %.2f of the "
                        "sign, %.2f of tiles, %d colours" % ((name,) + seen))
        s.request_close(window)
        self.assertEqual(wait_exit(proc, 15), 0)
        self.assertEqual(s.leftovers(), [])

    def test_pannellum_api_mode(self):
        build = os.path.join(SAMPLE, "pannellum")
        self.play("Pannellum", {"index.html": PANNELLUM}, {
            "pannellum.js": os.path.join(build, "pannellum.js"),
            "pannellum.css": os.path.join(build, "pannellum.css"),
        })

    def test_marzipano_with_a_json_configuration(self):
        self.play("Marzipano", {"index.html": MARZIPANO_PAGE,
                                "data.json": MARZIPANO_DATA}, {
            "marzipano.js": os.path.join(MARZIPANO, "marzipano.js"),
        })

    def test_photo_sphere_viewer_as_modules(self):
        self.play("Photo Sphere Viewer", {"index.html": PSV_PAGE}, {
            "psv/index.module.js": os.path.join(PSV, "index.module.js"),
            "psv/index.css": os.path.join(PSV, "index.css"),
            "three/three.module.js": os.path.join(THREE, "three.module.js"),
            "three/three.core.js": os.path.join(THREE, "three.core.js"),
        })


if __name__ == "__main__":
    missing = [path for path in NEEDED if not os.path.isfile(path)]
    if missing:
        print("SKIPPED: %s is not there (it could not be fetched from the "
              "npm registry)" % missing[0], file=sys.stderr)
        sys.exit(77)
    main()
