#!/usr/bin/env python3
"""Writes one archive for bench/scaling into OUTDIR:

  make_scaling.py OUTDIR size MIB     text files of 32 MiB (the last one shorter), MIB in all, deflated
  make_scaling.py OUTDIR count N      N files of about 1 KiB, 100 to a folder, deflated

The archive is OUTDIR/size-MIB.zip or OUTDIR/count-N.zip.

  make_scaling.py describe ARCHIVE     prints the number of entries and the uncompressed MiB The text comes from the same generated
pools as bench/run's corpora, so it compresses like fresh text (about 4x).
"""
import os
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_corpora  # noqa: E402  (the pools of generated text)

MIB = 1 << 20
FILE_MIB = 32


def size_archive(path, total_mib, pool):
    # Level 1 keeps the generation of gigabytes short; the reader's work barely depends on it.
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as archive:
        left, index = total_mib * MIB, 0
        while left > 0:
            size = min(left, FILE_MIB * MIB)
            info = zipfile.ZipInfo("size/part%04d.log" % index, make_corpora.DATE)
            info.compress_type = zipfile.ZIP_DEFLATED
            with archive.open(info, "w", force_zip64=True) as out:
                written = 0
                while written < size:
                    block = pool.block(min(MIB, size - written))
                    out.write(block)
                    written += len(block)
            left -= size
            index += 1


def count_archive(path, count, pool):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as archive:
        for i in range(count):
            info = zipfile.ZipInfo("count/d%04d/f%06d.txt" % (i // 100, i), make_corpora.DATE)
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, pool.block(512 + (i * 37) % 1024))


def main():
    if sys.argv[1] == "describe":
        infos = zipfile.ZipFile(sys.argv[2]).infolist()
        print(len(infos), sum(info.file_size for info in infos) >> 20)
        return
    outdir, kind, amount = sys.argv[1], sys.argv[2], int(sys.argv[3])
    os.makedirs(outdir, exist_ok=True)
    pool = make_corpora.Pool("log", 8 * MIB)
    path = os.path.join(outdir, "%s-%d.zip" % (kind, amount))
    if kind == "size":
        size_archive(path + ".tmp", amount, pool)
    else:
        count_archive(path + ".tmp", amount, pool)
    os.replace(path + ".tmp", path)


if __name__ == "__main__":
    main()
