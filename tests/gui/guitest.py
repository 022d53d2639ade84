"""Shared harness of the GUI tests: a private X server, a private home and
temporary folder, the player under test, and ways to look at its windows.

Every test group runs in a Session. The session starts its own Xvfb (never
the caller's display) and a folder of its own that HOME, the XDG folders and
TMPDIR point into, so that the test can tell exactly what the player left
behind. Only processes the session started itself are ever stopped.
"""

import ctypes
import io
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse
import zipfile

SCREEN = (1280, 1024)

# What a desktop session's runtime folder holds before any program runs:
# the sound server's rendezvous folder (the audio client library creates it
# when it finds none, so a bare folder would show it as new).
RUNTIME_PRESENT = ("pulse",)


def tree(folder):
    """Every path below folder, relative and sorted; folders end in '/'."""
    found = []
    for root, dirs, files in os.walk(folder):
        rel = os.path.relpath(root, folder)
        for d in dirs:
            found.append(os.path.normpath(os.path.join(rel, d)) + "/")
        for f in files:
            found.append(os.path.normpath(os.path.join(rel, f)))
    return sorted(found)


def color(hex_rgb):
    hex_rgb = hex_rgb.lstrip("#")
    return tuple(int(hex_rgb[i:i + 2], 16) for i in (0, 2, 4))


class Image:
    """A screenshot of one window, read from ImageMagick's PPM output."""

    def __init__(self, ppm):
        fields = []
        pos = 0
        while len(fields) < 4:
            while ppm[pos:pos + 1].isspace():
                pos += 1
            if ppm[pos:pos + 1] == b"#":
                pos = ppm.index(b"\n", pos)
                continue
            end = pos
            while not ppm[end:end + 1].isspace():
                end += 1
            fields.append(ppm[pos:end])
            pos = end
        assert fields[0] == b"P6" and fields[3] == b"255", fields
        self.width, self.height = int(fields[1]), int(fields[2])
        self.data = ppm[pos + 1:]

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])


def wav(seconds):
    """A sound of silence, 8 kHz mono 8-bit."""
    n = int(8000 * seconds)
    return (b"RIFF" + (36 + n).to_bytes(4, "little") + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 1, 8000, 8000, 1, 8) + b"data" +
            n.to_bytes(4, "little") + b"\x80" * n)


def tour_files(name, page, width=800, height=600, extra=None):
    """The files of a tour package as tours lay it out: the viewer movie,
    autorun.inf naming the launcher, the launcher with its pop-up call, and
    the tour page (page.html), all in the content folder _flash."""
    launcher = (
        "<html><head><title>%s</title></head><body>\r\n"
        "<a href=\"#\" onclick=\"javascript:window.open('page.html','_blank',"
        "'status=yes,resizable=yes,top=0,left=0,width=%d,height=%d')\">"
        "Start the tour</a>\r\n</body></html>\r\n" % (name, width, height))
    files = {
        "_flash/qzviewer.swf": b"FWS\x09 not a real movie",
        "_flash/autorun.inf":
            b"[autorun] \r\r\nshellexecute=" + name.encode() + b".html",
        "_flash/" + name + ".html": launcher.encode(),
        "_flash/page.html": page.encode() if isinstance(page, str) else page,
    }
    for path, data in (extra or {}).items():
        files["_flash/" + path] = data.encode() if isinstance(data, str) else data
    return files


class _RawNameInfo(zipfile.ZipInfo):
    """An entry whose name is stored as the bytes given, in whatever code
    page, without the UTF-8 flag: what archivers on Windows wrote."""

    def __init__(self, raw_name):
        super().__init__(raw_name.decode("latin-1"))

    def _encodeFilenameFlags(self):
        return self.filename.encode("latin-1"), self.flag_bits


def zip_bytes(files):
    """A ZIP archive of files (name -> bytes); a name given as bytes is
    stored as those bytes."""
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in files.items():
            if isinstance(name, bytes):
                name = _RawNameInfo(name)
                name.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(name, data)
    return buf.getvalue()


def pack_tour(player, out, files):
    """Copies the player to out and appends a ZIP archive of files (name ->
    bytes) and the archive's length as 4 bytes, little-endian."""
    shutil.copyfile(player, out)
    os.chmod(out, 0o755)
    return append_package(out, files)


def append_package(out, files):
    """Appends a ZIP archive of files and its length to the file out."""
    data = zip_bytes(files)
    with open(out, "ab") as f:
        f.write(data)
        f.write(struct.pack("<I", len(data)))
    return out


class _XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class _XSelectionRequestEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("owner", ctypes.c_ulong), ("requestor", ctypes.c_ulong),
                ("selection", ctypes.c_ulong), ("target", ctypes.c_ulong),
                ("property", ctypes.c_ulong), ("time", ctypes.c_ulong)]


class _XSelectionEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("requestor", ctypes.c_ulong), ("selection", ctypes.c_ulong),
                ("target", ctypes.c_ulong), ("property", ctypes.c_ulong),
                ("time", ctypes.c_ulong)]


class _XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("xclient", _XClientMessageEvent),
                ("xselectionrequest", _XSelectionRequestEvent),
                ("xselection", _XSelectionEvent), ("pad", ctypes.c_long * 24)]


# Event types of Xlib.
_SELECTION_REQUEST, _SELECTION_NOTIFY, _CLIENT_MESSAGE = 30, 31, 33


def _xlib():
    """libX11 with the prototypes the harness calls."""
    xlib = ctypes.cdll.LoadLibrary("libX11.so.6")
    p, ul, i = ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int
    for name, restype, argtypes in (
            ("XOpenDisplay", p, [ctypes.c_char_p]),
            ("XCloseDisplay", i, [p]),
            ("XFlush", i, [p]),
            ("XPending", i, [p]),
            ("XNextEvent", i, [p, p]),
            ("XInternAtom", ul, [p, ctypes.c_char_p, i]),
            ("XDefaultRootWindow", ul, [p]),
            ("XCreateSimpleWindow", ul, [p, ul, i, i, ctypes.c_uint,
                                         ctypes.c_uint, ctypes.c_uint, ul,
                                         ul]),
            ("XDestroyWindow", i, [p, ul]),
            ("XSendEvent", i, [p, ul, i, ctypes.c_long, p]),
            ("XSetSelectionOwner", i, [p, ul, ul, ul]),
            ("XChangeProperty", i, [p, ul, ul, ul, i, i, p, i]),
            ("XGetWindowProperty", i, [p, ul, ul, ctypes.c_long,
                                       ctypes.c_long, i, ul, p, p, p, p,
                                       p]),
            ("XFree", i, [p]),
            ("XTranslateCoordinates", i, [p, ul, ul, i, i, p, p, p])):
        getattr(xlib, name).restype = restype
        getattr(xlib, name).argtypes = argtypes
    return xlib


class Session:
    """A private display and a private set of user folders."""

    def __init__(self, name):
        base = os.environ.get("MORVA_GUI_TMP") or tempfile.gettempdir()
        os.makedirs(base, exist_ok=True)
        self.root = tempfile.mkdtemp(prefix=name + "-", dir=base)
        self.home = self._folder("home")
        self.tmp = self._folder("tmp")
        self.runtime = self._folder("runtime")
        for present in RUNTIME_PRESENT:
            os.mkdir(os.path.join(self.runtime, present), 0o700)
        self.work = self._folder("work")  # the test's own files
        self.xdg = {
            "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
            "XDG_CACHE_HOME": os.path.join(self.home, ".cache"),
            "XDG_DATA_HOME": os.path.join(self.home, ".local", "share"),
            "XDG_STATE_HOME": os.path.join(self.home, ".local", "state"),
        }
        self.processes = []
        self.display = self._start_xvfb()

    def _folder(self, name):
        path = os.path.join(self.root, name)
        os.mkdir(path, 0o700)
        return path

    def _start_xvfb(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
             "%dx%dx24" % SCREEN, "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    raise RuntimeError("Xvfb did not start")
                number += chunk
        return ":" + number.decode().strip()

    def env(self, **extra):
        env = {
            "PATH": "/usr/local/bin:/usr/bin:/bin",
            "DISPLAY": self.display,
            "HOME": self.home,
            "TMPDIR": self.tmp,
            "XDG_RUNTIME_DIR": self.runtime,
            "LANG": "C.UTF-8",
        }
        env.update(self.xdg)
        env.update(extra)
        # None unsets a variable.
        return {name: value for name, value in env.items() if value is not None}

    def stop_all(self):
        """Kills what is still running of the processes started here. A
        killed player cannot clean up, so its temporary files go too."""
        killed = False
        for proc in self.processes:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
                killed = True
        if killed:
            for name in os.listdir(self.tmp):
                path = os.path.join(self.tmp, name)
                if os.path.isdir(path):
                    shutil.rmtree(path, ignore_errors=True)
                else:
                    os.remove(path)

    def close(self):
        self.stop_all()
        self.xvfb.terminate()
        self.xvfb.wait()
        if not os.environ.get("MORVA_GUI_KEEP"):
            shutil.rmtree(self.root, ignore_errors=True)

    # The player.

    def start(self, argv, **env):
        """Starts argv in the session; stdout and stderr are kept in files."""
        log = os.path.join(self.work, "log-%d" % len(self.processes))
        out = open(log + ".out", "wb")
        err = open(log + ".err", "wb")
        proc = subprocess.Popen(argv, env=self.env(**env), stdout=out,
                                stderr=err, cwd=self.work)
        proc.out_path, proc.err_path = out.name, err.name
        out.close()
        err.close()
        self.processes.append(proc)
        return proc

    def start_with_own_shm(self, argv, **env):
        """Starts argv as start() does, in a mount namespace of its own with
        an empty /dev/shm, which shared-memory files written anywhere would
        land in; returns (process, file that lists what it left there once
        it has ended). The file is None where the system allows no such
        namespace (argv then runs as start() runs it)."""
        if subprocess.run(["unshare", "-m", "sh", "-c",
                           "mount -t tmpfs none /dev/shm"],
                          capture_output=True).returncode != 0:
            return self.start(argv, **env), None
        listing = os.path.join(self.work, "shm-%d" % len(self.processes))
        script = ('mount -t tmpfs none /dev/shm || exit 99; listing=$1; '
                  'shift; "$@"; rc=$?; ls -A /dev/shm > "$listing"; exit $rc')
        return (self.start(["unshare", "-m", "sh", "-c", script, "sh",
                            listing] + list(argv), **env), listing)

    def leftovers(self):
        """What the runs left in the user's folders and the temporary
        folder, as paths relative to the session root."""
        found = []
        for folder in (self.home, self.tmp):
            found += [os.path.join(os.path.basename(folder), p)
                      for p in tree(folder)]
        runtime = [p for p in tree(self.runtime)
                   if p.rstrip("/") not in RUNTIME_PRESENT]
        return found + ["runtime/" + p for p in runtime]

    # The display.

    def x(self, *args, check=True):
        result = subprocess.run(list(args), env=self.env(),
                                capture_output=True, timeout=20)
        if check and result.returncode != 0:
            raise RuntimeError("%s: %s" % (args, result.stderr.decode()))
        return result.stdout

    def windows(self, name_regex):
        out = self.x("xdotool", "search", "--onlyvisible", "--name",
                     name_regex, check=False)
        return [int(w) for w in out.split()]

    def wait_window(self, name_regex, timeout=15):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = self.windows(name_regex)
            if found:
                return found[0]
            time.sleep(0.1)
        raise AssertionError("no window named /%s/" % name_regex)

    def title(self, window):
        return self.x("xdotool", "getwindowname", str(window)).decode().rstrip(
            "\n")

    def geometry(self, window):
        """(x, y, width, height) of the window's content on the screen."""
        info = {}
        for line in self.x("xwininfo", "-id", str(window)).decode().splitlines():
            key, _, value = line.strip().partition(":")
            info[key] = value.strip()
        return (int(info["Absolute upper-left X"]),
                int(info["Absolute upper-left Y"]),
                int(info["Width"]), int(info["Height"]))

    def screenshot(self, window):
        return Image(self.x("import", "-silent", "-window", str(window),
                            "-depth", "8", "ppm:-"))

    def wait_pixel(self, window, x, y, rgb, timeout=10):
        """Waits until the window shows rgb at (x, y); returns the last
        pixel seen."""
        deadline = time.monotonic() + timeout
        seen = None
        while time.monotonic() < deadline:
            seen = self.screenshot(window).pixel(x, y)
            if seen == rgb:
                return seen
            time.sleep(0.15)
        return seen

    def click(self, window, x, y):
        self.x("xdotool", "mousemove", "--window", str(window), str(x), str(y),
               "click", "1")

    def key(self, window, key):
        # Real (XTEST) key events go where the focus is; with no window
        # manager that is the window under the pointer.
        self.x("xdotool", "mousemove", "--window", str(window), "5", "5")
        self.x("xdotool", "key", key)

    def resize(self, window, width, height):
        self.x("xdotool", "windowsize", str(window), str(width), str(height))

    def request_close(self, window):
        """Sends WM_DELETE_WINDOW, as a window manager's close button does."""
        xlib = _xlib()
        dpy = xlib.XOpenDisplay(self.display.encode())
        if not dpy:
            raise RuntimeError("cannot open " + self.display)
        event = _XEvent()
        event.xclient.type = 33  # ClientMessage
        event.xclient.window = window
        event.xclient.message_type = xlib.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
        event.xclient.format = 32
        event.xclient.data[0] = xlib.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
        xlib.XSendEvent(dpy, window, 0, 0, ctypes.byref(event))
        xlib.XFlush(dpy)
        xlib.XCloseDisplay(dpy)


    def drop_files(self, window, x, y, paths, timeout=10):
        """Drags paths from a file manager of our own and drops them at
        (x, y) of window, the way every X11 desktop drops files (the XDND
        protocol, version 5, offering text/uri-list for a copy). Returns
        whether the window took the drop; raises when it is no drop target
        or stops answering."""
        xlib = _xlib()
        dpy = xlib.XOpenDisplay(self.display.encode())
        if not dpy:
            raise RuntimeError("cannot open " + self.display)
        atom = {name: xlib.XInternAtom(dpy, name.encode(), 0) for name in (
            "XdndAware", "XdndSelection", "XdndEnter", "XdndPosition",
            "XdndStatus", "XdndLeave", "XdndDrop", "XdndFinished",
            "XdndActionCopy", "text/uri-list")}
        root = xlib.XDefaultRootWindow(dpy)
        source = xlib.XCreateSimpleWindow(dpy, root, 0, 0, 1, 1, 0, 0, 0)
        try:
            actual, fmt = ctypes.c_ulong(), ctypes.c_int()
            count, rest = ctypes.c_ulong(), ctypes.c_ulong()
            data = ctypes.c_void_p()
            xlib.XGetWindowProperty(dpy, window, atom["XdndAware"], 0, 1, 0, 0,
                                    ctypes.byref(actual), ctypes.byref(fmt),
                                    ctypes.byref(count), ctypes.byref(rest),
                                    ctypes.byref(data))
            if not count.value:
                raise AssertionError("window %d takes no drops" % window)
            version = min(5, ctypes.cast(data, ctypes.POINTER(
                ctypes.c_ulong))[0])
            xlib.XFree(data)
            rx, ry, child = ctypes.c_int(), ctypes.c_int(), ctypes.c_ulong()
            xlib.XTranslateCoordinates(dpy, window, root, x, y,
                                       ctypes.byref(rx), ctypes.byref(ry),
                                       ctypes.byref(child))
            uri_list = "".join("file://%s\r\n" % urllib.parse.quote(p)
                               for p in paths).encode()
            xlib.XSetSelectionOwner(dpy, atom["XdndSelection"], source, 0)

            def send(kind, *values):
                event = _XEvent()
                event.xclient.type = _CLIENT_MESSAGE
                event.xclient.window = window
                event.xclient.message_type = atom[kind]
                event.xclient.format = 32
                for n, value in enumerate((source,) + values):
                    event.xclient.data[n] = value
                xlib.XSendEvent(dpy, window, 0, 0, ctypes.byref(event))
                xlib.XFlush(dpy)

            def answer(kind):
                """Serves the data until the window's `kind` message comes;
                returns its data."""
                deadline = time.monotonic() + timeout
                event = _XEvent()
                while time.monotonic() < deadline:
                    if not xlib.XPending(dpy):
                        time.sleep(0.01)
                        continue
                    xlib.XNextEvent(dpy, ctypes.byref(event))
                    if (event.type == _CLIENT_MESSAGE and
                            event.xclient.message_type == atom[kind]):
                        return list(event.xclient.data)
                    if event.type == _SELECTION_REQUEST:
                        request = event.xselectionrequest
                        reply = _XEvent()
                        reply.xselection.type = _SELECTION_NOTIFY
                        reply.xselection.requestor = request.requestor
                        reply.xselection.selection = request.selection
                        reply.xselection.target = request.target
                        reply.xselection.time = request.time
                        if request.target == atom["text/uri-list"]:
                            xlib.XChangeProperty(
                                dpy, request.requestor, request.property,
                                request.target, 8, 0, uri_list, len(uri_list))
                            reply.xselection.property = request.property
                        xlib.XSendEvent(dpy, request.requestor, 0, 0,
                                        ctypes.byref(reply))
                        xlib.XFlush(dpy)
                raise AssertionError("no %s from window %d" % (kind, window))

            send("XdndEnter", version << 24, atom["text/uri-list"], 0, 0)
            send("XdndPosition", 0, rx.value << 16 | ry.value, 0,
                 atom["XdndActionCopy"])
            if not answer("XdndStatus")[1] & 1:
                send("XdndLeave", 0)
                return False
            send("XdndDrop", 0, 0)
            return bool(answer("XdndFinished")[1] & 1)
        finally:
            xlib.XDestroyWindow(dpy, source)
            xlib.XCloseDisplay(dpy)


def wait_exit(proc, timeout):
    """Returns the exit code, or None if proc still runs after timeout."""
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return None


def poll(probe, timeout=5, interval=0.1):
    """Calls probe until it returns something true or timeout seconds have
    passed; returns its last result."""
    deadline = time.monotonic() + timeout
    while True:
        result = probe()
        if result or time.monotonic() >= deadline:
            return result
        time.sleep(interval)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def toolkit_complaints(proc):
    """Lines of the player's stderr where GLib, GTK or GDK warn about
    something the player did (not the web process's own notes)."""
    lines = read(proc.err_path).decode("utf-8", "replace").splitlines()
    return [l for l in lines
            if ("-WARNING" in l or "-CRITICAL" in l) and "WebKit" not in l]


class SessionTest(unittest.TestCase):
    """A test group with one session for all its cases."""

    @classmethod
    def setUpClass(cls):
        cls.player = os.environ["MORVA_PLAYER"]
        cls.session = Session(cls.__name__)

    def tearDown(self):
        # A failed case must not leave its windows to the next one.
        self.session.stop_all()

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def assert_closes_quietly(self, proc, window):
        """Closes the window as a user would: the player ends with 0, leaves
        nothing, and neither it nor the toolkit wrote anything."""
        self.session.request_close(window)
        self.assertEqual(wait_exit(proc, 15), 0)
        self.assertEqual(self.session.leftovers(), [])
        self.assertEqual(read(proc.out_path), b"")
        self.assertEqual(toolkit_complaints(proc), [])


def main():
    unittest.main(verbosity=2)


def skip_without_flash_runtime():
    """Exits 77 (skipped) when the player was built without the Flash
    runtime: offline, with nothing cached, its bundle lists no files."""
    listing = os.environ["MORVA_FLASH_BUNDLE_LIST"]
    try:
        with open(listing) as f:
            carried = ">ruffle.js<" in f.read()
    except OSError:
        carried = False
    if not carried:
        print("SKIPPED: the player carries no Flash runtime (%s lists none; "
              "it could not be fetched from the npm registry)" % listing,
              file=sys.stderr)
        sys.exit(77)


def near(seen, rgb, tolerance=24):
    """True when every channel of seen is within tolerance of rgb (lossy
    pictures and scaled drawing are never exact)."""
    return seen is not None and all(
        abs(a - b) <= tolerance for a, b in zip(seen, rgb))


def wait_near(session, window, x, y, rgb, timeout=10, tolerance=24):
    """Waits until the window shows a colour near rgb at (x, y); returns
    the last pixel seen."""
    deadline = time.monotonic() + timeout
    seen = None
    while time.monotonic() < deadline:
        seen = session.screenshot(window).pixel(x, y)
        if near(seen, rgb, tolerance):
            return seen
        time.sleep(0.15)
    return seen
