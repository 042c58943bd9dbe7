#!/usr/bin/env python3
"""Writes the benchmark's archives into OUTDIR, scaled by SCALE (1 = full size):

  small.zip   ~10,000 files, ~100 MB, in ~500 nested folders (mostly text, some incompressible)
  large.zip   four large text-like files, ~500 MB in all, deflated
  stored.zip  the same four files, stored without compression
  cp932.zip   ~3,000 files with Japanese names in CP932 without the UTF-8 flag
  tiny.zip    one small file
  one.zip     one 512 MiB text-like file, deflated: a single stream no second core can share
  aes256.zip  one 512 MiB text-like file, stored and encrypted with AES-256 (by 7-Zip)
  deflate64.zip  four text-like files, 256 MiB in all, in Deflate64 (written by 7-Zip, since
              Python cannot), as Windows Explorer writes archives past about 2 GB

Each archive holds one top folder named after it, as archives made by the desktop usually do.
Next to each archive, NAME.manifest lists what a correct extraction holds: "d PATH" for each
folder and "f SHA256 PATH" for each file, names in UTF-8, sorted.

Everything is seeded, so the same SCALE gives the same bytes. Writing text at random line by line
is slow in Python, so each kind of text is generated once into a pool of distinct lines and the
files are cut from it in blocks at random offsets. DEFLATE looks back only 32 KiB, so it cannot
profit from a block having been seen megabytes earlier; the ratio is that of fresh text.
"""
import hashlib
import os
import random
import shutil
import subprocess
import sys
import zipfile

MIB = 1 << 20
DATE = (2024, 3, 1, 12, 34, 56)
rng = random.Random(20240301)


# ---------------------------------------------------------------- text pools

LEVELS = ["INFO"] * 12 + ["DEBUG"] * 6 + ["WARN"] * 2 + ["ERROR"]
COMPONENTS = ["http", "db.pool", "cache", "auth", "scheduler", "mailer", "search.index",
              "billing", "storage", "queue.consumer"]
PATHS = ["/api/v1/users", "/api/v1/orders", "/api/v2/search", "/static/app.js", "/login",
         "/api/v1/invoices", "/healthz", "/api/v1/products"]
MESSAGES = ["request handled path={p}/{n} status={s} bytes={b} ms={ms}",
            "cache miss key=user:{n}:profile ttl={t}",
            "query took {ms} ms rows={r} table={tb}",
            "session {h} refreshed for user {n}",
            "job {h} finished in {ms} ms, {r} items processed",
            "retrying connection to {ip}:5432 attempt={a}",
            "sent {r} messages to queue {tb} batch={h}"]
TABLES = ["orders", "users", "line_items", "events", "audit_log", "payments"]


def log_line(t):
    r, ri, ch = rng.random, rng.randrange, rng.choice
    s = int(t)
    message = ch(MESSAGES).format(
        p=ch(PATHS), n=ri(100000), s=ch((200, 200, 200, 201, 304, 404, 500)), b=ri(50000),
        ms=round(r() * 300, 1), t=ri(3600), r=ri(5000), tb=ch(TABLES), h="%08x" % ri(1 << 32),
        ip="10.0.%d.%d" % (ri(4), ri(255)), a=ri(5))
    return "2024-03-%02d %02d:%02d:%02d.%03d %-5s [%s-%d] %s\n" % (
        1 + s // 86400 % 28, s // 3600 % 24, s // 60 % 60, s % 60, int(t * 1000) % 1000,
        ch(LEVELS), ch(COMPONENTS), ri(16), message)


CITIES = ["Lisbon", "Osaka", "Denver", "Leeds", "Porto", "Kyoto", "Austin", "Bremen", "Turin"]
PRODUCTS = ["widget", "gadget", "bracket", "hinge", "sprocket", "flange", "gasket", "valve"]


def csv_line(n):
    ri, ch = rng.randrange, rng.choice
    return "%d,%s-%04d,%s,%s,%d,%d.%02d,2024-%02d-%02d,%s\n" % (
        n, ch(PRODUCTS), ri(10000), ch(CITIES), ch(("open", "shipped", "paid", "returned")),
        ri(1, 50), ri(1000), ri(100), ri(1, 13), ri(1, 29), ch(("", "gift", "priority", "")))


SYLLABLES = ["ka", "to", "ri", "men", "sa", "lo", "ver", "an", "de", "qui", "por", "est", "ul",
             "na", "tem", "pe", "ro", "sim", "bra", "co", "li", "tur", "mo", "es", "in", "al"]
WORDS = sorted({"".join(rng.choice(SYLLABLES) for _ in range(rng.choice((1, 2, 2, 3, 3, 4))))
                for _ in range(3000)})
COMMON = WORDS[:60]


def prose_line():
    ch = rng.choice
    words = [ch(COMMON) if rng.random() < 0.4 else ch(WORDS) for _ in range(rng.randrange(6, 18))]
    return " ".join(words).capitalize() + rng.choice((".", ".", ".", "?", ",")) + \
        ("\n\n" if rng.random() < 0.1 else "\n")


def make_pool(kind, size):
    lines, total, t = [], 0, 0.0
    if kind == "csv":
        lines.append("id,sku,city,state,quantity,price,date,note\n")
    while total < size:
        if kind == "log":
            t += rng.random() * 0.05
            line = log_line(t)
        elif kind == "csv":
            line = csv_line(len(lines))
        else:
            line = prose_line()
        lines.append(line)
        total += len(line)
    return "".join(lines).encode()


class Pool:
    def __init__(self, kind, size):
        self.data = make_pool(kind, size)

    def block(self, size):
        """size bytes starting at a random line of the pool, wrapping around at its end."""
        start = self.data.find(b"\n", rng.randrange(len(self.data))) + 1
        out = self.data[start:start + size]
        while len(out) < size:
            out += self.data[:size - len(out)]
        return out


# ---------------------------------------------------------------- archives

class Archive:
    """A ZIP being written, with the manifest of what extracting it must give."""

    def __init__(self, path, method, windows=False):
        self.path = path
        self.zip = zipfile.ZipFile(path + ".part", "w", method, allowZip64=True)
        self.windows = windows
        self.manifest = []
        self.folders = set()

    def info(self, name, is_dir):
        info = CP932Info(name, DATE) if self.windows else zipfile.ZipInfo(name, DATE)
        info.compress_type = self.zip.compression
        if self.windows:
            info.create_system = 0
            info.external_attr = 0x10 if is_dir else 0x20
        else:
            info.create_system = 3
            info.external_attr = ((0o40755 if is_dir else 0o100644) << 16) | (0x10 if is_dir else 0)
        return info

    def folder(self, name):
        if name in self.folders:
            return
        parent = name.rsplit("/", 1)[0] if "/" in name else None
        if parent:
            self.folder(parent)
        self.folders.add(name)
        info = self.info(name + "/", True)
        info.compress_type = zipfile.ZIP_STORED
        self.zip.writestr(info, b"")
        self.manifest.append("d " + name)

    def file(self, name, chunks):
        self.folder(name.rsplit("/", 1)[0])
        digest = hashlib.sha256()
        with self.zip.open(self.info(name, False), "w", force_zip64=True) as out:
            for chunk in chunks:
                digest.update(chunk)
                out.write(chunk)
        self.manifest.append("f %s %s" % (digest.hexdigest(), name))

    def close(self):
        self.zip.close()
        os.replace(self.path + ".part", self.path)
        with open(self.path.rsplit(".", 1)[0] + ".manifest", "w", encoding="utf-8") as out:
            # Sorted by bytes, as `LC_ALL=C sort` orders the lists made from the extracted trees.
            for line in sorted(self.manifest, key=lambda l: l.encode()):
                out.write(line + "\n")


class CP932Info(zipfile.ZipInfo):
    """Names in CP932 and no UTF-8 flag, as Japanese Windows writes them."""

    def _encodeFilenameFlags(self):
        return self.filename.encode("cp932"), self.flag_bits & ~0x800


def small_corpus(outdir, scale, pools):
    count = max(20, round(10000 * scale))
    target = 100 * MIB * scale
    archive = Archive(os.path.join(outdir, "small.zip"), zipfile.ZIP_DEFLATED)
    # About 500 folders, 1 to 4 deep, so about 20 files share a folder, as in a source tree.
    folders = []
    for top in ["src", "docs", "assets", "data", "tests", "vendor", "config", "reports"]:
        folders.append(top)
        for a in range(8):
            second = "%s/%s%02d" % (top, rng.choice(("mod", "part", "set")), a)
            folders.append(second)
            for b in range(rng.randrange(7)):
                third = "%s/v%d" % (second, b)
                folders.append(third)
                if rng.random() < 0.2:
                    folders.append(third + "/extra")
    # Log-uniform sizes from 200 B to 64 KiB, scaled so the total is near the target.
    sizes = [int(200 * (64 * 1024 / 200) ** rng.random()) for _ in range(count)]
    factor = target / sum(sizes)
    for i, size in enumerate(sizes):
        size = max(1, int(size * factor))
        folder = rng.choice(folders)
        if rng.random() < 0.15:  # Photos, archives and the like: already compressed.
            name, data = "blob%05d.bin" % i, rng.randbytes(size)
        else:
            kind = rng.choice(list(pools))
            name = "file%05d.%s" % (i, {"log": "log", "csv": "csv", "prose": "txt"}[kind])
            data = pools[kind].block(size)
        archive.file("small/%s/%s" % (folder, name), [data])
    archive.close()


def large_corpora(outdir, scale, pools):
    deflated = Archive(os.path.join(outdir, "large.zip"), zipfile.ZIP_DEFLATED)
    stored = Archive(os.path.join(outdir, "stored.zip"), zipfile.ZIP_STORED)
    plan = [("server.log", "log", 160), ("orders.csv", "csv", 120), ("notes.txt", "prose", 100),
            ("access.log", "log", 120)]
    for name, kind, mib in plan:
        size = int(mib * MIB * scale)
        # One list of blocks for both archives, so both hold the same bytes.
        blocks, left = [], size
        while left > 0:
            n = min(left, rng.randrange(64 * 1024, 1024 * 1024))
            blocks.append(pools[kind].block(n))
            left -= n
        deflated.file("large/" + name, blocks)
        stored.file("stored/" + name, blocks)
    deflated.close()
    stored.close()


JP_FOLDERS = ["資料", "写真", "議事録", "見積書", "報告書", "予定表", "ソフト", "能力評価",
              "経理部", "営業部", "総務", "ﾃﾞｰﾀ", "顧客管理", "社内規程", "表計算"]
JP_WORDS = ["売上", "報告", "会議", "議事録", "見積", "請求書", "予定", "申請書", "表", "ソース",
            "データ", "集計", "旅行", "メモ", "写真", "説明", "資料", "契約書", "ﾊﾞｯｸｱｯﾌﾟ", "案内",
            "連絡", "確認", "変更", "最終版", "修正", "提出用", "社外秘", "機能", "能率"]
JP_EXT = [".txt", ".csv", ".doc", ".xls", ".jpg", ".pdf"]
JP_TEXT = ("本日の会議では、来期の予算と新しい販売計画について話し合いました。"
           "担当者は資料を確認し、修正点を来週までに提出してください。"
           "表の数値は暫定版です。ご不明な点は総務までご連絡ください。")


def is_utf8(data):
    try:
        data.decode("utf-8")
        return True
    except UnicodeDecodeError:
        return False


def jp_name(i, ext):
    words = "_".join(rng.choice(JP_WORDS) for _ in range(rng.randrange(1, 4)))
    name = "%s_%d年度_%04d%s" % (words, 2010 + rng.randrange(15), i, ext)
    # Every name must be CP932 that is not also valid UTF-8, or it would be a UTF-8 name.
    assert not is_utf8(name.encode("cp932"))
    return name


def cp932_corpus(outdir, scale, pools):
    count = max(20, round(3000 * scale))
    archive = Archive(os.path.join(outdir, "cp932.zip"), zipfile.ZIP_DEFLATED, windows=True)
    text = JP_TEXT.encode("cp932")
    # About 150 folders, 1 to 3 deep.
    folders = []
    for top in JP_FOLDERS:
        folders.append(top)
        for sub in rng.sample(JP_FOLDERS, rng.randrange(3, 8)):
            folders.append("%s/%s%d" % (top, sub, rng.randrange(1, 4)))
            if rng.random() < 0.3:
                folders.append("%s/%s%d/%s" % (top, sub, rng.randrange(1, 4), rng.choice(JP_WORDS)))
    for i in range(count):
        folder = rng.choice(folders)
        size = rng.randrange(500, 16 * 1024)
        # A Japanese heading, then ordinary text: sizes and ratios like those of office files.
        data = (text + b"\r\n" + pools[rng.choice(list(pools))].block(size))[:size]
        archive.file("cp932/" + folder + "/" + jp_name(i, rng.choice(JP_EXT)), [data])
    archive.close()


def tiny_corpus(outdir):
    archive = Archive(os.path.join(outdir, "tiny.zip"), zipfile.ZIP_DEFLATED)
    archive.file("tiny/hello.txt", [b"Hello from the benchmark.\n"])
    archive.close()


def mixed_blocks(pools, size):
    """size bytes of the three kinds of text, in blocks of 64 KiB to 1 MiB."""
    left = size
    while left > 0:
        n = min(left, rng.randrange(64 * 1024, 1024 * 1024))
        yield pools[rng.choice(list(pools))].block(n)
        left -= n


def one_corpus(outdir, scale, pools):
    archive = Archive(os.path.join(outdir, "one.zip"), zipfile.ZIP_DEFLATED)
    archive.file("one/everything.log", mixed_blocks(pools, int(512 * MIB * scale)))
    archive.close()


def deflate64_corpus(outdir, scale, pools):
    staging = os.path.join(outdir, "deflate64-staging")
    shutil.rmtree(staging, ignore_errors=True)
    manifest = ["d deflate64"]
    os.makedirs(os.path.join(staging, "deflate64"))
    for name in ("first.log", "second.csv", "third.txt", "fourth.log"):
        digest = hashlib.sha256()
        with open(os.path.join(staging, "deflate64", name), "wb") as out:
            for block in mixed_blocks(pools, int(64 * MIB * scale)):
                digest.update(block)
                out.write(block)
        manifest.append("f %s deflate64/%s" % (digest.hexdigest(), name))
    path = os.path.abspath(os.path.join(outdir, "deflate64.zip"))
    subprocess.run(["7zz", "a", "-tzip", "-mm=Deflate64", "-mmt=2", "-bso0", "-bsp0",
                    path, "deflate64"], cwd=staging, check=True)
    shutil.rmtree(staging)
    with open(os.path.join(outdir, "deflate64.manifest"), "w", encoding="utf-8") as out:
        for line in sorted(manifest, key=lambda l: l.encode()):
            out.write(line + "\n")


# The password the encrypted corpus is made with; bench/run gives it to every tool.
AES_PASSWORD = "bench-password"


def aes256_corpus(outdir, scale, pools):
    """One 512 MiB file, stored and encrypted with AES-256 by 7-Zip: decryption alone is timed."""
    staging = os.path.join(outdir, "aes256-staging")
    shutil.rmtree(staging, ignore_errors=True)
    os.makedirs(os.path.join(staging, "aes256"))
    digest = hashlib.sha256()
    with open(os.path.join(staging, "aes256", "secret.log"), "wb") as out:
        for block in mixed_blocks(pools, int(512 * MIB * scale)):
            digest.update(block)
            out.write(block)
    path = os.path.abspath(os.path.join(outdir, "aes256.zip"))
    subprocess.run(["7zz", "a", "-tzip", "-mx0", "-mem=AES256", "-p" + AES_PASSWORD, "-bso0",
                    "-bsp0", path, "aes256"], cwd=staging, check=True)
    shutil.rmtree(staging)
    with open(os.path.join(outdir, "aes256.manifest"), "w", encoding="utf-8") as out:
        out.write("d aes256\nf %s aes256/secret.log\n" % digest.hexdigest())


def main():
    outdir, scale = sys.argv[1], float(sys.argv[2])
    os.makedirs(outdir, exist_ok=True)
    pool_size = int(min(12 * MIB, max(MIB, 160 * MIB * scale)))
    pools = {kind: Pool(kind, pool_size) for kind in ("log", "csv", "prose")}
    tiny_corpus(outdir)
    cp932_corpus(outdir, scale, pools)
    small_corpus(outdir, scale, pools)
    large_corpora(outdir, scale, pools)
    one_corpus(outdir, scale, pools)
    deflate64_corpus(outdir, scale, pools)
    aes256_corpus(outdir, scale, pools)


if __name__ == "__main__":
    main()
