#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets.

    make_corpus.py OUT     writes OUT/archive, OUT/unpack, OUT/start_page and
                           OUT/temp_zip, one file per seed

Real archives come from zipfile; the hostile ones, whose headers say things
zipfile would never write, from the small raw writer below. The seeds stay
small: the targets run with a few kilobytes of -max_len.
"""

import io
import os
import pathlib
import struct
import sys
import zipfile
import zlib

HERE = pathlib.Path(__file__).resolve().parent
SAMPLE_TOUR = HERE.parent / "examples" / "sample-tour" / "tour"

DOS_TIME = (12 << 11) | (24 << 5)  # 12:24:00
DOS_DATE = ((2020 - 1980) << 9) | (6 << 5) | 15  # 2020-06-15
UNIX_FILE = 0o100644 << 16
UNIX_DIR = (0o040755 << 16) | 0x10

LAUNCHER = (
    b"<html><body><a href=\"#\" onclick=\"javascript:window.open("
    b"'Sample%20Tour.html','_blank','status=yes,resizable=yes,top=0,left=0,"
    b"width=1024,height=768')\">Start</a></body></html>\r\n"
)
AUTORUN = b"[autorun] \r\r\nshellexecute=Sample Tour Start.html\r\n"


def deflate(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def ut_block(flags, *times):
    payload = bytes([flags]) + b"".join(struct.pack("<i", t) for t in times)
    return b"UT" + struct.pack("<H", len(payload)) + payload


def extra_block(block_id, payload):
    return struct.pack("<HH", block_id, len(payload)) + payload


class Entry:
    """One entry for raw_zip; every header field can be set on its own."""

    def __init__(self, name, data=b"", method=8, **kw):
        self.name = name.encode() if isinstance(name, str) else name
        self.plain = data
        self.method = method
        self.stored = kw.pop("stored", deflate(data) if method == 8 else data)
        self.crc = kw.pop("crc", zlib.crc32(data))
        self.csize = kw.pop("csize", len(self.stored))
        self.usize = kw.pop("usize", len(data))
        self.flags = kw.pop("flags", 0)
        self.external = kw.pop("external", UNIX_FILE)
        self.made_by = kw.pop("made_by", 0x031E)
        self.local_extra = kw.pop("local_extra", b"")
        self.central_extra = kw.pop("central_extra", b"")
        self.local_name = kw.pop("local_name", self.name)
        self.local_method = kw.pop("local_method", method)
        self.local_usize = kw.pop("local_usize", self.usize)
        self.dos = kw.pop("dos", (DOS_DATE, DOS_TIME))
        self.offset = kw.pop("offset", None)  # central record's header offset
        self.descriptor = kw.pop("descriptor", False)
        # Sizes and offset kept in a ZIP64 block of the central record, as
        # streaming writers do: "sizes", "offset" or "all".
        self.central_zip64 = kw.pop("central_zip64", None)
        assert not kw, kw


def raw_zip(entries, prefix=b"", comment=b"", count=None, relative=True,
            extra_central=()):
    """An archive after `prefix`; offsets count from the archive's start
    when relative, else from the first byte (as a self-extractor has them)."""
    out = bytearray(prefix)
    base = len(prefix) if relative else 0
    offsets = []
    for e in entries:
        offsets.append(len(out) - base)
        date, time = e.dos
        crc, csize, usize = e.crc, e.csize, e.local_usize
        if e.descriptor:
            crc = csize = usize = 0
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, e.flags, e.local_method,
                           time, date, crc, csize, usize, len(e.local_name),
                           len(e.local_extra))
        out += e.local_name + e.local_extra + e.stored
        if e.descriptor:
            out += struct.pack("<IIII", 0x08074B50, e.crc, e.csize, e.usize)
    cd_start = len(out) - base
    records = list(zip(entries, offsets)) + list(extra_central)
    for e, offset in records:
        date, time = e.dos
        if e.offset is not None:
            offset = e.offset
        csize, usize, extra = e.csize, e.usize, e.central_extra
        if e.central_zip64:
            moved = b""
            if e.central_zip64 in ("sizes", "all"):
                moved += struct.pack("<QQ", usize, csize)
                csize = usize = 0xFFFFFFFF
            if e.central_zip64 in ("offset", "all"):
                moved += struct.pack("<Q", offset)
                offset = 0xFFFFFFFF
            extra = extra_block(1, moved) + extra
        out += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, e.made_by, 20, e.flags,
                           e.method, time, date, e.crc, csize, usize,
                           len(e.name), len(extra), 0, 0, 0, e.external,
                           offset)
        out += e.name + extra
    cd_size = len(out) - base - cd_start
    n = len(records) if count is None else count
    out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, n, n, cd_size, cd_start,
                       len(comment))
    return bytes(out + comment)


def real_zip(files, prefix=b"", **kw):
    """files: (name, data) pairs; data None makes a folder. Fixed times, so
    the seeds come out the same on every run."""
    buf = io.BytesIO()
    buf.write(prefix)
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED, **kw) as z:
        for name, data in files:
            info = zipfile.ZipInfo(name, date_time=(2020, 6, 15, 12, 24, 0))
            if data is None:
                info.external_attr = UNIX_DIR
                z.writestr(info, b"")
            else:
                info.external_attr = UNIX_FILE
                info.compress_type = zipfile.ZIP_DEFLATED
                z.writestr(info, data)
    return buf.getvalue()


class Unseekable(io.RawIOBase):
    """Makes zipfile write data descriptors (general-purpose bit 3)."""

    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, b):
        self.data += b
        return len(b)


def streamed_zip(files):
    sink = Unseekable()
    with zipfile.ZipFile(sink, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in files:
            info = zipfile.ZipInfo(name, date_time=(2020, 6, 15, 12, 24, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            with z.open(info, "w") as f:
                f.write(data)
    return bytes(sink.data)


def sample_tour_files():
    files = []
    for path in sorted(SAMPLE_TOUR.rglob("*")):
        rel = path.relative_to(SAMPLE_TOUR).as_posix()
        files.append((rel + "/", None) if path.is_dir() else (rel, path.read_bytes()))
    return files


def package(viewer="_flash/qzviewer.swf", folder="_flash"):
    return [
        (folder + "/", None),
        (viewer, b"FWS\x0a fake movie"),
        (folder + "/autorun.inf", AUTORUN),
        (folder + "/Sample Tour Start.html", LAUNCHER),
        (folder + "/Sample Tour.html", b"<html>tour</html>"),
    ]


def archive_seeds():
    s = {}
    s["sample_tour"] = real_zip(sample_tour_files())
    s["package"] = real_zip(package())
    s["package_top_viewer"] = real_zip(package("qzviewer.swf"))
    s["package_deep_viewer"] = real_zip(package("_flash/player/QZViewer.SWF"))
    s["package_two_viewers"] = real_zip(package() + [("b/qzviewer.swf", b"x")])
    s["viewer_dir_entry"] = real_zip([("x/qzviewer.swf/", None), ("x/a.txt", b"a")])
    s["no_viewer"] = real_zip([("readme.txt", b"hello"), ("img/a.jpg", b"\xff\xd8" * 40)])
    s["empty"] = real_zip([])
    s["stored_and_deflated"] = raw_zip([Entry("s.txt", b"stored " * 20, 0),
                                        Entry("d.txt", b"deflated " * 50, 8)])
    s["dirs_only"] = real_zip([("a/", None), ("x/y/", None), ("a/b/", None)])
    s["file_before_dir"] = real_zip([("_flash/a.txt", b"a"), ("_flash/", None)])
    s["nested_without_dirs"] = real_zip([("a/b/c/f.txt", b"deep")])
    s["deep_path"] = real_zip([("/".join(["d"] * 100) + "/f", b"x")])
    for i, name in enumerate(["../evil.txt", "a/../../evil.txt", "/abs/evil.txt",
                              "C:/evil.txt", "c:evil.txt", "a\\..\\..\\evil.txt",
                              "..\\evil.txt", "\\abs.txt", "a/..", "..", ".",
                              "./a.txt", "a//b.txt", ""]):
        s["unsafe_%02d" % i] = raw_zip([Entry("ok.txt", b"ok"), Entry(name, b"evil")])
    s["backslashes"] = raw_zip([Entry("_flash\\qzviewer.swf", b"m"),
                                Entry("dir\\sub\\file.txt", b"f")])
    s["method_12"] = raw_zip([Entry("bz.txt", b"x" * 50, 12, stored=b"BZh91AY&SY" + b"\0" * 20)])
    s["method_12_local_only"] = raw_zip([Entry("m.txt", b"abc", 8, local_method=12)])
    s["method_99_encrypted"] = raw_zip([Entry("aes.txt", b"abc", 99, flags=1)])
    s["encrypted_flag"] = raw_zip([Entry("enc.txt", b"secret", 0, flags=1)])
    s["declared_larger"] = raw_zip([Entry("big.txt", b"short", 0, usize=500, csize=5)])
    s["declared_smaller"] = raw_zip([Entry("small.txt", b"y" * 300, 8, usize=10)])
    s["declared_smaller_stored"] = raw_zip([Entry("small.txt", b"y" * 300, 0, usize=10)])
    s["local_size_differs"] = raw_zip([Entry("l.txt", b"z" * 30, 8, local_usize=31)])
    s["crc_mismatch"] = raw_zip([Entry("crc.txt", b"data", 0, crc=0x12345678)])
    s["local_name_differs"] = raw_zip([Entry("name.txt", b"n", 0, local_name=b"other_name.txt")])
    s["name_300"] = raw_zip([Entry("n" * 300, b"long")])
    s["name_259"] = raw_zip([Entry("n" * 255 + ".txt", b"long")])
    s["name_258"] = raw_zip([Entry("n" * 254 + ".txt", b"long")])
    s["name_nul"] = raw_zip([Entry(b"a\0b.txt", b"nul")])
    s["ut_all_times"] = raw_zip([Entry("t.txt", b"t", local_extra=ut_block(7, 1600000000, 1500000000, 1400000000))])
    s["ut_write_only"] = raw_zip([Entry("t.txt", b"t", local_extra=ut_block(1, 1600000000))])
    s["ut_truncated"] = raw_zip([Entry("t.txt", b"t", local_extra=ut_block(7, 1600000000)[:-1])])
    s["ut_negative"] = raw_zip([Entry("t.txt", b"t", local_extra=ut_block(3, -1, -2147483648))])
    s["ut_after_big_block"] = raw_zip([Entry("t.txt", b"t", local_extra=extra_block(0xCAFE, b"\0" * 300) + ut_block(1, 1234567890))])
    s["extra_short"] = raw_zip([Entry("t.txt", b"t", local_extra=b"UT\x05\x00")])
    s["extra_overrun"] = raw_zip([Entry("t.txt", b"t", local_extra=b"XY\xff\xffUT")])
    s["dos_date_zero"] = raw_zip([Entry("z.txt", b"z", dos=(0, 0))])
    s["dos_date_invalid"] = raw_zip([Entry("z.txt", b"z", dos=(0xFFFF, 0xFFFF))])
    prefix = b"MZ\x90\x00" + bytes(range(256)) * 4
    s["prefix_relative"] = raw_zip([Entry("a.txt", b"behind an exe", local_extra=ut_block(1, 1600000000))], prefix=prefix)
    s["prefix_absolute"] = raw_zip([Entry("a.txt", b"sfx offsets")], prefix=prefix, relative=False)
    s["prefix_zipfile"] = real_zip(package(), prefix=prefix)
    one = Entry("one.txt", b"overlap" * 10)
    s["overlap_same_local"] = raw_zip([one], extra_central=[(Entry("two.txt", b"overlap" * 10), 0)])
    s["overlap_into_data"] = raw_zip([Entry("a.txt", b"a" * 100, 0)], extra_central=[(Entry("b.txt", b"b"), 45)])
    s["data_covers_next_header"] = raw_zip([Entry("a.txt", b"a" * 10, 0, csize=60, usize=60), Entry("b.txt", b"b" * 10, 0)])
    s["offset_past_end"] = raw_zip([Entry("a.txt", b"a", offset=0x7FFFFFFF)])
    s["count_too_high"] = raw_zip([Entry("a.txt", b"a")], count=40)
    s["count_zero"] = raw_zip([Entry("a.txt", b"a")], count=0)
    s["duplicate_names"] = raw_zip([Entry("d.txt", b"first"), Entry("d.txt", b"second!")])
    s["file_then_dir_same_name"] = raw_zip([Entry("x", b"f"), Entry("x/", b"", 0, external=UNIX_DIR), Entry("x/y", b"g")])
    s["dir_then_file_same_name"] = raw_zip([Entry("x/", b"", 0, external=UNIX_DIR), Entry("x", b"f")])
    s["read_only_then_replaced"] = raw_zip([Entry("r.txt", b"ro", external=0x01), Entry("r.txt", b"again")])
    s["attributes"] = raw_zip([Entry("hid.txt", b"h", external=0x22), Entry("sys.txt", b"s", external=0x04),
                               Entry("dirbit", b"", 0, external=0x10), Entry("slash/", b"not a dir", external=UNIX_FILE),
                               Entry("mode0", b"m", external=0o100000 << 16), Entry("dos/", b"", 0, external=0x10, made_by=0)])
    s["data_descriptor"] = streamed_zip([("stream/a.txt", b"streamed " * 30), ("stream/qzviewer.swf", b"m")])
    s["raw_descriptor"] = raw_zip([Entry("dd.txt", b"descriptor " * 9, flags=8, descriptor=True)])
    s["zip64"] = _zip64()
    # What other extractors read: folders without folder bits (Java's
    # writer), central ZIP64 blocks, padded extra fields, UT past 2038 and
    # before 1970 (with the DOS dates zip writes for them).
    s["java_folders"] = raw_zip([Entry("d/", b"", 0, external=0, made_by=20),
                                 Entry("d/qzviewer.swf", b"m", external=0, made_by=20),
                                 Entry("e\\", b"", 8, external=0, made_by=20)])
    s["zip64_central"] = raw_zip([Entry("a.txt", b"a" * 40, central_zip64="all"),
                                  Entry("b.txt", b"b", 0, central_zip64="offset",
                                        central_extra=ut_block(1, 1600000000)),
                                  Entry("c.txt", b"c" * 9, central_zip64="sizes")])
    padded = ut_block(1, 1600000000) + b"\0\0"
    s["extra_padding"] = raw_zip([Entry("p.txt", b"pad", local_extra=padded, central_extra=padded),
                                  Entry("q.txt", b"ff", local_extra=b"\xff", central_extra=b"\xff\xff\xff")])
    dos_2076 = (((2076 - 1980) << 9) | (6 << 5) | 1, 12 << 11)
    s["ut_2076_1969"] = raw_zip([Entry("2076.txt", b"t", dos=dos_2076, local_extra=ut_block(3, -936728896, -936728896)),
                                 Entry("1969.txt", b"t", dos=((1 << 5) | 1, 0), local_extra=ut_block(1, -14182940))])
    s["bomb_1mb"] = raw_zip([Entry("zeros.bin", b"\0" * (1 << 20))])
    s["bomb_6mb_declared_small"] = raw_zip([Entry("zeros.bin", b"\0" * (6 << 20), usize=100)])
    s["bomb_repeated"] = raw_zip([Entry("z.bin", b"\0" * (2 << 20))],
                                 extra_central=[(Entry("z%d.bin" % i, b"\0" * (2 << 20)), 0) for i in range(3)])
    s["many_entries"] = real_zip([("m/%03d.txt" % i, b"%d" % i) for i in range(60)])
    s["comment"] = raw_zip([Entry("c.txt", b"c")], comment=b"PK\x05\x06 comment " * 10)
    sample = s["package"]
    for cut in (10, 30, len(sample) // 2, len(sample) - 30, len(sample) - 1):
        s["truncated_%d" % cut] = sample[:cut]
    s["eocd_only_garbage"] = b"\0" * 100 + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 3, 3, 500, 0, 0)
    return s


def _zip64():
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        info = zipfile.ZipInfo("z64/a.txt", date_time=(2020, 6, 15, 12, 24, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        with z.open(info, "w", force_zip64=True) as f:
            f.write(b"zip64 " * 10)
    return buf.getvalue()


SPLIT = b"\n#launcher#\n"


def start_page_seeds():
    call = (b"javascript:window.open('Tour%20page.html','_blank',"
            b"'status=yes,resizable=yes,top=0,left=0,width=1024,height=768')")
    autoruns = {
        "canonical": b"[autorun] \r\r\nshellexecute=Tour page Start.html",
        "quoted": b"[AutoRun]\nShellExecute = \"Tour page Start.html\"\n",
        "bom_comments": b"\xef\xbb\xbf; comment\n[other]\nshellexecute=no.html\n[autorun]\nshellexecute=Tour page Start.html\n",
        "key_before_section": b"shellexecute=a.html\n[autorun]\n",
        "backslash": b"[autorun]\nshellexecute=sub\\Start.html\n",
        "no_dot": b"[autorun]\nshellexecute=index\n",
        "empty_value": b"[autorun]\nshellexecute=\n",
        "only_suffix": b"[autorun]\nshellexecute=.html\n",
        "two_dots": b"[autorun]\nshellexecute=a.b.html\n",
        "updir": b"[autorun]\nshellexecute=..\\..\\x.html\n",
        "long": b"[autorun]\nshellexecute=" + b"L" * 300 + b".html\n",
        "nul": b"[autorun]\nshellexecute=ab\0c.html\n",
        "utf16": b"\xff\xfe" + "[autorun] \r\r\nshellexecute=Caf\u00e9 Start.html".encode("utf-16-le"),
        "cp1252": b"[autorun]\nshellexecute=Caf\xe9 Start.HTML\n",
    }
    launchers = {
        "plain": call,
        "twice": b"<a onclick=\"" + call + b"\">x</a>\r\n<p>" + call.replace(b"1024", b"800").replace(b"768", b"600") + b"</p>",
        "upper": call.upper(),
        "blanks": b"javascript:window.open('a.html', 'x', 'width=1,height=2')",
        "empty_name": b"javascript:window.open('a.html','','width=1,height=2')",
        "overflow": b"javascript:window.open('a.html','w','width=99999999999,height=2')",
        "digits_give_way": b"javascript:window.open('a.html','w','xwidth=12height=3')",
        "escapes": b"javascript:window.open('A%2520B%27C%20D.html','w','x,width=5,height=6')",
        "split_lines": b"javascript:window.open('a.html',\r\n'w','x,width=\n7,height=8')",
        "ctrl_z": call[:40] + b"\x1a" + call[40:],
        "lone_cr": b"javascript:window.open('a.html','w','\rwidth=1\r,height=2')",
        "nul": call[:30] + b"\0" + call[30:],
        "query": b"javascript:window.open('Tour%20page.html?scene=2#top','_blank','width=1,height=2')",
        "many_widths": b"javascript:window.open('a.html','w','" + b"width=1," * 50 + b"height=2'" + b"height=3" * 10,
    }
    s = {}
    for name, autorun in autoruns.items():
        s["ar_" + name] = autorun + SPLIT + launchers["plain"]
    for name, launcher in launchers.items():
        s["ln_" + name] = autoruns["canonical"] + SPLIT + launcher
    s["no_split"] = autoruns["canonical"]
    return s


def temp_zip_seeds():
    exe = b"\x7fELF" + bytes(range(256)) * 2
    archive = real_zip(package())
    le = lambda n: struct.pack("<I", n)
    return {
        "package": exe + archive + le(len(archive)),
        "no_trailer": exe,
        "zero_trailer": exe + le(0),
        "empty": b"",
        "three_bytes": b"abc",
        "trailer_only": le(0),
        "trailer_too_large": exe + le(0xFFFFFFFF),
        "trailer_whole_file": exe + le(len(exe)),
        "trailer_one_past": exe + le(len(exe) + 1),
        "chunk_exact": b"E" * 7 + b"\xab" * 65536 + le(65536),
        "chunk_plus_one": b"\xcd" * 65537 + le(65537),
    }


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = pathlib.Path(sys.argv[1])
    archives = archive_seeds()
    sets = {
        "archive": archives,
        "unpack": archives,
        "start_page": start_page_seeds(),
        "temp_zip": temp_zip_seeds(),
    }
    for target, seeds in sets.items():
        folder = out / target
        folder.mkdir(parents=True, exist_ok=True)
        for name, data in seeds.items():
            (folder / name).write_bytes(data)
    for target, seeds in sets.items():
        print("%s: %d seeds, largest %d bytes" % (
            target, len(seeds), max(len(d) for d in seeds.values())))


if __name__ == "__main__":
    main()
