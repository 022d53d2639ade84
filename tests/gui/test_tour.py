"""A packed tour, end to end: the launch places and sizes the window, the
page shows, and the page's links follow the player's rules."""

import os
import time

from guitest import (SessionTest, color, main, pack_tour, read,
                     toolkit_complaints, tour_files, wait_exit, wav)

ORANGE = color("#ff8000")   # the tour page
GREEN = color("#00c000")    # the page after a click on the app: link
OLIVE = color("#808000")    # the page after a click on the APP: link
PURPLE = color("#8000ff")   # the second page
BLUE = color("#0000ff")     # status: scroll bars are hidden
TEAL = color("#008080")     # status: the sibling JSON file was read;
                            # sound started by itself
YELLOW = color("#ffff00")   # the page's own window
POPUP_TITLE = "^Popup window  -  Morva$"

# Colours `status` teal once `audio` has played for a while by itself.
PLAYING = """<script>
function playing(audio, status) {
  audio.addEventListener('playing', function() {
    setTimeout(function() {
      status.style.background =
          !audio.paused && audio.currentTime > 0.2 ? '#008080' : '#ff0000';
    }, 700);
  }, {once: true});
  audio.addEventListener('error', function() {
    status.style.background = '#ff0000';
  });
}
</script>"""

# Regions of the 800 x 600 page: links on the left, status squares on the
# right, the page colour in the middle.
PAGE = """<!DOCTYPE html><html><head><title>Tour page</title>""" + PLAYING + """<style>
html, body { margin: 0; height: 100%; background: #ff8000; }
a, div.status { position: absolute; display: block; width: 160px;
                height: 80px; }
#app { left: 0; top: 0; }       #upper { left: 0; top: 100px; }
#blank { left: 0; top: 200px; } #sized { left: 0; top: 300px; }
#next { left: 0; top: 400px; }
#scroll { left: 640px; top: 0; } #json { left: 640px; top: 100px; }
#audio { left: 640px; top: 200px; } #webaudio { left: 640px; top: 300px; }
#tall { position: absolute; top: 0; height: 5000px; width: 1px; }
</style></head><body>
<a id="app" href="app:Hello%20there"
   onclick="document.body.style.background = '#00c000'"></a>
<a id="upper" href="APP:Shout"
   onclick="document.body.style.background = '#808000'"></a>
<a id="blank" href="popup.html" target="_blank"></a>
<a id="sized" href="#"
   onclick="window.open('popup.html', '_blank', 'width=400,height=300');
            return false"></a>
<a id="next" href="second.html"></a>
<div class="status" id="scroll"></div><div class="status" id="json"></div>
<div class="status" id="audio"></div><div class="status" id="webaudio"></div>
<div id="tall"></div>
<audio id="music" src="music.wav" autoplay loop></audio>
<script>
// Background sound and a movie's sound start with the page, no click.
playing(document.getElementById('music'), document.getElementById('audio'));
var context = new AudioContext();
setTimeout(function() {
  document.getElementById('webaudio').style.background =
      context.state == 'running' && context.currentTime > 0.2 ?
      '#008080' : '#ff0000';
}, 1000);
window.addEventListener('load', function() {
  // The player hides the scroll bars once the document is complete.
  setTimeout(function() {
    var hidden = getComputedStyle(document.documentElement).overflow ==
        'hidden' && getComputedStyle(document.body).overflow == 'hidden';
    document.getElementById('scroll').style.background =
        hidden ? '#0000ff' : '#ff0000';
  }, 500);
  var xhr = new XMLHttpRequest();
  xhr.onload = function() {
    var data = JSON.parse(xhr.responseText);
    document.getElementById('json').style.background = data.colour;
  };
  xhr.onerror = function() {
    document.getElementById('json').style.background = '#ff0000';
  };
  xhr.open('GET', 'data/scenes.json');
  xhr.send();
});
</script></body></html>"""

SECOND = """<!DOCTYPE html><html><head><title>Second</title><style>
html, body { margin: 0; height: 100%; background: #8000ff; }
</style></head><body></body></html>"""

POPUP = """<!DOCTYPE html><html><head><title>Popup window</title><style>
html, body { margin: 0; height: 100%; background: #ffff00; }
#audio { position: absolute; left: 100px; top: 100px; width: 80px;
         height: 80px; }
</style>""" + PLAYING + """</head><body><div id="audio"></div><script>
var music = new Audio('music.wav');
music.loop = true;
playing(music, document.getElementById('audio'));
music.play().catch(function() {
  document.getElementById('audio').style.background = '#ff0000';
});
</script></body></html>"""


class TourTest(SessionTest):
    """One player run; the cases run in name order on the same window."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        s = cls.session
        exe = pack_tour(cls.player, os.path.join(s.work, "tour"), tour_files(
            "Test tour", PAGE, 800, 600, extra={
                "second.html": SECOND,
                "popup.html": POPUP,
                "data/scenes.json": '{"colour": "#008080"}',
                "music.wav": wav(3),
            }))
        # Sound plays from the start: nothing of the sound libraries may
        # land in /dev/shm either.
        cls.proc, cls.shm = s.start_with_own_shm([exe])
        cls.window = s.wait_window("Morva$")

    def tearDown(self):
        pass  # the cases share the one run

    def shot(self):
        return self.session.screenshot(self.window)

    def test_1_window_title_place_and_size(self):
        s = self.session
        self.assertEqual(s.title(self.window), "Test tour  -  Morva")
        self.assertEqual(s.geometry(self.window), (0, 0, 800, 600))

    def test_2_page_shows(self):
        self.assertEqual(
            self.session.wait_pixel(self.window, 400, 300, ORANGE), ORANGE)

    def test_3_work_folder_exists_while_running(self):
        tmp = self.session.tmp
        unpacked = [name for name in os.listdir(tmp)
                    if name.startswith("QZ") and name.endswith(".tmp") and
                    os.path.isfile(os.path.join(tmp, name, "_flash",
                                                "qzviewer.swf"))]
        self.assertEqual(len(unpacked), 1, os.listdir(tmp))

    def test_4_scroll_bars_hidden_and_sibling_json_read(self):
        s = self.session
        self.assertEqual(s.wait_pixel(self.window, 720, 40, BLUE), BLUE)
        self.assertEqual(s.wait_pixel(self.window, 720, 140, TEAL), TEAL)

    def test_4_sound_starts_without_a_click(self):
        # An <audio autoplay> element and a Web Audio context (a movie's
        # sound) play, with no sound device in the test session.
        s = self.session
        self.assertEqual(s.wait_pixel(self.window, 720, 240, TEAL), TEAL)
        self.assertEqual(s.wait_pixel(self.window, 720, 340, TEAL), TEAL)

    def test_5_app_links_do_not_navigate(self):
        s = self.session
        for y, clicked in ((40, GREEN), (140, OLIVE)):  # app:, APP:
            s.click(self.window, 80, y)
            # The click reached the page (its handler set the colour), and
            # the page is still there a moment later.
            self.assertEqual(s.wait_pixel(self.window, 400, 300, clicked),
                             clicked)
            time.sleep(1)
            shot = self.shot()
            self.assertEqual(shot.pixel(400, 300), clicked)
            self.assertEqual(shot.pixel(720, 40), BLUE)

    def test_6_new_windows_open_and_the_player_stays(self):
        s = self.session
        s.click(self.window, 80, 240)  # target="_blank"
        first = s.wait_window(POPUP_TITLE)
        self.assertEqual(s.wait_pixel(first, 10, 10, YELLOW), YELLOW)
        # Sound the page's window starts by script plays there too.
        self.assertEqual(s.wait_pixel(first, 140, 140, TEAL), TEAL)
        # Without a size of its own it is as large as the tour's view.
        self.assertEqual(s.geometry(first)[2:], (800, 600))
        # Closing a page's window leaves the player running.
        s.request_close(first)
        time.sleep(1)
        self.assertIsNone(self.proc.poll())
        self.assertEqual(s.windows(POPUP_TITLE), [])
        self.assertEqual(s.windows("Test tour  -  Morva$"), [self.window])

        s.click(self.window, 80, 340)  # window.open with a size
        sized = s.wait_window(POPUP_TITLE)
        self.assertEqual(s.geometry(sized)[2:], (400, 300))
        # Out of the way of the player's links; it stays open.
        s.x("xdotool", "windowmove", str(sized), "900", "0")

    def test_7_ordinary_link_navigates(self):
        s = self.session
        s.click(self.window, 80, 440)
        self.assertEqual(s.wait_pixel(self.window, 400, 300, PURPLE), PURPLE)

    def test_8_close_removes_everything(self):
        s = self.session
        s.request_close(self.window)
        self.assertEqual(wait_exit(self.proc, 10), 0)
        # The page's remaining window went with the player.
        self.assertEqual(s.windows(POPUP_TITLE), [])
        self.assertEqual(s.leftovers(), [])
        if self.shm:
            self.assertEqual(read(self.shm), b"")
        self.assertEqual(read(self.proc.out_path), b"")
        self.assertEqual(toolkit_complaints(self.proc), [])


if __name__ == "__main__":
    main()
