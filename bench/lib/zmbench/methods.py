"""The compression methods beyond deflate and AES encryption: zmtool test on one archive
per method, next to the bare library decoding the same streams (method_bench), 7z and
bsdtar (PPMd, decoded by the engine's own code, next to 7z and bsdtar only); and AES-256
over deflate against the same deflate streams without encryption.

zmtool test and method_bench decode on one thread, so they are compared by CPU time
(user and system), which a busy machine disturbs far less than the wall time; the AES
runs (large AES entries are decrypted on a second thread) and the peers, 7z with its
two threads among them, by wall time."""

import json
import os
import struct
import subprocess
import zlib

from . import dataset, measure, report

# A part of the data set, so that the slow encoders (LZMA above all) finish in time.
SUBSET_BYTES = 48 << 20
PASSWORD = "pw"


def subset(manifest, classes=("text", "source", "binary")):
    """Files of the classes, in name order, up to SUBSET_BYTES."""
    out, total = [], 0
    for rel, e in sorted(manifest["files"].items()):
        if rel.split("/")[0] in classes and total + e["size"] <= SUBSET_BYTES:
            out.append(rel)
            total += e["size"]
    return out, total


def _assemble(path, data_root, files, method, compress):
    """A zip archive whose entries hold what compress (a command reading standard input)
    makes of each file: how XZ and Zstandard entries come from the xz and zstd tools."""
    local, central = bytearray(), bytearray()
    for rel in files:
        with open(os.path.join(data_root, rel), "rb") as fh:
            data = fh.read()
        packed = subprocess.run(compress, input=data, stdout=subprocess.PIPE, check=True).stdout
        name = rel.encode()
        head = struct.pack("<HHHHHIIIHH", 20, 0, method, 0, 0x5A21, zlib.crc32(data), len(packed), len(data),
                           len(name), 0)
        central += struct.pack("<IH", 0x02014B50, 0x031E) + head + struct.pack("<HHHII", 0, 0, 0, 0, len(local))
        central += name
        local += struct.pack("<I", 0x04034B50) + head + name + packed
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(files), len(files), len(central), len(local), 0)
    with open(path, "wb") as fh:
        fh.write(local + central + end)


def make_archives(data_root, arch_dir, manifest, log):
    """One archive per method of the subset; rebuilt when the data set changed."""
    files, total = subset(manifest)
    large, large_total = subset(manifest, ("large",))
    deflate = ["7z", "a", "-tzip", "-mm=Deflate", "-mx=5"]
    aes = deflate + ["-mem=AES256", "-p" + PASSWORD]
    plan = {
        "m-bzip2.zip": ["7z", "a", "-tzip", "-mm=BZip2", "-mx=5"],
        "m-lzma.zip": ["7z", "a", "-tzip", "-mm=LZMA", "-mx=5"],
        "m-ppmd.zip": ["7z", "a", "-tzip", "-mm=PPMd", "-mx=5"],
        "m-xz.zip": (95, ["xz", "-c", "-6"]),
        "m-zstd.zip": (93, ["zstd", "-q", "-c", "-3"]),
        "m-deflate.zip": deflate,
        "m-aes256-deflate.zip": aes,
        "m-large-deflate.zip": (large, deflate),
        "m-large-aes256-deflate.zip": (large, aes),
    }
    want = json.dumps({"data": dataset.digest(manifest), "files": files, "large": large, "plan": plan},
                      sort_keys=True)

    def build():
        for name, how in plan.items():
            log(f"method archives: {name}")
            out = os.path.join(arch_dir, name)
            members = files
            if isinstance(how, tuple) and isinstance(how[0], list):
                members, how = how
            if isinstance(how, tuple):
                _assemble(out, data_root, members, *how)
                continue
            listing = os.path.join(arch_dir, "files.txt")
            with open(listing, "w") as fh:
                fh.write("\n".join(members) + "\n")
            subprocess.run(how + [out, "@" + listing], cwd=data_root, check=True, stdout=subprocess.DEVNULL)

    dataset.cached_folder(arch_dir, want, plan, "method archives", build, log)
    labels = {"": f"{total / 1e6:.0f} MB in {len(files)} files",
              "large": f"{large_total / 1e6:.0f} MB in {len(large)} files"}
    return {k: os.path.join(arch_dir, k) for k in plan}, labels


def _row(operation, data, ours, peer, target=None, cpu=False):
    of = measure.median_cpu_seconds if cpu else measure.median_seconds
    o, p = of(ours), of(peer)
    unit = " CPU" if cpu else ""
    return report.Row(operation, data,
                      measure.fmt_error(ours) if ours.error else report.fmt_seconds(o) + unit, peer.name,
                      measure.fmt_error(peer) if peer.error else report.fmt_seconds(p) + unit,
                      p / o if (o and p) else None, target)


def bench(progs, archives, labels, rounds, have, log):
    label = labels[""]
    rows = []
    for method in ("bzip2", "lzma", "xz", "zstd", "ppmd"):
        a = archives[f"m-{method}.zip"]
        tools = [measure.Tool("zmtool test", [progs["zmtool"], "test", "--quiet", a])]
        bare = method != "ppmd"  # no library decodes it: the engine has its own decoder
        if bare:
            tools.append(measure.Tool("bare library (method_bench)", [progs["method_bench"], a]))
        if have("7z"):
            tools.append(measure.Tool("7z t", ["7z", "t", a]))
        if have("bsdtar"):
            tools.append(measure.Tool("bsdtar -xOf", ["sh", "-c", 'exec bsdtar -xOf "$0" > /dev/null', a]))
        log(f"testing {method}")
        measure.run_rounds(tools, rounds, log)
        data = f"m-{method}.zip, {label}"
        if bare:
            rows.append(_row(f"Testing {method}", data, tools[0], tools[1], report.TARGETS["method/bare"], cpu=True))
        rows += [_row(f"Testing {method}", data, tools[0], t) for t in tools[1 + bare:]]
    # Every AES entry costs a key derivation (PBKDF2, 1,000 rounds of HMAC-SHA1), whatever
    # its size: the many entries of the subset show that cost, the large files the
    # decryption and authentication of the data. The target is held against the latter.
    for prefix, what in (("m-", label), ("m-large-", labels["large"])):
        plain, aes = archives[f"{prefix}deflate.zip"], archives[f"{prefix}aes256-deflate.zip"]
        tools = [measure.Tool("zmtool test, AES-256",
                              [progs["zmtool"], "test", "--quiet", "--password", PASSWORD, aes]),
                 measure.Tool("zmtool test, deflate alone", [progs["zmtool"], "test", "--quiet", plain])]
        if have("7z"):
            tools.append(measure.Tool("7z t, AES-256", ["7z", "t", "-p" + PASSWORD, aes]))
        log(f"testing AES-256 over deflate ({os.path.basename(aes)})")
        measure.run_rounds(tools, rounds, log)
        data = f"{os.path.basename(aes)}, {what} (7-Zip's deflate streams, as in {os.path.basename(plain)})"
        target = report.TARGETS["aes/deflate"] if prefix == "m-large-" else None
        rows.append(_row("Testing AES-256, deflated", data, tools[0], tools[1], target))
        rows += [_row("Testing AES-256, deflated", data, tools[0], t) for t in tools[2:]]
    return rows
