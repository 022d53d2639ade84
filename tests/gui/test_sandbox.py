"""A hostile tour: it tries to read, write and show what is not its own,
and gets nothing, while everything a tour does with its own files works.

The user's home holds files the tour goes for, and a stand-in for the
user's default browser (a desktop entry that notes what it was asked to
open). The probe page reports its findings by loading done.html with them
in the query, which the player's trace shows."""

import json
import os
import re
import struct
import time
import urllib.parse
import zlib

from guitest import (SCREEN, SessionTest, main, pack_tour, read,
                     toolkit_complaints, tour_files, tree, wait_exit, wav)


def png(rgb):
    """A 4 x 4 PNG of one colour."""
    raw = b"".join(b"\x00" + bytes(rgb) * 4 for _ in range(4))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data)))
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", 4, 4, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


# What the home holds: the files the tour goes for, and one it would
# overwrite with a download of the same name.
HOME_FILES = {
    "secret.txt": b"secret",
    "secret.png": png((0, 255, 0)),
    "secret.wav": wav(2),
    "secret.html": b"<script>parent.postMessage('home-frame', '*')</script>",
    "secret.js": b"self.SECRET = 'leaked';",
    "existing.txt": b"keep me",
}

# The probes. `HOME` is the home's file: URL; `here` the page's folder.
PROBE = r"""<!DOCTYPE html><html><head><title>Probe</title></head><body>
<a id="dl_existing" href="x.txt" download="existing.txt">a</a>
<a id="dl_new" href="x.txt" download="auto.txt">b</a>
<script>
const HOME = '%(home)s';
const here = location.href.replace(/[^/]*$/, '');
// The same folder under the temporary folder's name in capitals, which the
// test has made a link to the real one: the files exist under that name.
const cased = here.replace('/tmp/QZ', '/TMP/QZ');
const up = '..%%2F..%%2F..%%2Fhome%%2F';   // an encoded way to the home
const R = {};
const wait = ms => new Promise(r => setTimeout(r, ms));
function xhr(u) {
  try {
    const x = new XMLHttpRequest(); x.open('GET', u, false); x.send();
    return x.responseText ? 'read ' + x.responseText.slice(0, 12) : 'refused';
  } catch (e) { return 'refused'; }
}
function fetched(u) {
  return fetch(u).then(r => r.text()).then(
      t => t ? 'read ' + t.slice(0, 12) : 'refused', e => 'refused');
}
function image(u) {
  return new Promise(res => { const i = new Image();
    i.onload = () => res('loaded'); i.onerror = () => res('refused');
    i.src = u; });
}
function frame(u, says) {
  return new Promise(res => { const f = document.createElement('iframe');
    addEventListener('message', e => {
      if (e.source == f.contentWindow && e.data == says) res('loaded'); });
    f.src = u; document.body.appendChild(f);
    setTimeout(() => res('refused'), 3000); });
}
function texture(u) {
  return new Promise(res => { const i = new Image();
    i.onerror = () => res('refused');
    i.onload = () => {
      try {
        const gl = document.createElement('canvas').getContext('webgl');
        if (!gl) return res('no webgl');
        const t = gl.createTexture(); gl.bindTexture(gl.TEXTURE_2D, t);
        gl.texImage2D(gl.TEXTURE_2D, 0, gl.RGBA, gl.RGBA, gl.UNSIGNED_BYTE, i);
        const fb = gl.createFramebuffer();
        gl.bindFramebuffer(gl.FRAMEBUFFER, fb);
        gl.framebufferTexture2D(gl.FRAMEBUFFER, gl.COLOR_ATTACHMENT0,
                                gl.TEXTURE_2D, t, 0);
        const px = new Uint8Array(4);
        gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, px);
        res(gl.getError() ? 'gl error' : 'pixel ' + Array.from(px).join(','));
      } catch (e) { res('exception ' + e.name); }
    };
    i.src = u; });
}
function sound(u) {
  return new Promise(res => { const a = new Audio();
    a.onerror = () => res('refused');
    a.onloadedmetadata = () => res('loaded ' + a.duration + ' s');
    a.src = u; setTimeout(() => res('timed out'), 10000); });
}
function worker() {
  return new Promise(res => { const w = new Worker('worker.js');
    w.onmessage = e => res(e.data); w.postMessage([HOME, up]);
    setTimeout(() => res('timed out'), 5000); });
}
async function run() {
  R.xhr = {sibling: xhr('sib.txt'), passwd: xhr('file:///etc/passwd'),
           home: xhr(HOME + 'secret.txt'), encoded: xhr(here + up + 'secret.txt'),
           encoded_lower: xhr(here + up.toLowerCase() + 'secret.txt'),
           nul: xhr(here + '../%%2e%%2e%%00'), cased: xhr(cased + 'sib.txt'),
           query: xhr('sib.txt?path=%%2F%%00')};
  R.fetch = {sibling: await fetched('sib.txt'),
             home: await fetched(HOME + 'secret.txt'),
             encoded: await fetched(here + up + 'secret.txt'),
             cased: await fetched(cased + 'sib.txt')};
  R.image = {sibling: await image('sib.png'),
             home: await image(HOME + 'secret.png'),
             cased: await image(cased + 'sib.png')};
  const frames = await Promise.all([
      frame('sib.html', 'sibling-frame'), frame(HOME + 'secret.html', 'home-frame'),
      frame(here + up + 'secret.html', 'home-frame'),
      frame(cased + 'sib.html', 'sibling-frame')]);
  R.frame = {sibling: frames[0], home: frames[1], encoded: frames[2],
             cased: frames[3]};
  R.texture = {sibling: await texture('sib.png'),
               home: await texture(HOME + 'secret.png')};
  R.sound = {sibling: await sound('sib.wav'),
             home: await sound(HOME + 'secret.wav')};
  R.worker = await worker();
  const script = document.createElement('script');
  script.src = HOME + 'secret.js'; document.head.appendChild(script);
  await wait(300);
  R.script = self.SECRET || 'refused';

  R.geolocation = await new Promise(res => {
    navigator.geolocation.getCurrentPosition(() => res('granted'),
                                             e => res('denied'));
    setTimeout(() => res('no answer'), 3000); });
  R.notification = await Notification.requestPermission();
  R.camera = navigator.mediaDevices ?
      await navigator.mediaDevices.getUserMedia({video: true}).then(
          () => 'granted', e => 'denied') : 'denied';
  R.permission_state =
      (await navigator.permissions.query({name: 'geolocation'})).state;

  // Downloads, one at a time: a click by script, then blob and data ones.
  document.getElementById('dl_existing').click(); await wait(800);
  document.getElementById('dl_new').click(); await wait(800);
  for (const [href, name] of [
      [URL.createObjectURL(new Blob(['blob'])), 'blob.txt'],
      ['data:text/plain,data', 'data.txt']]) {
    const a = document.createElement('a'); a.href = href; a.download = name;
    document.body.appendChild(a); a.click(); await wait(800);
  }
  // Leaving the tour without the user: the page stays.
  for (const away of ['file:///etc/passwd', HOME + 'secret.html',
                      'https://example.invalid/by-script']) {
    location.href = away; await wait(800);
  }
  R.still_here = true;
  location.href = 'done.html?' + encodeURIComponent(JSON.stringify(R));
}
run();
</script></body></html>"""

WORKER = r"""onmessage = async e => {
  const [home, up] = e.data;
  const r = {};
  const get = async u => {
    try { const t = await (await fetch(u)).text();
          return t ? 'read ' + t : 'refused'; } catch (x) { return 'refused'; }
  };
  r.sibling = await get('sib.txt');
  r.home = await get(home + 'secret.txt');
  r.encoded = await get(up + 'secret.txt');
  try { importScripts(home + 'secret.js'); r.imported = self.SECRET; }
  catch (x) { r.imported = 'refused'; }
  postMessage(r);
};"""

# The page the user clicks on: six rows of links and buttons, 100 pixels
# apart. Sound plays on a click, as the engine wants.
DONE = r"""<!DOCTYPE html><html><head><title>Done</title><style>
html, body { margin: 0; height: 100%; background: #ffffff; }
a, button { position: absolute; left: 0; width: 160px; height: 80px;
            display: block; }
</style></head><body>
<a style="top: 0" href="https://example.invalid/link"></a>
<a style="top: 100px" href="#"
   onclick="window.open('https://example.invalid/open'); return false"></a>
<a style="top: 200px" href="#"
   onclick="window.open('file:///etc/passwd'); return false"></a>
<a style="top: 300px" href="x.txt" download="existing.txt"></a>
<button style="top: 400px"
        onclick="document.documentElement.requestFullscreen().then(
            () => document.body.style.background = '#0000ff',
            () => document.body.style.background = '#ff0000')"></button>
<input type="file" style="position: absolute; left: 300px; top: 0;
                          width: 160px; height: 80px">
<button style="top: 500px" onclick="
    const a = new Audio('sib.wav');
    a.onplaying = () => { a.onplaying = null; a.currentTime = 2; };
    a.onseeked = () => document.body.style.background = '#00c000';
    a.onerror = () => document.body.style.background = '#ff0000';
    a.play()"></button>
</body></html>"""

BROWSER = """#!/bin/sh
printf '%s %s\\n' "$1" "$XDG_CONFIG_HOME" >> "$(dirname "$0")/asked"
"""


class SandboxTest(SessionTest):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        s = cls.session
        for name, data in HOME_FILES.items():
            with open(os.path.join(s.home, name), "wb") as f:
                f.write(data)
        # The user's default browser, for web and mail links.
        cls.asked = os.path.join(s.work, "asked")
        browser = os.path.join(s.work, "browser")
        with open(browser, "w") as f:
            f.write(BROWSER)
        os.chmod(browser, 0o755)
        apps = os.path.join(s.xdg["XDG_DATA_HOME"], "applications")
        os.makedirs(apps)
        with open(os.path.join(apps, "stand-in-browser.desktop"), "w") as f:
            f.write("[Desktop Entry]\nType=Application\nName=Browser\n"
                    "Exec=%s %%u\nMimeType=x-scheme-handler/http;"
                    "x-scheme-handler/https;x-scheme-handler/mailto;\n"
                    % browser)
        os.makedirs(s.xdg["XDG_CONFIG_HOME"])
        with open(os.path.join(s.xdg["XDG_CONFIG_HOME"], "mimeapps.list"),
                  "w") as f:
            f.write("[Default Applications]\n" + "".join(
                "x-scheme-handler/%s=stand-in-browser.desktop\n" % scheme
                for scheme in ("http", "https", "mailto")))
        # The temporary folder under another letter case leads to the same
        # files; the tour must still not reach them that way.
        os.symlink("tmp", os.path.join(s.root, "TMP"))
        cls.home_before = cls.home_state()

    @classmethod
    def home_state(cls):
        home = cls.session.home
        return {p: read(os.path.join(home, p)) if not p.endswith("/") else None
                for p in tree(home)}

    def asked_for(self):
        return read(self.asked).decode().splitlines() \
            if os.path.exists(self.asked) else []

    def trace(self, proc):
        return read(proc.err_path).decode("utf-8", "replace")

    def wait_trace(self, proc, pattern, timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = re.search(pattern, self.trace(proc))
            if found:
                return found
            if proc.poll() is not None:
                break
            time.sleep(0.2)
        self.fail("no /%s/ in the trace:\n%s" % (pattern, self.trace(proc)))

    def other_windows(self, known):
        return [w for w in self.session.windows(".") if w not in known]

    def test_a_hostile_tour_reaches_nothing_of_the_users(self):
        s = self.session
        home_url = "file://%s/" % urllib.parse.quote(s.home)
        exe = pack_tour(self.player, os.path.join(s.work, "probe"), tour_files(
            "Probe", PROBE % {"home": home_url}, 800, 600, extra={
                "sib.txt": "sibling", "sib.png": png((255, 0, 0)),
                "sib.wav": wav(3), "x.txt": "download",
                "sib.html": "<script>parent.postMessage('sibling-frame', '*')"
                            "</script>",
                "worker.js": WORKER, "done.html": DONE}))
        # Without a runtime folder the sound client keeps its runtime link
        # in the configuration folder and its files in the temporary one.
        proc = s.start([exe], MORVA_TRACE="1", XDG_RUNTIME_DIR=None)
        window = s.wait_window("^Probe  -  Morva$")
        found = self.wait_trace(proc, r"load finished \S*/done\.html\?(\S*)")
        results = json.loads(urllib.parse.unquote(found.group(1)))

        refused = "refused"
        self.assertEqual(results["xhr"], {
            "sibling": "read sibling", "passwd": refused, "home": refused,
            "encoded": refused, "encoded_lower": refused, "nul": refused,
            "cased": refused, "query": "read sibling"})
        self.assertEqual(results["fetch"], {
            "sibling": "read sibling", "home": refused, "encoded": refused,
            "cased": refused})
        self.assertEqual(results["image"], {
            "sibling": "loaded", "home": refused, "cased": refused})
        self.assertEqual(results["frame"], {
            "sibling": "loaded", "home": refused, "encoded": refused,
            "cased": refused})
        self.assertEqual(results["texture"], {
            "sibling": "pixel 255,0,0,255", "home": refused})
        self.assertEqual(results["sound"], {
            "sibling": "loaded 3 s", "home": refused})
        self.assertEqual(results["worker"], {
            "sibling": "read sibling", "home": refused, "encoded": refused,
            "imported": refused})
        self.assertEqual(results["script"], refused)
        for permission in ("geolocation", "notification", "camera",
                           "permission_state"):
            self.assertEqual(results[permission], "denied", permission)
        self.assertTrue(results["still_here"])
        trace = self.trace(proc)
        # The downloads were tried, and refused.
        self.assertEqual(len(re.findall("download refused", trace)), 4, trace)
        self.assertNotIn("load finished file:///etc", trace)

        # What the user does: web and mail links go to the user's browser
        # (once a second at most), with the user's own folders.
        s.click(window, 80, 40)
        self.wait_for_asked(1)
        time.sleep(1.1)
        s.click(window, 80, 140)
        self.wait_for_asked(2)
        self.assertEqual(self.asked_for(), [
            "https://example.invalid/link " + s.xdg["XDG_CONFIG_HOME"],
            "https://example.invalid/open " + s.xdg["XDG_CONFIG_HOME"]])
        # Nothing opened inside the player, the page stayed.
        self.assertEqual(s.windows("."), [window])
        self.assertEqual(s.screenshot(window).pixel(400, 300),
                         (255, 255, 255))

        # A window onto a file outside, a file chooser, the context menu's
        # download and new-window items: nothing appears.
        s.click(window, 80, 240)
        s.click(window, 380, 40)
        for key in ("d", "w"):
            s.x("xdotool", "mousemove", "--window", str(window), "80", "340",
                "click", "3")
            time.sleep(0.5)
            s.x("xdotool", "key", key)
            time.sleep(0.5)
            s.x("xdotool", "key", "Escape")
        time.sleep(1)
        self.assertEqual(self.other_windows([window]), [])
        self.assertEqual(len(re.findall("download refused", self.trace(proc))),
                         4)

        # A sibling sound plays and seeks (green), and writes nothing.
        s.click(window, 80, 540)
        self.assertEqual(s.wait_pixel(window, 400, 300, (0, 192, 0)),
                         (0, 192, 0))

        # Full screen is the tour's to take (blue).
        s.click(window, 80, 440)
        self.assertEqual(s.wait_pixel(window, 400, 300, (0, 0, 255)),
                         (0, 0, 255))

        s.request_close(window)
        self.assertEqual(wait_exit(proc, 10), 0)
        # The home is as it was, the sound left nothing anywhere.
        self.assertEqual(self.home_state(), self.home_before)
        self.assertEqual([p for p in s.leftovers() if not p.startswith("home/")],
                         [])
        self.assertEqual(toolkit_complaints(proc), [])

    def wait_for_asked(self, count, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and len(self.asked_for()) < count:
            time.sleep(0.1)
        self.assertEqual(len(self.asked_for()), count, self.asked_for())

    def test_b_a_tour_page_outside_is_never_shown(self):
        s = self.session
        outside = os.path.join(s.root, "x", "outside.html")
        os.makedirs(os.path.dirname(outside))
        with open(outside, "w") as f:
            f.write("<title>outside</title>")
        files = tour_files("Escape", "<title>inside</title>")
        files["_flash/Escape.html"] = files["_flash/Escape.html"].replace(
            b"'page.html'", b"'../../../x/outside.html'")
        proc = s.start([pack_tour(self.player, os.path.join(s.work, "escape"),
                                  files)], MORVA_TRACE="1")
        window = s.wait_window("^Escape  -  Morva$")
        time.sleep(2)
        # The launch stopped at the start page: the template's empty window.
        self.assertEqual(s.geometry(window)[2:], (600, 470))
        self.assertNotIn("load finished", self.trace(proc))
        s.request_close(window)
        self.assertEqual(wait_exit(proc, 10), 0)

    def test_c_a_window_larger_than_the_screen_is_limited_to_it(self):
        s = self.session
        page = ("<html><body style='margin:0;background:#ff8000'>"
                "<script>resizeTo(100000, 100000)</script></body></html>")
        proc = s.start([pack_tour(self.player, os.path.join(s.work, "huge"),
                                  tour_files("Huge", page, 100000, 100000))])
        window = s.wait_window("^Huge  -  Morva$")
        self.assertEqual(s.wait_pixel(window, 10, 10, (255, 128, 0)),
                         (255, 128, 0))
        time.sleep(2)
        self.assertEqual(s.geometry(window), (0, 0) + SCREEN)
        # The player and its web processes hold what a screen's worth
        # needs, far from the gigabytes a 100000-pixel window would take.
        self.assertLess(tree_rss(proc.pid), 1 << 30)
        s.request_close(window)
        self.assertEqual(wait_exit(proc, 10), 0)


def tree_rss(pid):
    """Resident bytes of pid and every process below it."""
    parents = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                stat = read("/proc/%s/stat" % entry).decode()
            except OSError:
                continue
            parents[int(entry)] = int(stat.rsplit(")", 1)[1].split()[1])
    family, grew = {pid}, True
    while grew:
        more = {p for p, parent in parents.items() if parent in family}
        grew = not more <= family
        family |= more
    total = 0
    for member in family:
        try:
            for line in read("/proc/%d/status" % member).decode().splitlines():
                if line.startswith("VmRSS:"):
                    total += int(line.split()[1]) * 1024
        except OSError:
            pass
    return total


if __name__ == "__main__":
    main()
