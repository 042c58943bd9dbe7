#!/usr/bin/env python3
"""Writes examples/sample.zip the way Japanese Windows writes archives: names in CP932 without
the UTF-8 flag, MS-DOS attributes, deflated data. Run it again only to change the sample."""
import os
import struct
import zlib

ENTRIES = [
    ("sample/", None),
    ("sample/はじめに.txt",
     "zipdrop のサンプルです。\nこのフォルダが開いていれば、展開は成功しています。\n"),
    ("sample/写真/", None),
    ("sample/写真/旅行メモ.txt", "京都・奈良 2011年 秋\n"),
    ("sample/データ/", None),
    ("sample/データ/表.csv", "名前,数\nりんご,3\nみかん,5\n"),
]
DOS_TIME, DOS_DATE = (12 << 11) | (34 << 5), ((2011 - 1980) << 9) | (11 << 5) | 3


def entry_records(name, text, offset):
    raw_name = name.encode("cp932")
    data = b"" if text is None else text.encode("utf-8")
    packed = zlib.compress(data, 9)[2:-4] if data else b""  # Raw deflate, no zlib wrapper.
    method = 8 if data else 0
    body = packed if data else b""
    crc = zlib.crc32(data)
    common = struct.pack("<HHHHIII", 0, method, DOS_TIME, DOS_DATE, crc, len(body), len(data))
    local = struct.pack("<IH", 0x04034B50, 20) + common + struct.pack("<HH", len(raw_name), 0)
    attributes = 0x10 if text is None else 0x20
    central = (struct.pack("<IHH", 0x02014B50, 20, 20) + common +
               struct.pack("<HHHHHII", len(raw_name), 0, 0, 0, 0, attributes, offset))
    return local + raw_name + body, central + raw_name


def main():
    archive, directory = b"", b""
    for name, text in ENTRIES:
        local, central = entry_records(name, text, len(archive))
        archive += local
        directory += central
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(ENTRIES), len(ENTRIES),
                      len(directory), len(archive), 0)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sample.zip")
    with open(path, "wb") as out:
        out.write(archive + directory + end)


if __name__ == "__main__":
    main()
