"""How listing, testing and extracting grow with the archive: archives of many empty entries
(flat names and names in numbered folders) listed and tested by our zmtool next to unzip,
bsdtar and Python's zipfile, and one entry of 4 GiB extracted next to unzip and bsdtar.
Time and peak memory per tool, a Markdown block for docs/performance.md and, through
matplotlib, pictures of both against the number of entries on log scales."""

import json
import os
import shutil
import struct
import subprocess
import sys
import zipfile

from . import dataset, measure, report

COUNTS = (10_000, 100_000, 1_000_000)
QUICK_COUNTS = (1_000, 10_000)
BIG_ENTRY = 4 << 30
QUICK_BIG_ENTRY = 256 << 20
FOLDERS = 1_000
GENERATOR_VERSION = 1

BEGIN = "<!-- scaling:begin -->"
END = "<!-- scaling:end -->"

_LOCAL = struct.Struct("<IHHHHHIIIHH")
_CENTRAL = struct.Struct("<IHHHHHHIIIHHHHHII")
_DOS_TIME, _DOS_DATE = 0x5A21, 0x5B8A  # 2025-12-10 11:17:02


def flat_name(i, _n):
    return f"x/{i:06d}.txt"


def folder_name(i, n):
    """Entry i of n in one of FOLDERS numbered folders, in order, as a backup of numbered files has."""
    return f"d{i * FOLDERS // n:04d}/f{i:07d}.txt"


LAYOUTS = {"flat": (flat_name, "x/000000.txt"), "folders": (folder_name, "d0000/f0000000.txt")}


def write_archive(path, names):
    """A stored archive of empty entries, written record by record; past 65,535 entries the
    end of the central directory is the 64-bit form (its record and locator)."""
    local, central = bytearray(), bytearray()
    for name in names:
        raw = name.encode("ascii")
        offset = len(local)
        local += _LOCAL.pack(0x04034B50, 10, 0, 0, _DOS_TIME, _DOS_DATE, 0, 0, 0, len(raw), 0)
        local += raw
        central += _CENTRAL.pack(0x02014B50, 0x031E, 10, 0, 0, _DOS_TIME, _DOS_DATE, 0, 0, 0, len(raw), 0, 0, 0,
                                 0, 0o100644 << 16, offset)
        central += raw
    n, cd_size, cd_offset = len(names), len(central), len(local)
    tail = bytearray()
    if n > 0xFFFF:
        z64 = cd_offset + cd_size
        tail += struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 0x031E, 45, 0, 0, n, n, cd_size, cd_offset)
        tail += struct.pack("<IIQI", 0x07064B50, 0, z64, 1)
    count = min(n, 0xFFFF)
    tail += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, cd_size, cd_offset, 0)
    tmp = path + ".part"
    with open(tmp, "wb") as fh:
        fh.write(local)
        fh.write(central)
        fh.write(tail)
    os.replace(tmp, path)


def _stamp_ok(path, want):
    stamp = path + ".stamp"
    return os.path.isfile(path) and os.path.isfile(stamp) and open(stamp).read() == want


def _stamp(path, want):
    with open(path + ".stamp", "w") as fh:
        fh.write(want)


def entry_archive(cache, layout, n, log):
    """The cached archive of n empty entries of the layout; written when missing."""
    path = os.path.join(cache, f"{layout}-{n}.zip")
    want = f"generator {GENERATOR_VERSION}, {layout}, {n}"
    if not _stamp_ok(path, want):
        log(f"scaling: writing {path}")
        name_of = LAYOUTS[layout][0]
        write_archive(path, [name_of(i, n) for i in range(n)])
        _stamp(path, want)
    return path


def big_block(seed, size=16 << 20):
    """A block of the bench data's kinds (prose, source, binary records) that the big entry
    repeats: compressible, but not trivially, since the repeats lie far beyond a deflate window."""
    third = size // 3
    return (dataset.english_text(dataset._rng(seed, "big-text", 0), third)
            + dataset.source_code(dataset._rng(seed, "big-source", 0), third)
            + dataset.record_binary(dataset._rng(seed, "big-records", 0), size - 2 * third))


def big_archive(cache, size, seed, log):
    """The cached Info-ZIP zip -6 archive of one entry of `size` bytes (Zip64 from 4 GiB on);
    the file it is made of is deleted straight after."""
    path = os.path.join(cache, f"big-{size}.zip")
    want = f"generator {GENERATOR_VERSION}, one entry of {size} bytes, seed {seed}"
    if _stamp_ok(path, want):
        return path
    src_dir = os.path.join(cache, f"big-src-{size}")
    shutil.rmtree(src_dir, ignore_errors=True)
    os.makedirs(src_dir)
    src = os.path.join(src_dir, "big.bin")
    block = big_block(seed, min(size, 16 << 20))
    log(f"scaling: writing {size / 2**30:.2f} GiB of repeated {len(block) >> 20} MiB blocks, then zip -6")
    try:
        with open(src, "wb") as fh:
            left = size
            while left:
                part = block[:left]
                fh.write(part)
                left -= len(part)
        if os.path.exists(path):
            os.remove(path)
        subprocess.run(["zip", "-X", "-q", "-6", path + ".part", "big.bin"], cwd=src_dir, check=True)
    finally:
        shutil.rmtree(src_dir, ignore_errors=True)
    os.replace(path + ".part", path)
    with zipfile.ZipFile(path) as z:
        info = z.infolist()
    if len(info) != 1 or info[0].file_size != size or info[0].compress_type != zipfile.ZIP_DEFLATED:
        raise SystemExit(f"bench/run: {path} does not hold one deflated entry of {size} bytes")
    if size > 0xFFFFFFFF and not _has_zip64_field(info[0].extra):
        raise SystemExit(f"bench/run: the entry of {path} has no Zip64 field")
    _stamp(path, want)
    return path


def _has_zip64_field(extra):
    pos = 0
    while pos + 4 <= len(extra):
        tag, size = struct.unpack_from("<HH", extra, pos)
        if tag == 0x0001:
            return True
        pos += 4 + size
    return False


_PY_LIST = "import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1]) as z:\n    print('\\n'.join(z.namelist()))"
_PY_TEST = ("import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1]) as z:\n    bad = z.testzip()\n"
            "sys.exit(f'bad entry {bad}' if bad else 0)")

# (operation, tool, command with {a} for the archive, program it needs)
TOOLS = {
    "Listing": [("zmtool list", ["{zmtool}", "list", "{a}"], None),
                ("unzip -Z1", ["unzip", "-Z1", "{a}"], "unzip"),
                ("bsdtar -tf", ["bsdtar", "-tf", "{a}"], "bsdtar"),
                ("Python zipfile namelist()", [sys.executable, "-c", _PY_LIST, "{a}"], None)],
    "Testing": [("zmtool test", ["{zmtool}", "test", "--quiet", "{a}"], None),
                ("unzip -t", ["unzip", "-t", "-q", "{a}"], "unzip"),
                ("bsdtar -xOf", ["bsdtar", "-xOf", "{a}"], "bsdtar"),
                ("Python zipfile testzip()", [sys.executable, "-c", _PY_TEST, "{a}"], None)],
}


def _present(cands):
    return [(n, c) for n, c, need in cands if need is None or shutil.which(need)]


def bench_entries(progs, counts, rounds, cache, log):
    """{(operation, layout): {n: {tool: (seconds, MiB) or error text}}}."""
    out = {}
    for layout in LAYOUTS:
        for n in counts:
            archive = entry_archive(cache, layout, n, log)
            for op, cands in TOOLS.items():
                tools = [measure.Tool(name, [a.replace("{zmtool}", progs["zmtool"]).replace("{a}", archive)
                                             for a in cmd]) for name, cmd in _present(cands)]
                log(f"scaling: {op.lower()}, {layout}, {n} entries")
                measure.run_rounds(tools, rounds, log)
                out.setdefault((op, layout), {})[n] = {
                    t.name: measure.fmt_error(t) if t.error else (measure.median_seconds(t), measure.median_rss_mib(t))
                    for t in tools}
    return out


def bench_big(progs, archive, size, work, rounds, log):
    """{tool: (seconds, MiB) or error text} of extracting the big entry; each run writes into a
    folder of its own, checked and deleted straight after the run."""
    cands = [("zmtool extract", [progs["zmtool"], "extract", "-o", "--quiet", archive, "{dest}"], None),
             ("unzip -o -q", ["unzip", "-o", "-q", archive, "-d", "{dest}"], "unzip"),
             ("bsdtar -xf", ["bsdtar", "-xf", archive, "-C", "{dest}"], "bsdtar")]
    dest = os.path.join(work, "big-out")

    def tool(name, argv):
        t = measure.Tool(name, [a.replace("{dest}", dest) for a in argv])

        def prepare(_r):
            shutil.rmtree(dest, ignore_errors=True)
            os.makedirs(dest)
            os.sync()

        def check(_r):
            try:
                got = os.path.getsize(os.path.join(dest, "big.bin"))
            except OSError:
                got = None
            shutil.rmtree(dest, ignore_errors=True)
            return None if got == size else f"wrote {got} bytes, not {size}"

        t.prepare, t.check = prepare, check
        return t

    tools = [tool(n, c) for n, c in _present(cands)]
    log(f"scaling: extracting one entry of {size / 2**30:.2f} GiB")
    measure.run_rounds(tools, rounds, log)
    shutil.rmtree(dest, ignore_errors=True)
    return {t.name: measure.fmt_error(t) if t.error else (measure.median_seconds(t), measure.median_rss_mib(t))
            for t in tools}


# ---------------------------------------------------------------- report

def _cell(v):
    return v if isinstance(v, str) else f"{report.fmt_seconds(v[0])}, {report.fmt_mib(v[1])}"


def entry_tables(results):
    """One Markdown table per operation: a row per layout and count, a column per tool."""
    lines = []
    for op in TOOLS:
        keys = [k for k in results if k[0] == op]
        if not keys:
            continue
        tools = list(next(iter(results[keys[0]].values())))
        lines += [f"| {op} | Entries | " + " | ".join(tools) + " |", "|---|---:|" + "---:|" * len(tools)]
        for key in keys:
            for n, per in results[key].items():
                lines.append(f"| {key[1]} | {n:,} | " + " | ".join(_cell(per.get(t, "—")) for t in tools) + " |")
        lines.append("")
    return lines


# Peak memory our listing and testing of the largest archives may take.
MEMORY_BOUNDS_MIB = {"Listing": ("zmtool list", 100.0), "Testing": ("zmtool test", 150.0)}


def listing_rows(results):
    """Our listing of the largest archives against unzip -Z1, held against the listing target,
    and the peak memory of our listing and testing against their bounds (the ratio is our
    figure over the bound)."""
    rows = []
    for (op, layout), per_n in results.items():
        n = max(per_n)
        data = f"{n:,} empty entries, {layout} ({LAYOUTS[layout][1]})"
        tool, bound = MEMORY_BOUNDS_MIB[op]
        ours = per_n[n].get(tool)
        if ours is not None:
            ratio = None if isinstance(ours, str) else ours[1] / bound
            rows.append(report.Row(f"Peak memory of {op.lower()}", data, _cell(ours), "bound",
                                   f"{bound:.1f} MiB", ratio, report.TARGETS["memory/bound"]))
        peer = per_n[n].get("unzip -Z1")
        if op != "Listing" or peer is None:
            continue
        ratio = peer[0] / ours[0] if not isinstance(ours, str) and not isinstance(peer, str) and ours[0] else None
        rows.append(report.Row("Listing", data, _cell(ours), "unzip -Z1", _cell(peer), ratio,
                               report.TARGETS["listing/unzip"]))
    return rows


def big_table(big, size):
    lines = [f"| Extracting one entry of {size / 2**30:g} GiB | Time | Peak memory | MB/s written |",
             "|---|---:|---:|---:|"]
    for name, v in big.items():
        if isinstance(v, str):
            lines.append(f"| {name} | {v} | — | — |")
        else:
            lines.append(f"| {name} | {report.fmt_seconds(v[0])} | {report.fmt_mib(v[1])} | "
                         f"{report.fmt_mbps(size / 1e6 / v[0] if v[0] else None)} |")
    return lines + [""]


SYSTEM_PYTHON = "/usr/bin/python3"  # where the distribution's python3-matplotlib lives


def plot(results, img_dir):
    """docs/img/scaling-<operation>.png: time and peak memory against the number of entries,
    flat and foldered names side by side, one line per tool, log scales. Drawn by the system's
    Python when this interpreter has no matplotlib. Returns the file names, or None."""
    try:
        import matplotlib
    except ImportError:
        if not os.access(SYSTEM_PYTHON, os.X_OK) or os.path.realpath(sys.executable) == SYSTEM_PYTHON:
            return None
        flat = [[op, layout, n, per] for (op, layout), per_n in results.items() for n, per in per_n.items()]
        env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                   PYTHONDONTWRITEBYTECODE="1")
        r = subprocess.run([SYSTEM_PYTHON, "-m", "zmbench.scaling", img_dir], input=json.dumps(flat), text=True,
                           stdout=subprocess.PIPE, env=env)
        return json.loads(r.stdout) if r.returncode == 0 else None
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.ticker import FuncFormatter, LogLocator, NullFormatter
    os.makedirs(img_dir, exist_ok=True)
    names = []
    plain = FuncFormatter(lambda v, _pos: f"{v:,.0f}" if v >= 1 else f"{v:g}")
    for op in TOOLS:
        layouts = [k[1] for k in results if k[0] == op]
        if not layouts:
            continue
        fig, axes = plt.subplots(2, len(layouts), figsize=(5.2 * len(layouts), 7.5), squeeze=False, sharey="row")
        for col, layout in enumerate(layouts):
            per_n = results[(op, layout)]
            for colour, tool in enumerate(next(iter(per_n.values()))):
                pts = [(n, v[tool]) for n, v in per_n.items() if not isinstance(v.get(tool, "—"), str)]
                for row, (idx, unit) in enumerate(((0, "time (s)"), (1, "peak memory (MiB)"))):
                    ax = axes[row][col]
                    ax.plot([n for n, _ in pts], [v[idx] for _, v in pts], marker="o", label=tool, color=f"C{colour}")
                    ax.set_xscale("log")
                    ax.set_yscale("log")
                    ax.xaxis.set_major_formatter(plain)
                    ax.yaxis.set_major_locator(LogLocator(subs=(1.0, 2.0, 5.0)))
                    ax.yaxis.set_major_formatter(plain)
                    ax.yaxis.set_minor_formatter(NullFormatter())
                    ax.set_ylabel(unit)
                    ax.grid(True, which="both", alpha=0.3)
            axes[0][col].set_title(f"{op}, {layout} ({LAYOUTS[layout][1]})")
            axes[1][col].set_xlabel("entries")
        axes[0][0].legend(fontsize="small")
        fig.tight_layout()
        name = f"scaling-{op.lower()}.png"
        fig.savefig(os.path.join(img_dir, name), dpi=80, metadata={"Software": None})
        plt.close(fig)
        names.append(name)
    return names


def block(results, big, size, pictures, command, date, rounds, loads, built=""):
    """The scaling section of docs/performance.md, between its markers."""
    out = [BEGIN, "## Scaling", "",
           f"Written by `{command}` on {date}; every figure is the median of {rounds} run"
           f"{'s' if rounds != 1 else ''}, the tools",
           "taking turns in an order rotated every round. Each cell is the whole process's wall time and",
           "peak resident memory. The machine is shared with other builds and test runs (load average",
           f"{loads[0]:.2f} before and {loads[1]:.2f} after this part), so the figures are noisy; the growth",
           "from one size to the next is what to read." + (f" {built}" if built else ""), "",
           "The archives hold empty stored entries (names `x/000000.txt`, or `d0000/f0000000.txt` in",
           f"{FOLDERS:,} numbered folders in turn), written record by record by the bench; past 65,535",
           "entries they end in the 64-bit end records. Listings go to /dev/null; bsdtar tests by",
           "extracting to standard output (`bsdtar -xOf A >/dev/null`).", ""]
    if pictures:
        out += [f"![{p[len('scaling-'):-4].capitalize()} against the number of entries](img/{p})" for p in pictures]
        out.append("")
    out += entry_tables(results)
    rows = listing_rows(results)
    if rows:
        out += [report.table(rows), ""]
    if big:
        out += big_table(big, size)
        out += [f"The entry is {size:,} bytes of repeated {16 if size >= 16 << 20 else size >> 20} MiB blocks "
                "of the bench data's kinds (prose, source, binary records), deflated by Info-ZIP `zip -6`"
                + (" into a Zip64 entry" if size > 0xFFFFFFFF else "") + "; each run extracts into a new folder "
                "(synced before the run) that is checked by size and deleted straight after it.", ""]
    return "\n".join(out + [END]) + "\n"


def splice(page, blk):
    """page with its scaling block replaced by blk (or blk put before the machine section)."""
    if BEGIN in page and END in page:
        head, rest = page.split(BEGIN, 1)
        return head + blk.rstrip("\n") + rest.split(END, 1)[1]
    mark = "## Machine"
    if mark in page:
        head, rest = page.split(mark, 1)
        return head + blk + "\n" + mark + rest
    return page.rstrip("\n") + "\n\n" + blk


def run(progs, cache, quick, rounds, seed, log):
    """Measures everything; returns (results, big results, big size)."""
    cache = os.path.join(cache, "scaling")
    os.makedirs(cache, exist_ok=True)
    results = bench_entries(progs, QUICK_COUNTS if quick else COUNTS, rounds, cache, log)
    size = QUICK_BIG_ENTRY if quick else BIG_ENTRY
    archive = big_archive(cache, size, seed, log)
    big = bench_big(progs, archive, size, cache, rounds, log)
    return results, big, size


if __name__ == "__main__":  # the pictures, drawn for an interpreter without matplotlib
    _rows = json.load(sys.stdin)
    _results = {}
    for _op, _layout, _n, _per in _rows:
        _results.setdefault((_op, _layout), {})[_n] = {k: v if isinstance(v, str) else tuple(v)
                                                       for k, v in _per.items()}
    print(json.dumps(plot(_results, sys.argv[1])))
