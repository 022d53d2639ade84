"""The installed Morva: `cmake --install` into a DESTDIR, and the Debian
package made by CPack, unpacked into a root of its own and run from there.

    install_test.py BUILD_DIR SCRATCH_DIR [InstallTest|PackageTest]

Everything is written below SCRATCH_DIR, in a folder of its own that goes at
the end; TMPDIR points into it.
"""

import gzip
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

BUILD = ""
SCRATCH = ""
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
APP_ID = "org.morva.Morva"
ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)


def run(argv, **kwargs):
    result = subprocess.run(argv, capture_output=True, text=True,
                            timeout=300, **kwargs)
    if result.returncode != 0:
        raise AssertionError("%s exited %d:\n%s%s" % (
            argv, result.returncode, result.stdout, result.stderr))
    return result.stdout


def tree(root):
    """Every file below root, relative and sorted, with its mode."""
    found = {}
    for folder, _, files in os.walk(root):
        for name in files:
            path = os.path.join(folder, name)
            found[os.path.relpath(path, root)] = os.stat(path).st_mode & 0o777
    return dict(sorted(found.items()))


def expected_tree(prefix):
    """What an install puts below prefix ("usr/local", say)."""
    files = {"bin/morva": 0o755, "bin/morva-pack": 0o755}
    for page in ("morva", "morva-pack"):
        files["share/man/man1/%s.1.gz" % page] = 0o644
    for doc in ("copyright", "changelog.gz"):
        files["share/doc/morva/" + doc] = 0o644
    files["share/applications/%s.desktop" % APP_ID] = 0o644
    files["share/metainfo/%s.metainfo.xml" % APP_ID] = 0o644
    for size in ICON_SIZES:
        files["share/icons/hicolor/%dx%d/apps/%s.png" % (size, size,
                                                         APP_ID)] = 0o644
    files["share/icons/hicolor/scalable/apps/%s.svg" % APP_ID] = 0o644
    # The Flash runtime's licences, when the build carries the runtime.
    for licence in ("LICENSE_MIT", "LICENSE_APACHE"):
        if os.path.exists(os.path.join(BUILD, "res", "flash", "files",
                                       licence)):
            files["share/doc/morva/ruffle/" + licence] = 0o644
    return {os.path.join(prefix, k): v for k, v in files.items()}


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", path
    return struct.unpack(">II", head[16:24])


def help_words(text):
    """The options and commands a --help text offers."""
    words = set(re.findall(r"(?<![\w-])(--?[A-Za-z][\w-]*)", text))
    commands = re.search(r"Subcommands:\n((?:  .*\n)+)", text)
    if commands:
        words |= {line.split()[0] for line in commands.group(1).splitlines()}
    return words


def manual(path):
    """The manual page as `man` shows it, in plain text; fails on any
    warning of the formatter."""
    env = dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8", MAN_KEEP_FORMATTING="")
    result = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", path],
                            capture_output=True, text=True, env=env, timeout=60)
    if result.returncode != 0 or result.stderr:
        raise AssertionError("man -l %s: %s" % (path, result.stderr))
    # Bold and underline by overstriking, and hyphens as the formatter
    # writes them.
    text = re.sub(".\b", "", result.stdout)
    return text.replace("\u2010", "-").replace("\u2212", "-")


class Scratch(unittest.TestCase):
    """A test whose files live in one folder of its own below SCRATCH."""

    def setUp(self):
        os.makedirs(SCRATCH, exist_ok=True)
        self.dir = tempfile.mkdtemp(prefix=type(self).__name__ + "-",
                                    dir=SCRATCH)
        self.env = dict(os.environ, TMPDIR=os.path.join(self.dir, "tmp"))
        os.mkdir(self.env["TMPDIR"])

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def check_installed_programs(self, bindir, mandir):
        """The programs run from where they were installed; the packer finds
        the player beside it; the manual pages render without a warning and
        document every option and command --help names."""
        version = run([os.path.join(bindir, "morva"), "--version"],
                      env=self.env)
        self.assertEqual(version, run([os.path.join(BUILD, "morva"),
                                       "--version"]))
        pack = os.path.join(bindir, "morva-pack")
        tour = os.path.join(self.dir, "Sample Tour")
        run([pack, "build", os.path.join(SOURCE, "examples", "sample-tour",
                                         "tour"), "-o", tour, "--page",
             "index.html"], env=self.env)
        with open(tour, "rb") as t, open(os.path.join(bindir, "morva"),
                                         "rb") as player:
            size = os.fstat(player.fileno()).st_size
            self.assertEqual(t.read(size), player.read(),
                             "the tour starts with another player")
        check = run([pack, "check", tour], env=self.env)
        self.assertIn(tour + ": plays intact\n", check)
        self.assertIn("  title           Sample Tour  -  Morva\n", check)
        self.assertEqual(os.listdir(self.env["TMPDIR"]), [])

        for program, subcommands in (("morva", []),
                                     ("morva-pack", ["build", "init",
                                                     "check", "list",
                                                     "extract"])):
            page = manual(os.path.join(mandir, program + ".1.gz"))
            self.assertTrue(page.startswith(program.upper()), page[:80])
            self.assertIn(version.split()[-1], page)
            for args in [[]] + [[c] for c in subcommands]:
                words = help_words(run([os.path.join(bindir, program)] +
                                       args + ["--help"], env=self.env))
                missing = sorted(w for w in words
                                 if not re.search(r"(?<![\w-])%s(?![\w-])" %
                                                  re.escape(w), page))
                self.assertEqual(missing, [], "%s %s --help offers what "
                                 "the manual page lacks" % (program, args))


class InstallTest(Scratch):

    def install(self, prefix, destdir=None):
        """cmake --install with that prefix, below destdir if given."""
        env = dict(self.env)
        if destdir:
            env["DESTDIR"] = destdir
        # The build keeps a record of what was installed from it, for make
        # uninstall; this install is the test's own, not the user's.
        manifest = os.path.join(BUILD, "install_manifest.txt")
        kept = None
        if os.path.exists(manifest):
            with open(manifest, "rb") as f:
                kept = f.read()
        try:
            run(["cmake", "--install", BUILD, "--prefix", prefix], env=env)
        finally:
            if kept is None:
                os.remove(manifest)
            else:
                with open(manifest, "wb") as f:
                    f.write(kept)

    def test_install_tree_desktop_files_and_manual_pages(self):
        # As a package build installs: below DESTDIR, and nothing else.
        root = os.path.join(self.dir, "root")
        self.install("/usr/local", destdir=root)
        self.assertEqual(tree(root), expected_tree("usr/local"))
        # As a user installs into a prefix: the same files, and the MIME
        # cache of its applications folder, which file managers read.
        prefix = os.path.join(self.dir, "prefix")
        self.install(prefix)
        self.assertEqual(tree(prefix), expected_tree("") | {
            "share/applications/mimeinfo.cache": 0o644})

        share = os.path.join(prefix, "share")
        desktop = os.path.join(share, "applications", APP_ID + ".desktop")
        run(["desktop-file-validate", desktop])
        with open(desktop) as f:
            entry = dict(line.split("=", 1) for line in f.read().splitlines()
                         if "=" in line)
        self.assertEqual(entry["Exec"], "morva %f")
        self.assertEqual(entry["Icon"], APP_ID)
        # A tour made for Windows is a file the desktop offers to open with
        # the player, once the prefix is one the desktop reads.
        tour = os.path.join(self.dir, "Tour.exe")
        with open(tour, "wb") as f:
            f.write(b"MZ\x90\x00" + bytes(60) + b"a Windows program")
        desktop_env = dict(self.env, XDG_DATA_DIRS=share + ":/usr/share",
                           XDG_DATA_HOME=os.path.join(self.dir, "data-home"),
                           PATH=os.path.join(prefix, "bin") + ":" +
                           os.environ["PATH"])
        kind = run(["gio", "info", "-a", "standard::content-type", tour],
                   env=desktop_env).split()[-1]
        self.assertIn(kind, entry["MimeType"].split(";"))
        self.assertIn("\t%s.desktop\n" % APP_ID,
                      run(["gio", "mime", kind], env=desktop_env))

        metainfo = os.path.join(share, "metainfo", APP_ID + ".metainfo.xml")
        run(["appstreamcli", "validate", "--no-net", metainfo])
        with open(metainfo) as f:
            meta = f.read()
        self.assertIn("<launchable type=\"desktop-id\">%s.desktop</launchable>"
                      % APP_ID, meta)
        version = run([os.path.join(BUILD, "morva"), "--version"]).split()[-1]
        self.assertRegex(meta, r'<release version="%s" date="\d{4}-\d\d-\d\d"/>'
                         % re.escape(version))

        for size in ICON_SIZES:
            self.assertEqual(png_size(os.path.join(
                share, "icons", "hicolor", "%dx%d" % (size, size), "apps",
                APP_ID + ".png")), (size, size))
        with gzip.open(os.path.join(share, "doc", "morva",
                                    "changelog.gz"), "rt") as f:
            self.assertTrue(f.readline().startswith("morva (%s) " % version))

        self.check_installed_programs(os.path.join(prefix, "bin"),
                                      os.path.join(share, "man", "man1"))


class PackageTest(Scratch):

    def test_package_lintian_clean_and_runs_from_an_unpacked_root(self):
        out = os.path.join(self.dir, "package")
        run(["cpack", "--config", os.path.join(BUILD, "CPackConfig.cmake"),
             "-G", "DEB", "-B", out], env=self.env, cwd=BUILD)
        debs = [n for n in os.listdir(out) if n.endswith(".deb")]
        self.assertEqual(len(debs), 1, debs)
        deb = os.path.join(out, debs[0])
        version = run([os.path.join(BUILD, "morva"), "--version"]).split()[-1]
        arch = run(["dpkg", "--print-architecture"]).strip()
        self.assertEqual(debs[0], "morva_%s_%s.deb" % (version, arch))

        fields = {name: run(["dpkg-deb", "-f", deb, name]).strip()
                  for name in ("Package", "Version", "Depends", "Maintainer",
                               "Description")}
        self.assertEqual(fields["Version"], version)
        # Computed from the programs, not written by hand.
        for library in ("libgtk-3-0", "libwebkit2gtk-4.1-0", "libminizip1",
                        "libre2-", "libc6"):
            self.assertIn(library, fields["Depends"])
        self.assertIn("\n .\n", fields["Description"])

        result = subprocess.run(["lintian", "--fail-on", "error", deb],
                                capture_output=True, text=True, timeout=600)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertNotRegex(result.stdout, r"(?m)^E: ")

        root = os.path.join(self.dir, "root")
        run(["dpkg-deb", "-x", deb, root])
        self.assertEqual(tree(root), expected_tree("usr"))
        for program in ("morva", "morva-pack"):
            sections = run(["readelf", "-S", os.path.join(root, "usr", "bin",
                                                          program)])
            self.assertNotIn(".debug_info", sections, program + " not stripped")
        with open(os.path.join(root, "usr", "share", "doc", "morva",
                               "copyright")) as f:
            copyright_text = f.read()
        self.assertTrue(copyright_text.startswith(
            "Format: https://www.debian.org/doc/packaging-manuals/"
            "copyright-format/1.0/\n"))
        self.check_installed_programs(os.path.join(root, "usr", "bin"),
                                      os.path.join(root, "usr", "share",
                                                   "man", "man1"))


if __name__ == "__main__":
    BUILD, SCRATCH = sys.argv[1], sys.argv[2]
    del sys.argv[1:3]
    unittest.main(verbosity=2)
