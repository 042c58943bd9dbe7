#!/usr/bin/env python3
"""Compares zipdrop's extraction with bsdtar's and 7-Zip's on archives that real writers get
wrong, one generated archive per class, and prints the table.

Usage: compat_table.py ZIPDROP_BINARY

Exits with 1 when zipdrop misses a file that bsdtar and 7-Zip both extract with the same content,
except in the archives it refuses on purpose (encryption without a password, links, control
characters in names, data that outgrows its declared size, overlapping entries). Deflate64, which
bsdtar cannot read, is judged against 7-Zip alone.
"""
import hashlib
import lzma
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

BOTH, SEVEN_ZIP, REFUSED = "both peers", "7-Zip alone", "refused on purpose"
TEXT = b"".join(b"line %d of the compatibility table\n" % i for i in range(3000))


def crc(data):
    return zlib.crc32(data) & 0xFFFFFFFF


def deflate(data):
    compressor = zlib.compressobj(6, zlib.DEFLATED, -15)
    return compressor.compress(data) + compressor.flush()


class Entry:
    """One entry; the local and central headers can be given other values field by field."""

    def __init__(self, name, data=b"", method=8, flags=0, mode=0o100644, raw=None):
        self.name = name.encode() if isinstance(name, str) else name
        self.data = data
        self.method = method
        self.flags = flags
        self.mode = mode
        if raw is not None:
            self.raw = raw
        elif method == 8:
            self.raw = deflate(data)
        else:
            self.raw = data
        self.crc = crc(data)
        self.local = {}    # Field overrides for the local header: name, crc, csize, usize, method,
        self.central = {}  # flags, extra; for the central record also offset, disk.
        self.descriptor = False
        self.gap = b""     # Junk written before this entry's local header.


def local_header(e):
    f = dict(name=e.name, crc=e.crc, csize=len(e.raw), usize=len(e.data), method=e.method,
             flags=e.flags, extra=b"")
    f.update(e.local)
    if e.descriptor:
        f.update(crc=0, csize=0, usize=0, flags=f["flags"] | 8)
    return struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, f["flags"], f["method"], 0x6000, 0x5821,
                       f["crc"], f["csize"], f["usize"], len(f["name"]),
                       len(f["extra"])) + f["name"] + f["extra"]


def central_record(e, offset):
    f = dict(name=e.name, crc=e.crc, csize=len(e.raw), usize=len(e.data), method=e.method,
             flags=e.flags | (8 if e.descriptor else 0), extra=b"", offset=offset, disk=0)
    f.update(e.central)
    return struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x031E, 20, f["flags"], f["method"],
                       0x6000, 0x5821, f["crc"], f["csize"], f["usize"], len(f["name"]),
                       len(f["extra"]), 0, f["disk"], 0, e.mode << 16,
                       f["offset"]) + f["name"] + f["extra"]


def build(entries, prefix=b"", comment=b"", end=None):
    """The archive's bytes. `end` overrides fields of the end record: count, size, offset,
    disk, comment_length, signature."""
    out = bytearray(prefix)
    records = []
    for e in entries:
        out += e.gap
        offset = len(out) - len(prefix)
        out += local_header(e) + e.raw
        if e.descriptor:
            out += struct.pack("<IIII", 0x08074B50, e.crc, len(e.raw), len(e.data))
        records.append(central_record(e, offset))
    directory = b"".join(records)
    f = dict(count=len(entries) & 0xFFFF, size=len(directory), offset=len(out) - len(prefix),
             disk=0, comment_length=len(comment), signature=0x06054B50)
    f.update(end or {})
    out += directory
    out += struct.pack("<IHHHHIIH", f["signature"], f["disk"], f["disk"], f["count"],
                       f["count"], f["size"], f["offset"], f["comment_length"]) + comment
    return bytes(out)


def files(folder, extra=()):
    """The usual content: a top folder named after the archive with a few files."""
    entries = [Entry(folder + "/a.txt", TEXT), Entry(folder + "/b.txt", b"short\n", method=0),
               Entry(folder + "/sub/c.txt", TEXT[:5000])]
    return entries + list(extra)


def with_first(folder, change):
    entries = files(folder)
    change(entries[0])
    return build(entries)


def zip64_offset_only(folder):
    entries = files(folder)
    e = entries[1]
    e.central["offset"] = 0xFFFFFFFF
    # The real offset in a zip64 field of its own: the sizes are not saturated, so only the
    # offset is there. Written once the offset is known.
    data = build(entries)
    offset = data.find(local_header(e))
    e.central["extra"] = struct.pack("<HHQ", 1, 8, offset)
    return build(entries)


def by_7zip(work, name, method, password=None):
    source = os.path.join(work, "7z-" + name)
    os.makedirs(os.path.join(source, name, "sub"))
    with open(os.path.join(source, name, "a.txt"), "wb") as f:
        f.write(TEXT * 4)
    with open(os.path.join(source, name, "sub", "c.bin"), "wb") as f:
        f.write(bytes(range(256)) * 50 + b"\0" * 70000 + bytes(range(256)) * 50)
    archive = os.path.join(work, name + ".zip")
    command = ["7zz", "a", "-tzip", "-mm=" + method, archive, name]
    if password:
        command.append("-p" + password)
    subprocess.run(command, cwd=source, check=True, stdout=subprocess.DEVNULL)
    with open(archive, "rb") as f:
        return f.read()


def xz_entry(folder):
    data = TEXT * 3
    return build([Entry(folder + "/x.txt", data, method=95, raw=lzma.compress(data))])


def zstd_entry(folder):
    data = TEXT * 3
    raw = subprocess.run(["zstd", "-q", "-c"], input=data, stdout=subprocess.PIPE,
                         check=True).stdout
    return build([Entry(folder + "/z.txt", data, method=93, raw=raw)])


def wrapped_count(folder):
    entries = [Entry("%s/d%02d/f%05d" % (folder, i % 50, i), b"", method=0) for i in range(66000)]
    return build(entries)


def damaged_end_signature(folder):
    data = bytearray(build(files(folder)))
    data[-22:-18] = b"PK\x05\x07"
    return bytes(data)


def truncated(folder, cut):
    return build(files(folder))[:cut]


def truncated_in_last_entry(folder):
    entries = files(folder)
    data = build(entries)
    return data[:data.find(local_header(entries[2])) + 60]


def overlap_bomb(folder):
    entries = files(folder)
    data = build(entries)
    # A second central record pointing at the first entry's local header.
    first = central_record(entries[0], 0)
    directory_at = struct.unpack("<I", data[-6:-2])[0]
    directory = data[directory_at:-22] + first
    return data[:directory_at] + directory + struct.pack(
        "<IHHHHIIH", 0x06054B50, 0, 0, 4, 4, len(directory), directory_at, 0)


def from_pipe(work, name, streamed):
    """`zip` reading data from a pipe: one entry "-" with the pipe's own mode, FIFO; written to a
    pipe as well, its sizes follow the data."""
    out = "-" if streamed else os.path.join(work, name + ".zip")
    data = subprocess.run(["zip", "-q", out, "-"], input=TEXT, stdout=subprocess.PIPE,
                          check=True).stdout
    if streamed:
        return data
    with open(out, "rb") as f:
        return f.read()


def cases(work):
    """(class, a function of the folder name that makes the archive, who judges zipdrop: both
    peers, 7-Zip alone, or nobody for what zipdrop refuses on purpose)."""
    return [
        ("plain", lambda n: build(files(n)), BOTH),
        ("count too high", lambda n: build(files(n), end={"count": 9}), BOTH),
        ("count too low", lambda n: build(files(n), end={"count": 1}), BOTH),
        ("count wrapped past 65,535", wrapped_count, BOTH),
        ("bytes prepended", lambda n: build(files(n), prefix=b"MZ" + b"\x90" * 4000), BOTH),
        ("directory size off", lambda n: build(files(n), end={"size": 300}), BOTH),
        ("directory offset off", lambda n: build(files(n), end={"offset": 7}), BOTH),
        ("comment length too long",
         lambda n: build(files(n), comment=b"note", end={"comment_length": 400}), BOTH),
        ("comment length too short",
         lambda n: build(files(n), comment=b"a longer note", end={"comment_length": 2}), BOTH),
        ("end record signature damaged", damaged_end_signature, BOTH),
        ("disk numbers set", lambda n: build(files(n), end={"disk": 1}), BOTH),
        ("extra field padding",
         lambda n: with_first(n, lambda e: e.central.update(extra=b"\x00\x00\x00")), BOTH),
        ("extra field length wrong",
         lambda n: with_first(n, lambda e: e.central.update(extra=b"\x55\x54\x20\x00\x01")),
         BOTH),
        ("zip64 extra with the offset only", zip64_offset_only, BOTH),
        ("zip64 extra in the local header only",
         lambda n: with_first(n, lambda e: e.local.update(
             csize=0xFFFFFFFF, usize=0xFFFFFFFF,
             extra=struct.pack("<HHQQ", 1, 16, len(e.data), len(e.raw)))), BOTH),
        ("truncated in the directory", lambda n: truncated(n, -40), BOTH),
        ("truncated in the last entry", truncated_in_last_entry, BOTH),
        ("local sizes differ",
         lambda n: with_first(n, lambda e: e.local.update(csize=5, usize=7)), BOTH),
        ("local CRC differs", lambda n: with_first(n, lambda e: e.local.update(crc=1)), BOTH),
        ("local method differs", lambda n: with_first(n, lambda e: e.local.update(method=0)),
         BOTH),
        ("local name differs",
         lambda n: with_first(n, lambda e: e.local.update(name=b"other.txt")), BOTH),
        ("data descriptor", lambda n: with_first(n, lambda e: setattr(e, "descriptor", True)),
         BOTH),
        ("junk between entries",
         lambda n: build([files(n)[0]] + [setattr(e, "gap", b"junk" * 25) or e
                                          for e in files(n)[1:]]), BOTH),
        ("central compressed size too large",
         lambda n: with_first(n, lambda e: e.central.update(csize=len(e.raw) + 500)), BOTH),
        ("decomposed UTF-8 name",
         lambda n: build(files(n, [Entry(n + "/\u304b\u3099.txt", b"nfd", flags=0x800),
                                   Entry(n + "/zz.txt", b"after")])), BOTH),
        ("UTF-8 flag on CP932 names",
         lambda n: build(files(n, [Entry(n.encode() + b"/\x95\x5c.txt", b"cp932", flags=0x800)])),
         BOTH),
        ("FIFO entry from zip reading a pipe", lambda n: from_pipe(work, n, False), BOTH),
        ("FIFO entry from zip streaming to a pipe", lambda n: from_pipe(work, n, True), BOTH),
        ("device, FIFO and socket modes on files",
         lambda n: build(files(n, [Entry(n + "/fifo", TEXT, mode=0o010644),
                                   Entry(n + "/device", b"dev", method=0, mode=0o020644),
                                   Entry(n + "/socket", b"sock", mode=0o140755),
                                   Entry(n + "/empty-fifo", b"", method=0, mode=0o010644)])),
         BOTH),
        ("central method differs", lambda n: with_first(n, lambda e: e.central.update(method=0)),
         BOTH),
        ("central compressed size too small",
         lambda n: with_first(n, lambda e: e.central.update(csize=100)), BOTH),
        ("central size too large",
         lambda n: with_first(n, lambda e: e.central.update(usize=len(e.data) + 9)), BOTH),
        ("central CRC differs", lambda n: with_first(n, lambda e: e.central.update(crc=1)), BOTH),
        ("central stored sizes run into the next entry",
         lambda n: build([e.central.update(csize=400, usize=400) or e if e.method == 0 else e
                          for e in files(n)]), BOTH),
        # Deleting an entry in place leaves bytes that nothing refers to: here its local header.
        ("gap left by a deleted entry",
         lambda n: build(files(n)[:1] + [setattr(e, "gap", local_header(Entry("gone", TEXT)))
                                         or e for e in files(n)[1:]]), BOTH),
        ("central offset points at no header",
         lambda n: build(files(n)[:2] + [e.central.update(offset=7) or e
                                         for e in files(n)[2:]]), BOTH),
        ("size off by 4 GiB", lambda n: with_first(n, lambda e: e.central.update(
            usize=0xFFFFFFFF, extra=struct.pack("<HHQ", 1, 8, len(e.data) + 2**32))), BOTH),
        ("Deflate64", lambda n: by_7zip(work, n, "Deflate64"), SEVEN_ZIP),
        ("bzip2", lambda n: by_7zip(work, n, "BZip2"), BOTH),
        ("LZMA", lambda n: by_7zip(work, n, "LZMA"), BOTH),
        ("PPMd", lambda n: by_7zip(work, n, "PPMd"), BOTH),
        ("xz", xz_entry, BOTH),
        ("zstd", zstd_entry, BOTH),
        ("encrypted", lambda n: by_7zip(work, n, "Deflate", password="secret"), REFUSED),
        ("symlink",
         lambda n: build(files(n, [Entry(n + "/link", b"/etc/passwd", method=0,
                                         mode=0o120777)])), REFUSED),
        ("control character in a name",
         lambda n: build(files(n, [Entry(n + "/esc\x1b[2J.txt", b"x")])), REFUSED),
        ("data outgrows its size",
         lambda n: with_first(n, lambda e: e.central.update(usize=100)), REFUSED),
        ("overlapping entries", overlap_bomb, REFUSED),
    ]


def tree(folder, skip=()):
    """{relative path: sha256} of the regular files under folder."""
    found = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            relative = os.path.relpath(path, folder)
            if relative in skip or os.path.islink(path) or not os.path.isfile(path):
                continue
            with open(path, "rb") as f:
                found[relative] = hashlib.sha256(f.read()).hexdigest()
    return found


def run(command, env=None):
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env,
                   timeout=600)


def extract_all(zipdrop, archive, work):
    results = {}
    for tool in ("bsdtar", "7-Zip", "zipdrop"):
        out = os.path.join(work, "out-" + tool)
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        if tool == "bsdtar":
            run(["bsdtar", "-xf", archive, "-C", out])
        elif tool == "7-Zip":
            run(["7zz", "x", "-y", "-o" + out, archive])
        else:
            # zipdrop extracts into its own folder and then opens the result: a stand-in opener
            # that does nothing, and an empty $TEMP for its clean-up.
            shutil.copy(zipdrop, os.path.join(out, "zipdrop"))
            fake = os.path.join(work, "bin")
            os.makedirs(fake, exist_ok=True)
            opener = os.path.join(fake, "xdg-open")
            with open(opener, "w") as f:
                f.write("#!/bin/sh\nexit 0\n")
            os.chmod(opener, 0o755)
            temp = os.path.join(work, "temp")
            os.makedirs(temp, exist_ok=True)
            env = {"PATH": fake + ":/usr/bin:/bin", "TEMP": temp, "HOME": work,
                   "LC_ALL": "C.UTF-8"}
            run([os.path.join(out, "zipdrop"), archive], env=env)
        results[tool] = tree(out, skip={"zipdrop"})
        shutil.rmtree(out)
    return results


def main():
    zipdrop = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp(prefix="zipdrop-compat-")
    try:
        return compare(zipdrop, work)
    finally:
        shutil.rmtree(work)


def compare(zipdrop, work):
    failures = []
    print("| class | bsdtar | 7-Zip | zipdrop | both peers | zipdrop misses |")
    print("|---|---:|---:|---:|---:|---|")
    for index, (label, make, judge) in enumerate(cases(work)):
        name = "c%02d" % index
        archive = os.path.join(work, name + ".zip")
        data = make(name)
        with open(archive, "wb") as f:
            f.write(data)
        got = extract_all(zipdrop, archive, work)
        agreed = {p: h for p, h in got["bsdtar"].items() if got["7-Zip"].get(p) == h}
        expected = got["7-Zip"] if judge == SEVEN_ZIP else agreed
        missing = sorted(p for p, h in expected.items() if got["zipdrop"].get(p) != h)
        verdict = judge if judge == REFUSED else (", ".join(missing[:3]) or "none")
        if judge == SEVEN_ZIP and not missing:
            verdict = "none (7-Zip alone reads it)"
        if missing and judge != REFUSED:
            failures.append(label)
        print("| %s | %d | %d | %d | %d | %s |" % (label, len(got["bsdtar"]), len(got["7-Zip"]),
                                                  len(got["zipdrop"]), len(agreed), verdict))
        os.remove(archive)
    if failures:
        print("zipdrop misses what both peers extract: " + "; ".join(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
