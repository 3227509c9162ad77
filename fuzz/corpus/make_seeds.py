#!/usr/bin/env python3
"""Writes the seed corpora of irec_fuzz, deflate64_fuzz, decrypt_fuzz, aes_fuzz,
method_fuzz, msgtable_fuzz, exe_fuzz, join_fuzz, comment_fuzz, names_fuzz and ppmd_fuzz, and adds archives to
engine_fuzz and real deflate streams to inflate_fuzz, from the shared corpus
(../shared/corpus beside the work tree), from archives
made here by zip, 7z and Python, and from the message tables built by zm_msgtables.

Usage: fuzz/corpus/make_seeds.py [path-to-zm_msgtables]
Seeds are named by content hash, so running it again adds nothing twice.
"""
import hashlib
import io
import os
import random
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SHARED = os.path.join(os.path.dirname(ROOT), "shared", "corpus")
if not os.path.isdir(SHARED):
    SHARED = "/work/shared/corpus"
MAX_SEED = 64 * 1024


def put(target, data, tag=""):
    if len(data) > MAX_SEED:
        return
    d = os.path.join(HERE, target)
    os.makedirs(d, exist_ok=True)
    name = (tag + "-" if tag else "") + hashlib.sha1(data).hexdigest()[:16]
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def corpus_files():
    out = []
    for dirpath, _, files in os.walk(SHARED):
        for f in sorted(files):
            p = os.path.join(dirpath, f)
            if os.path.getsize(p) <= 4 * 1024 * 1024 and not f.endswith((".md", "LICENSE", "COPYING")):
                out.append(p)
    return sorted(out)


def central_dir(data):
    """The central directory bytes of an archive, or None."""
    i = data.rfind(b"PK\x05\x06")
    if i < 0 or i + 22 > len(data):
        return None
    size, off = struct.unpack_from("<II", data, i + 12)
    if off == 0xFFFFFFFF or size == 0xFFFFFFFF:
        # Zip64: take what lies between the first central header and the trailer.
        j = data.find(b"PK\x01\x02")
        return data[j:i] if j >= 0 else None
    adjust = i - (off + size)
    start = off + max(adjust, 0)
    if start + size > len(data):
        j = data.find(b"PK\x01\x02")
        return data[j:i] if j >= 0 else None
    return data[start:start + size]


def local_entries(data):
    """(method, flags, crc, csize, usize, payload) of each local entry with known sizes."""
    out = []
    pos = 0
    while True:
        pos = data.find(b"PK\x03\x04", pos)
        if pos < 0 or pos + 30 > len(data):
            return out
        (_, _, flags, method, _, _, crc, csize, usize, nlen, xlen) = struct.unpack_from(
            "<IHHHHHIIIHH", data, pos)
        start = pos + 30 + nlen + xlen
        if not flags & 8 and csize != 0xFFFFFFFF and start + csize <= len(data):
            out.append((method, flags, crc, csize, usize, data[start:start + csize]))
        pos += 4


def run(args, cwd):
    subprocess.run(args, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def sample_files(folder, rng):
    os.makedirs(os.path.join(folder, "src", "sub"), exist_ok=True)
    files = {
        "src/text.txt": b"Kwartalne stawki robocizny i materialow.\n" * 300,
        "src/sub/code.c": b"".join(b"int f%d(int x) { return x * %d; }\n" % (i, i) for i in range(400)),
        "src/runs.bin": b"A" * 70000 + b"AB" * 20000 + bytes(range(256)) * 40,
        "src/noise.bin": bytes(rng.getrandbits(8) for _ in range(3000)),
        "src/empty.txt": b"",
        "src/\u0142\u00f3d\u017a.txt": "zażółć gęślą jaźń\n".encode() * 30,
    }
    for name, data in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    # Fixed times, so that the archives (bar random encryption headers) come out the same.
    for dirpath, dirs, names in os.walk(os.path.join(folder, "src")):
        for n in dirs + names:
            os.utime(os.path.join(dirpath, n), (1700000000, 1700000000))
    return files


def generated_archives(rng):
    """Archives made by real tools: name -> bytes."""
    out = {}
    with tempfile.TemporaryDirectory() as tmp:
        files = sample_files(tmp, rng)
        jobs = {
            "zip-plain.zip": ["zip", "-q", "-r", "-X", "{out}", "src"],
            "zip-crypt.zip": ["zip", "-q", "-r", "-P", "pw", "{out}", "src"],
            "zip-store-crypt.zip": ["zip", "-q", "-r", "-0", "-P", "pw", "{out}", "src"],
            "7z-d64.zip": ["7z", "a", "-tzip", "-mm=Deflate64", "-mx=9", "{out}", "src"],
            "7z-d64-fast.zip": ["7z", "a", "-tzip", "-mm=Deflate64", "-mx=1", "{out}", "src"],
            "7z-crypt.zip": ["7z", "a", "-tzip", "-ppw", "-mem=ZipCrypto", "{out}", "src"],
            "7z-d64-crypt.zip": ["7z", "a", "-tzip", "-mm=Deflate64", "-ppw", "-mem=ZipCrypto", "{out}", "src"],
            "7z-bzip2.zip": ["7z", "a", "-tzip", "-mm=BZip2", "{out}", "src"],
            "7z-lzma.zip": ["7z", "a", "-tzip", "-mm=LZMA", "{out}", "src"],
            "7z-aes128.zip": ["7z", "a", "-tzip", "-ppw", "-mem=AES128", "{out}", "src"],
            "7z-aes256-bzip2.zip": ["7z", "a", "-tzip", "-ppw", "-mem=AES256", "-mm=BZip2", "{out}", "src"],
            "zip-bzip2.zip": ["zip", "-q", "-r", "-Z", "bzip2", "{out}", "src"],
        }
        for name, args in jobs.items():
            out_path = os.path.join(tmp, name)
            try:
                run([a.replace("{out}", out_path) for a in args], tmp)
                with open(out_path, "rb") as f:
                    out[name] = f.read()
            except (OSError, subprocess.CalledProcessError):
                print("make_seeds: could not run", args[0], file=sys.stderr)
        # Python: Zip64 records forced, comments, Unicode names, extra fields.
        buf = io.BytesIO()
        with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
            for n, d in files.items():
                info = zipfile.ZipInfo(n, (2024, 5, 6, 7, 8, 10))
                info.comment = b"entry comment"
                info.extra = struct.pack("<HHBI", 0x5455, 5, 1, 1700000000)
                info.compress_type = zipfile.ZIP_DEFLATED
                with z.open(info, "w", force_zip64=True) as w:
                    w.write(d)
            z.comment = b"archive comment"
        out["py-zip64.zip"] = buf.getvalue()
    return out


def irec_seeds(archives):
    tails = [b"", b"new/name.txt", b"\x75\x70\x09\x00\x01\x00\x00\x00\x00abcd"]
    for i, (name, data) in enumerate(sorted(archives.items())):
        cd = central_dir(data)
        if cd:
            put("irec", cd[:16384] + tails[i % len(tails)], "cd")


def deflate64_seeds(archives, rng):
    for name, data in sorted(archives.items()):
        for method, flags, _, _, _, payload in local_entries(data):
            if method == 9 and not flags & 1:
                put("deflate64", b"\x00\x00" + payload, "raw")
                put("deflate64", b"\x02\x07" + payload, "raw-small")
    # Programs: literals, long matches at long distances, stored blocks.
    for k in range(12):
        prog = bytearray()
        for _ in range(rng.randint(3, 20)):
            kind = rng.randrange(4)
            if kind == 0:
                n = rng.randint(1, 64)
                prog += bytes([n - 1]) + bytes(rng.getrandbits(8) for _ in range(n))
            elif kind == 3:
                n = rng.randint(1, 31)
                prog += bytes([0xE0 | n]) + bytes(rng.getrandbits(8) for _ in range(n * 7 + 1))
            else:
                prog += bytes([0x40 if kind == 1 else 0x80]) + struct.pack(
                    "<HH", rng.getrandbits(16), rng.getrandbits(16))
        put("deflate64", bytes([1 | (k & 2), k * 17 & 0xFF]) + bytes(prog), "prog")


def decrypt_seeds(archives, rng):
    # Plain content encrypted by the target: mode byte, 11 header bytes, content.
    texts = [b"", b"x", b"secret payroll data\n" * 40, bytes(range(256)) * 8]
    for i, t in enumerate(texts):
        for mode in (1, 3, 9, 11, 0x93):
            put("decrypt", bytes([mode]) + bytes(rng.getrandbits(8) for _ in range(11)) + t, "plain")
    # Encrypted entries of real archives (password "pw"): CRC, size, data.
    methods = {0: 0, 8: 2, 9: 4}
    for name, data in sorted(archives.items()):
        for method, flags, crc, csize, usize, payload in local_entries(data):
            if flags & 1 and method in methods and csize < 40000:
                mode = methods[method]
                put("decrypt", bytes([mode]) + struct.pack("<II", crc, usize) + payload, "entry")


def aes_seeds(archives, rng):
    # Plain content encrypted by the target: mode byte, content.
    texts = [b"", b"x" * 15, b"secret payroll data\n" * 40, bytes(range(256)) * 8]
    for t in texts:
        for mode in (1, 3, 5, 7, 9, 0x11, 0x19, 0x97):
            put("aes", bytes([mode]) + t + bytes(max(0, 15 - len(t))), "plain")
    # AES entries of real archives (password "pw"): CRC, size, the field, data.
    for name, data in sorted(archives.items()):
        pos = 0
        while True:
            pos = data.find(b"PK\x03\x04", pos)
            if pos < 0 or pos + 30 > len(data):
                break
            (_, _, flags, method, _, _, crc, csize, usize, nlen, xlen) = struct.unpack_from(
                "<IHHHHHIIIHH", data, pos)
            extra = data[pos + 30 + nlen:pos + 30 + nlen + xlen]
            at = extra.find(b"\x01\x99\x07\x00")
            start = pos + 30 + nlen + xlen
            if method == 99 and at >= 0 and csize < 40000 and start + csize <= len(data):
                put("aes", b"\x00" + struct.pack("<II", crc, usize) + extra[at + 4:at + 11] +
                    data[start:start + csize], "entry")
            pos += 4


def method_seeds(archives, rng):
    # Entries of the library-decoded methods: mode (method index, end-marker flag,
    # chunk size), stated size, data.
    index = {12: 0, 14: 1, 95: 2, 93: 3}
    streams = []
    for name, data in sorted(archives.items()):
        for method, flags, crc, csize, usize, payload in local_entries(data):
            if method in index and csize < 60000:
                streams.append((index[method] | (flags & 2) << 1, usize, payload))
    text = b"Kwartalne stawki robocizny.\n" * 200 + bytes(rng.getrandbits(8) for _ in range(300))
    import lzma
    streams.append((2, len(text), lzma.compress(text)))
    streams.append((2, 2 * len(text), lzma.compress(text) + lzma.compress(text, preset=0)))
    try:
        z = subprocess.run(["zstd", "-q", "-c"], input=text, capture_output=True, check=True).stdout
        streams.append((3, len(text), z))
        streams.append((3, 2 * len(text), z + z))
    except (OSError, subprocess.CalledProcessError):
        print("make_seeds: could not run zstd", file=sys.stderr)
    for mode, usize, payload in streams:
        put("method", bytes([mode | rng.choice((0, 8, 0xF8))]) + struct.pack("<I", usize) + payload, "stream")


def engine_seeds(archives):
    for name, data in sorted(archives.items()):
        if len(data) <= 32 * 1024:
            put("engine", data, "arc")


def inflate_seeds(archives):
    # Deflated entries of real archives, whole (flags 0) and in small output chunks.
    n = 0
    for name, data in sorted(archives.items()):
        for method, flags, _, csize, _, payload in local_entries(data):
            if method == 8 and not flags & 1 and 0 < csize <= 16384 and n < 60:
                put("inflate", b"\x00\x00" + payload, "entry")
                put("inflate", b"\x05\x02" + payload, "entry-small")
                n += 1


def msgtable_seeds(tool):
    if not tool or not os.path.exists(tool):
        print("make_seeds: no zm_msgtables, message table seeds skipped", file=sys.stderr)
        return
    msgdir = os.path.join(ROOT, "assets", "messages")
    with tempfile.TemporaryDirectory() as tmp:
        res = os.path.join(tmp, "res.bin")
        run([tool, "resource", os.path.join(msgdir, "blocks.txt"), msgdir,
             os.path.join(msgdir, "US.txt"), res], tmp)
        with open(res, "rb") as f:
            data = f.read()
        eng = os.path.join(tmp, "us.bin")
        run([tool, "block", os.path.join(msgdir, "US.txt"), eng], tmp)
        with open(eng, "rb") as f:
            english = f.read()
    put("msgtable", b"\x00" + data, "resource")
    blocks = []
    pos = 0
    while pos + 8 <= len(data):
        size = struct.unpack_from("<H", data, pos + 2)[0]
        blocks.append(data[pos:pos + 8 + size])
        pos += 8 + size
    for b in blocks[:4] + [english]:
        put("msgtable", b"\x01" + b, "block")
        put("msgtable", b"\x00" + b, "one")
        try:
            table = zlib.decompress(b[12:], -15)
            put("msgtable", b"\x02" + table, "table")
        except zlib.error:
            pass


def pe_image(sections, resource=None, trailer=b""):
    """A small 32-bit PE image; resource = (rva, raw bytes of the resource section)."""
    dos = bytearray(64)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 60, 64)
    nsec = len(sections) + (1 if resource else 0)
    fh = struct.pack("<HHIIIHH", 0x014C, nsec, 0, 0, 0, 224, 0x0102)
    opt = bytearray(224)
    struct.pack_into("<H", opt, 0, 0x10B)
    if resource:
        struct.pack_into("<II", opt, 96 + 2 * 8, resource[0], len(resource[1]))
    headers_end = 64 + 4 + 20 + 224 + 40 * nsec
    raw = (headers_end + 511) // 512 * 512
    shdrs = b""
    body = b""
    for i, data in enumerate(sections + ([resource[1]] if resource else [])):
        rva = resource[0] if resource and i == len(sections) else 0x1000 * (i + 1)
        shdrs += struct.pack("<8sIIIIIIHHI", b".s%d" % i, len(data), rva, len(data), raw + len(body),
                             0, 0, 0, 0, 0x40000040)
        body += data
    img = bytes(dos) + b"PE\0\0" + fh + bytes(opt) + shdrs
    img += b"\0" * (raw - len(img)) + body
    return img + trailer


def icon_resource(rva):
    """Resource tree: type 3 -> id 1 -> language -> data entry with a 40-byte DIB."""
    def d(n):  # directory with n id entries
        return struct.pack("<IIHHHH", 0, 0, 4, 0, 0, n)
    dib = struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 32, 0, 0, 0, 0, 0, 0) + b"\x10" * 64
    tree = d(1) + struct.pack("<II", 3, 0x80000000 | 24)
    tree += d(1) + struct.pack("<II", 1, 0x80000000 | 48)
    tree += d(1) + struct.pack("<II", 0x409, 72)
    tree += struct.pack("<IIII", rva + 88, len(dib), 0, 0) + dib
    return tree


def exe_seeds(rng):
    code = [bytes(rng.getrandbits(8) for _ in range(700))]
    res = icon_resource(0x3000)
    local = b"PK\x03\x04" + b"\0" * 26
    central = b"PK\x01\x02" + b"\0" * 42
    a_trailer = struct.pack("<IHH", 0x01005A44, 16, 0) + b"\0" * 8 + struct.pack("<I", 0x010A5A44) + b"\0" * 4
    names = struct.pack("<III", 0x01145A44, 4, 3) + b"data" + b"zip" + struct.pack("<I", 0x02145A44) + b"\0" * 8
    cases = {
        "bare": pe_image(code),
        "icon": pe_image(code, (0x3000, res)),
        "stub-a": pe_image(code, (0x3000, res), a_trailer + local),
        "stub-a-file": pe_image(code, None, a_trailer + names + central),
        "stub-b": pe_image(code, None, struct.pack("<IHH", 0x0C005A44, 12, 0) + b"\0" * 4 + local),
        "stub-b-central": pe_image(code, None, struct.pack("<IHH", 0x0C005A44, 8, 0) + central),
        "loop": pe_image(code, (0x3000, struct.pack("<IIHHHH", 0, 0, 4, 0, 0, 1)
                                + struct.pack("<II", 3, 0x80000000))),
    }
    for name, data in cases.items():
        put("exe", data, name)
    for p in sorted(os.listdir(os.path.join(HERE, "listing"))):
        if p.endswith(".exe"):
            with open(os.path.join(HERE, "listing", p), "rb") as f:
                put("exe", f.read(), "listing")


def split_set(data, cuts):
    """A one-disk archive rewritten as a split set whose parts start at cuts (offsets into
    data, each at a record boundary or inside entry data): the spanning marker in front,
    disk numbers and offsets within parts in the central and end records."""
    cen = data.rfind(b"PK\x05\x06")
    if cen < 0:
        return None
    cd_size, cd_off = struct.unpack_from("<II", data, cen + 12)
    body = b"PK\x07\x08" + data[:cd_off]
    bounds = [0] + [c + 4 for c in cuts] + [None]

    def where(off):
        off += 4
        disk = max(i for i, b in enumerate(bounds[:-1]) if b <= off)
        return disk, off - bounds[disk]

    cd = bytearray(data[cd_off:cd_off + cd_size])
    p = 0
    while p + 46 <= len(cd) and cd[p:p + 4] == b"PK\x01\x02":
        n, x, c = struct.unpack_from("<HHH", cd, p + 28)
        disk, rel = where(struct.unpack_from("<I", cd, p + 42)[0])
        struct.pack_into("<H", cd, p + 34, disk)
        struct.pack_into("<I", cd, p + 42, rel)
        p += 46 + n + x + c
    last = len(cuts)
    cd_disk, cd_rel = where(cd_off)
    if cd_disk != last:
        return None
    count = struct.unpack_from("<H", data, cen + 10)[0]
    end = struct.pack("<IHHHHIIH", 0x06054B50, last, cd_disk, count, count, cd_size, cd_rel, 0)
    whole = body + bytes(cd) + end
    return [whole[bounds[i]:bounds[i + 1]] for i in range(len(bounds) - 1)]


def join_seeds(archives):
    """join_fuzz: mode byte, two bytes per cut, then the set's bytes."""
    for name, data in sorted(archives.items()):
        if not name.startswith(("zip-plain", "py-zip64")) or len(data) > 48 * 1024:
            continue
        cen = data.rfind(b"PK\x05\x06")
        cd_off = struct.unpack_from("<I", data, cen + 16)[0]
        for nparts in (2, 3):
            cuts = [cd_off * k // nparts for k in range(1, nparts)]
            parts = split_set(data, cuts)
            if not parts:
                continue
            for mode_bits in (0, 4, 8, 16, 24):
                mode = (nparts - 1) | mode_bits
                head = bytes([mode]) + b"".join(struct.pack("<H", len(p)) for p in parts[:-1])
                put("join", head + b"".join(parts), "set%d" % nparts)
        put("join", b"\x08" + data, "one")


def comment_seeds(archives):
    """comment_fuzz: two bytes of comment length, the comment, then the archive."""
    comments = [b"", b"weekly backup", b"line one\nline two\r\n", b"PK\x05\x06" + bytes(18), b"\xff" * 300]
    small = [d for _, d in sorted(archives.items()) if len(d) <= 16 * 1024 and d.rfind(b"PK\x05\x06") >= 0]
    for i, data in enumerate(small[::6]):
        c = comments[i % len(comments)]
        put("comment", struct.pack("<H", len(c)) + c + data)


def names_seeds():
    """names_fuzz: flags/host byte, encoding, code page and OEM code page indexes, name
    length, the stored name, then the extra field."""
    def upath(name, text):
        body = b"\x01" + struct.pack("<I", zlib.crc32(name)) + text
        return struct.pack("<HH", 0x7075, len(body)) + body

    cases = [
        (0, 0, 0, 0, b"docs/readme.txt", b""),
        (1, 0, 0, 0, "zażółć/gęślą.txt".encode(), b""),
        (0, 0, 5, 5, "表示/ファイル.txt".encode("cp932"), b""),
        (0, 1, 5, 5, b"\x95\x5c\\\x95\x5c.txt", b""),
        (0, 2, 0, 3, "zażółć.txt".encode("cp852"), b""),
        (6, 0, 0, 1, b"DOS\\NAME.TXT", b""),
        (1, 0, 0, 0, b"\x01\x02bad", upath(b"\x01\x02bad", "dobry.txt".encode())),
        (0, 4, 0, 0, b"a.txt", upath(b"a.txt", "../../etc/passwd".encode())),
        (0, 0, 0, 0, b"../../etc/passwd", b""),
        (0, 0, 0, 0, b"C:\\Windows\\x", b""),
        (0, 0, 0, 0, b"a/./b//c/", b""),
        (0, 0, 0, 0, b"/abs/path", b""),
        (0, 0, 9, 9, "Привет.txt".encode("cp1251"), b""),
    ]
    for f, enc, cp, oem, name, extra in cases:
        put("names", bytes([f, enc, cp, oem, len(name)]) + name + extra)


def ppmd_seeds(rng):
    """ppmd_fuzz: 7z's PPMd streams of the sample files at several settings, each behind
    the target's four bytes (settings, split, declared size), for both of its modes; the
    settings byte is the stream's head word folded as the target unfolds it."""
    with tempfile.TemporaryDirectory() as tmp:
        files = sample_files(tmp, rng)
        for i, opts in enumerate((["-mo=2"], ["-mo=6", "-mmem=2m"], ["-mo=16"], ["-mx=9", "-mo=16"],
                                  ["-mx=9", "-mo=4", "-mmem=4m"])):
            out = os.path.join(tmp, "p%d.zip" % i)
            run(["7z", "a", "-tzip", "-mm=PPMd", "-mmem=1m"] + opts + [out, "src"], tmp)
            with open(out, "rb") as f:
                for method, _, _, _, usize, payload in local_entries(f.read()):
                    word = payload[0] | payload[1] << 8 if len(payload) > 1 else 0
                    if method != 98 or (word >> 4 & 0xFF) > 3:
                        continue
                    settings = (word & 0x0F) | (word >> 4 & 3) << 4 | (word >> 12 & 1) << 6
                    size = min(usize, 4 * 1024)
                    for mode in (0, 0x80):  # the engine's loop, the model on a small heap
                        put("ppmd", bytes([settings | mode, i * 3, size & 0xFF, size >> 8]) + payload[2:4096], "7z")
    del files


def main():
    rng = random.Random(4053)
    archives = {}
    for p in corpus_files():
        with open(p, "rb") as f:
            archives[os.path.relpath(p, SHARED)] = f.read()
    archives.update(generated_archives(rng))
    irec_seeds(archives)
    engine_seeds(archives)
    inflate_seeds(archives)
    deflate64_seeds(archives, rng)
    decrypt_seeds(archives, rng)
    aes_seeds(archives, rng)
    method_seeds(archives, rng)
    tool = sys.argv[1] if len(sys.argv) > 1 else None
    if not tool:
        for b in ("build/fuzz", "build/default"):
            cand = os.path.join(ROOT, b, "tools", "msgtables", "zm_msgtables")
            if os.path.exists(cand):
                tool = cand
                break
    msgtable_seeds(tool)
    exe_seeds(rng)
    join_seeds(archives)
    comment_seeds(archives)
    names_seeds()
    ppmd_seeds(rng)
    for t in ("irec", "deflate64", "decrypt", "aes", "method", "msgtable", "exe", "engine", "inflate",
              "join", "comment", "names", "ppmd"):
        d = os.path.join(HERE, t)
        print(t, len(os.listdir(d)) if os.path.isdir(d) else 0, "seeds")


if __name__ == "__main__":
    main()
