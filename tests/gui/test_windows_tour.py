"""Tours made elsewhere, played with `morva TOUR`: a package made for
Windows (another program in front of the archive, autorun.inf as Notepad
saves it, names in other letter cases and in Windows code pages) shows its
page at its size and leaves nothing; and the player's command line."""

import os
import struct
import subprocess
import zlib

from guitest import (SessionTest, append_package, color, main, read,
                     toolkit_complaints, wait_exit)

ORANGE = color("#ff8000")  # the tour page
BLUE = color("#0000ff")    # status: the page got its query or fragment
TEAL = color("#008080")    # status: an image named in Windows-1252 loaded

# A tour page as Windows-era editors saved it: Windows-1252 text, naming an
# image whose name is Windows-1252 too. `{check}` is the script's test of the
# address the page was opened with.
PAGE = """<!DOCTYPE html><html><head>
<meta http-equiv="Content-Type" content="text/html; charset=windows-1252">
<title>Caf\xe9</title><style>
html, body { margin: 0; height: 100%; background: #ff8000; }
div { position: absolute; top: 0; width: 80px; height: 80px; }
#address { left: 0; } #image { left: 100px; }
</style></head><body><div id="address"></div><div id="image"></div>
<img src="Sc\xe8ne.png" style="display: none"
 onload="document.getElementById('image').style.background = '#008080'"
 onerror="document.getElementById('image').style.background = '#ff0000'">
<script>
document.getElementById('address').style.background =
    {check} ? '#0000ff' : '#ff0000';
</script></body></html>"""

LAUNCHER = ("<html><body><a href=\"#\" onclick=\"javascript:window.open("
            "'{page}','_blank','width=640,height=480')\">Start</a>"
            "</body></html>\r\n")


def png():
    """A 1 x 1 image."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data)))
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(b"\x00\x00\x80\x80")) +
            chunk(b"IEND", b""))


def utf16_notepad(text):
    return b"\xff\xfe" + text.encode("utf-16-le")


def windows_tour(path, files):
    """A tour executable made for Windows: a program that is no Linux
    program, then the package."""
    with open(path, "wb") as f:
        f.write(b"MZ\x90\x00" + bytes(60) + b"a Windows program" * 100)
    return append_package(path, files)


class WindowsTourTest(SessionTest):

    def play(self, tour, title, fragment_or_query):
        s = self.session
        before = read(tour)
        # Named as a user in its folder would name it.
        proc = s.start([self.player, os.path.relpath(tour, s.work)])
        window = s.wait_window("Morva$")
        self.assertEqual(s.title(window), title)
        self.assertEqual(s.geometry(window), (0, 0, 640, 480))
        self.assertEqual(s.wait_pixel(window, 400, 300, ORANGE), ORANGE)
        self.assertEqual(s.wait_pixel(window, 40, 40, BLUE), BLUE,
                         "the page got " + fragment_or_query)
        self.assertEqual(s.wait_pixel(window, 140, 40, TEAL), TEAL,
                         "the image named in Windows-1252 loaded")
        s.request_close(window)
        self.assertEqual(wait_exit(proc, 10), 0)
        self.assertEqual(s.leftovers(), [])
        self.assertEqual(toolkit_complaints(proc), [])
        self.assertEqual(read(tour), before, "the tour file is only read")

    def test_notepad_autorun_other_cases_and_a_cp437_page_name(self):
        # autorun.inf in UTF-16 under an upper-case name names the launcher
        # in another letter case; the launcher names the tour page in CP437
        # bytes (0x82 is "e acute" there), in yet another case, with a query.
        page = PAGE.replace("{check}", "location.search == '?scene=2'")
        tour = windows_tour(os.path.join(self.session.work, "Tour.exe"), {
            b"_FLASH/QZVIEWER.SWF": b"FWS not a real movie",
            b"_FLASH/AUTORUN.INF": utf16_notepad(
                "[autorun] \r\r\nshellexecute=Caf\u00e9 tour.html\r\n"),
            b"_FLASH/CAF\xe9 TOUR.HTM" b"L": LAUNCHER.format(
                page="P\x82ge%20One.html?scene=2").encode("latin-1"),
            b"_FLASH/p\x82ge one.HTML": page.encode("cp1252"),
            b"_FLASH/Sc\xe8ne.png": png(),
        })
        self.play(tour, "Caf\u00e9 tour  -  Morva", "its query")

    def test_windows_1252_launcher_title_and_page_with_a_fragment(self):
        page = PAGE.replace("{check}", "location.hash == '#x'")
        tour = windows_tour(os.path.join(self.session.work, "Caf\xe9.exe"), {
            b"_flash/qzviewer.swf": b"FWS not a real movie",
            b"_flash/autorun.inf": b"[autorun]\r\nshellexecute=Caf\xe9.html",
            b"_flash/Caf\xe9.html": LAUNCHER.format(
                page="Men\xfc.html#x").encode("latin-1"),
            b"_flash/Men\xfc.html": page.encode("cp1252"),
            b"_flash/Sc\xe8ne.png": png(),
        })
        self.play(tour, "Caf\u00e9  -  Morva", "its fragment")


class CommandLineTest(SessionTest):
    """The player's command line, with and without a display."""

    def run_player(self, args, display=True):
        env = self.session.env()
        if not display:
            del env["DISPLAY"]
        return subprocess.run([self.player] + args, env=env,
                              capture_output=True, timeout=30,
                              cwd=self.session.work)

    def test_help_and_version_need_no_display(self):
        result = self.run_player(["--help"], display=False)
        self.assertEqual(result.returncode, 0)
        self.assertTrue(result.stdout.startswith(
            b"Usage: morva [OPTIONS] [TOUR]\n"), result.stdout)
        result = self.run_player(["--version"], display=False)
        self.assertEqual(result.returncode, 0)
        self.assertRegex(result.stdout.decode(), r"^morva \d+\.\d+\.\d+\n$")
        self.assertEqual(self.session.leftovers(), [])

    def test_no_display_is_said_never_a_silent_success(self):
        tour = windows_tour(os.path.join(self.session.work, "t.exe"), {
            "_flash/qzviewer.swf": b"x"})
        result = self.run_player([tour], display=False)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(
            result.stderr,
            b"morva: cannot open display "
            b"(neither DISPLAY nor WAYLAND_DISPLAY is set)\n")
        self.assertEqual(self.session.leftovers(), [])


if __name__ == "__main__":
    main()
