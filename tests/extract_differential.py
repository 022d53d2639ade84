#!/usr/bin/env python3
"""morva-pack extract against Python's zipfile, on generated archives.

    extract_differential.py MORVA_PACK WORK [--archives N] [--seed S]

Writes N archives (300 by default) with Python's zipfile, Info-ZIP zip and
a raw writer for what those two never write (folder entries without folder
bits, sizes and offsets in central ZIP64 blocks, extra fields that end in
padding), packs each as a tour, and unpacks it with `morva-pack extract` and
with zipfile. The two must give the same files with the same contents and
the same folders, but for the documented rule that a folder entry whose
parent does not exist yet is not made. For archives that Info-ZIP zip wrote
from a folder, each file must also carry the modification time it had there
(dates before 1970 and after 2038 among them). Everything happens below WORK,
which TMPDIR points at; exits 1 on the first archive that differs.
"""

import argparse
import io
import os
import pathlib
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "fuzz"))
from make_corpus import Entry, Unseekable, extra_block, raw_zip, ut_block  # noqa: E402

PREFIX = b"\x7fELF stands in for the player\n"
# 1969-07-20, 1975, 2001, 2038-01-19 (the last signed second), 2050, 2076.
TIMES = [-14182940, 157766400, 1000000000, 2147483647, 2524608000, 3358238400]


def random_tree(rng):
    """(path, data) pairs, and folders that hold nothing."""
    folders = [""]
    for _ in range(rng.randint(0, 5)):
        parent = rng.choice(folders)
        folders.append(parent + rng.choice(["img", "_flash", "a b", "x.y", "deep"]) + "%d/" % len(folders))
    files = {}
    for i in range(rng.randint(1, 12)):
        name = rng.choice(folders) + rng.choice(["f", "page", "Tour name", "v.1"]) + "%d.%s" % (
            i, rng.choice(["html", "jpg", "txt", "swf"]))
        if rng.random() < 0.2:
            name = name.replace("f", "f\u00e9")  # a name in UTF-8
        size = rng.choice([0, 1, 100, 5000, 70000])
        if rng.random() < 0.5:
            data = bytes(rng.getrandbits(8) for _ in range(min(size, 3000))) * (size // 3000 + 1)
        else:
            data = (b"<p>tour %d</p>\n" % i) * (size // 14 + 1)
        files[name] = data[:size]
    empty = [f for f in folders[1:] if not any(n.startswith(f) for n in files)]
    return sorted(files.items()), empty


def by_zipfile(rng, files, empty):
    """zipfile, stored or deflated at any level, folder entries or none,
    data descriptors (to an unseekable stream) or ZIP64 local blocks."""
    streamed = rng.random() < 0.3
    sink = Unseekable() if streamed else io.BytesIO()
    entries = [(n, d) for n, d in files]
    if rng.random() < 0.7:
        entries += [(f, None) for f in empty]
        folders = sorted({n[:i + 1] for n, _ in files for i, c in enumerate(n) if c == "/"})
        entries += [(f, None) for f in folders if rng.random() < 0.5]
    rng.shuffle(entries)
    with zipfile.ZipFile(sink, "w") as z:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time=(2020, 6, 15, 12, 24, 0))
            if data is None:
                info.external_attr = (0o40755 << 16) | 0x10
                z.writestr(info, b"")
                continue
            info.external_attr = rng.choice([0o100644, 0o100444, 0o100755]) << 16
            info.compress_type = rng.choice([zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED])
            level = rng.randint(0, 9)
            if streamed or rng.random() < 0.3:
                info._compresslevel = level
                with z.open(info, "w", force_zip64=rng.random() < 0.5) as f:
                    f.write(data)
            else:
                z.writestr(info, data, compresslevel=level)
    return bytes(sink.data) if streamed else sink.getvalue(), None


def by_infozip(rng, files, empty, scratch):
    """Info-ZIP zip from a folder whose files carry TIMES; ZIP64 blocks in
    the central records with -fz."""
    src = scratch / "src"
    shutil.rmtree(src, ignore_errors=True)
    src.mkdir()
    times = {}
    # zip keeps a UTF-8 name in a block that zipfile does not read, and
    # zipfile would take the name's bytes for code page 437.
    files = [(n.replace("\u00e9", "e"), d) for n, d in files]
    for name, data in files:
        path = src / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        times[name] = rng.choice(TIMES)
        os.utime(path, (times[name], times[name]))
    for folder in empty:
        (src / folder).mkdir(parents=True, exist_ok=True)
    archive = scratch / "infozip.zip"
    if archive.exists():
        archive.unlink()
    args = ["zip", "-q", "-r", "-%d" % rng.randint(0, 9)]
    option = rng.choice([[], ["-fz"], ["-D"], ["-X"]])
    subprocess.run(args + option + [str(archive), "."], cwd=src, check=True)
    # -X leaves out the UT block; the DOS date-time is local time.
    return archive.read_bytes(), None if option == ["-X"] else times


def by_raw_writer(rng, files, empty):
    """What the common writers do not write: Java's folder entries (DOS host,
    attributes 0), central ZIP64 blocks, padded extra fields, UT times."""
    padding = rng.choice([b"", b"\0", b"\xff\xff", b"\0\0\0"])
    entries = []
    folders = sorted({n[:i + 1] for n, _ in files for i, c in enumerate(n) if c == "/"} | set(empty))
    items = [(f, None) for f in folders] + list(files)
    if rng.random() < 0.5:
        rng.shuffle(items)  # orphan folder entries, files before their folders
    for name, data in items:
        kw = {}
        if rng.random() < 0.5:
            t = rng.choice(TIMES)
            kw["local_extra"] = ut_block(1, t - (1 << 32) if t >= 1 << 31 else t) + padding
        if rng.random() < 0.5:
            kw["central_extra"] = extra_block(0x7875, b"\x01\x04\0\0\0\0\x04\0\0\0\0") + padding
        if rng.random() < 0.4:
            kw["central_zip64"] = rng.choice(["sizes", "offset", "all"])
        java = rng.random() < 0.5
        if data is None:
            external = 0 if java else (0o40755 << 16) | 0x10
            entries.append(Entry(name, b"", rng.choice([0, 8]), external=external,
                                 made_by=20 if java else 0x031E, flags=0x800, **kw))
        else:
            external = 0 if java else 0o100644 << 16
            entries.append(Entry(name.encode(), data, rng.choice([0, 8]), external=external,
                                 made_by=20 if java else 0x031E, flags=0x800, **kw))
    return raw_zip(entries), None


def tree(root):
    """Relative folder paths (ending in /) and file paths with contents."""
    folders, files = set(), {}
    for dirpath, dirnames, filenames in os.walk(root):
        rel = os.path.relpath(dirpath, root)
        prefix = "" if rel == "." else rel + "/"
        folders.update(prefix + d + "/" for d in dirnames)
        for f in filenames:
            files[prefix + f] = pathlib.Path(dirpath, f).read_bytes()
    return folders, files


def folders_we_make(archive):
    """The folders morva-pack makes: a file's folders always, a folder
    entry's only when its parent exists by then."""
    made = set()
    with zipfile.ZipFile(io.BytesIO(archive)) as z:
        for info in z.infolist():
            name = info.filename
            parts = name.rstrip("/").split("/")
            ancestors = ["/".join(parts[:i]) + "/" for i in range(1, len(parts))]
            if name.endswith("/"):
                if not ancestors or ancestors[-1] in made:
                    made.add(name)
            else:
                made.update(ancestors)
    return made


def check(morva_pack, archive, times, scratch):
    tour = scratch / "tour.run"
    tour.write_bytes(PREFIX + archive + struct.pack("<I", len(archive)))
    ours, theirs = scratch / "ours", scratch / "theirs"
    for d in (ours, theirs):
        shutil.rmtree(d, ignore_errors=True)
    r = subprocess.run([morva_pack, "extract", str(tour), str(ours)],
                       capture_output=True, text=True)
    if r.returncode != 0:
        return "morva-pack extract failed: " + r.stderr.strip()
    with zipfile.ZipFile(io.BytesIO(archive)) as z:
        z.extractall(theirs)
    our_folders, our_files = tree(ours)
    their_folders, their_files = tree(theirs)
    if our_files.keys() != their_files.keys():
        return "files differ: ours only %s, zipfile's only %s" % (
            sorted(our_files.keys() - their_files.keys()),
            sorted(their_files.keys() - our_files.keys()))
    for name, data in our_files.items():
        if data != their_files[name]:
            return "%s: %d bytes, zipfile gives %d" % (name, len(data), len(their_files[name]))
    expected = folders_we_make(archive)
    if our_folders != expected or not our_folders <= their_folders:
        return "folders differ: ours %s, expected %s, zipfile's %s" % (
            sorted(our_folders), sorted(expected), sorted(their_folders))
    for name, mtime in (times or {}).items():
        got = int((ours / name).stat().st_mtime)
        if got != mtime:
            return "%s: modified at %d, in the folder zipped at %d" % (name, got, mtime)
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("morva_pack")
    parser.add_argument("work")
    parser.add_argument("--archives", type=int, default=300)
    parser.add_argument("--seed", type=int, default=19)
    args = parser.parse_args()
    work = pathlib.Path(args.work).resolve()
    work.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=work) as scratch:
        scratch = pathlib.Path(scratch)
        os.environ["TMPDIR"] = str(scratch / "tmp")
        (scratch / "tmp").mkdir()
        rng = random.Random(args.seed)
        writers = {"zipfile": 0, "infozip": 0, "raw": 0}
        for i in range(args.archives):
            files, empty = random_tree(rng)
            kind = ("zipfile", "infozip", "raw")[i % 3]
            if kind == "zipfile":
                archive, times = by_zipfile(rng, files, empty)
            elif kind == "infozip":
                archive, times = by_infozip(rng, files, empty, scratch)
            else:
                archive, times = by_raw_writer(rng, files, empty)
            problem = check(args.morva_pack, archive, times, scratch)
            if problem is None and os.listdir(scratch / "tmp"):
                problem = "left behind in TMPDIR: %s" % os.listdir(scratch / "tmp")
            if problem:
                kept = work / ("differs-%d.zip" % i)
                kept.write_bytes(archive)
                print("archive %d (%s, kept as %s): %s" % (i, kind, kept, problem))
                print("0 passed, 1 failed")
                return 1
            writers[kind] += 1
        print("%s archives extracted alike" % ", ".join(
            "%d %s" % (n, k) for k, n in writers.items()))
        print("%d passed, 0 failed" % args.archives)
    return 0


if __name__ == "__main__":
    sys.exit(main())
