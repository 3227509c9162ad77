"""bench/run: builds the programs, the data set and its archives, measures our component
next to unzip, bsdtar, 7z, Python's zipfile, zlib and libdeflate, prints one table of
ratios and, with --write-docs, writes docs/performance.md (and the scaling pictures under
docs/img/). With --only scaling just the scaling part runs and replaces its own section."""

import argparse
import datetime
import json
import os
import platform
import shlex
import shutil
import subprocess
import sys
import zipfile

from . import dataset, measure, methods, report, scaling

SRC = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
PROGRAMS = ("zmtool", "inflate_bench", "crc32_bench", "listing_bench", "zipinflate_bench", "method_bench")


def log(msg):
    print(msg, file=sys.stderr, flush=True)


def parse_args(argv):
    p = argparse.ArgumentParser(prog="bench/run", description=__doc__)
    p.add_argument("--quick", action="store_true", help="a data set of ~55 MB and 3 rounds")
    p.add_argument("--rounds", type=int, help="runs per figure (median), default 5 (quick: 3)")
    p.add_argument("--cache", default="/tmp/zm-bench", help="folder of the data set and archives")
    p.add_argument("--build-dir", default=os.path.join(SRC, "build", "default"),
                   help="build folder (default: the default preset's)")
    p.add_argument("--no-build", action="store_true", help="use the programs as they are")
    p.add_argument("--commit", metavar="REV",
                   help="build the programs from this commit, exported into the cache folder "
                        "(not from the work tree)")
    p.add_argument("--seed", type=int, default=2016, help="seed of the generated data")
    p.add_argument("--write-docs", action="store_true", help="write docs/performance.md")
    p.add_argument("--only", choices=("scaling",),
                   help="run only this part (with --write-docs: replace only its section of the page)")
    p.add_argument("--docs", default=os.path.join(SRC, "docs", "performance.md"), help=argparse.SUPPRESS)
    p.add_argument("--note", action="append", default=[], help="a line for the notes of the document")
    p.add_argument("--self-check", action="store_true",
                   help="check the data-set generator and the table on a tiny set, then stop")
    a = p.parse_args(argv)
    if a.rounds is None:
        a.rounds = 3 if a.quick else 5
    if a.rounds < 1:
        p.error("--rounds must be at least 1")
    return a


# ---------------------------------------------------------------- build

def sync_tree(new, old):
    """Makes folder old equal to folder new, touching only files whose bytes differ (so an
    incremental build recompiles just those). Returns the number of files written or removed."""
    changed = 0
    want = set()
    for dirpath, _dirs, files in os.walk(new):
        for name in files:
            rel = os.path.relpath(os.path.join(dirpath, name), new)
            want.add(rel)
            src, dst = os.path.join(new, rel), os.path.join(old, rel)
            if os.path.islink(src) or os.path.islink(dst):
                if os.path.lexists(dst):
                    os.remove(dst)
                os.makedirs(os.path.dirname(dst), exist_ok=True)
                shutil.copy2(src, dst, follow_symlinks=False)
                continue
            try:
                with open(src, "rb") as a, open(dst, "rb") as b:
                    if a.read() == b.read():
                        continue
            except OSError:
                pass
            os.makedirs(os.path.dirname(dst), exist_ok=True)
            shutil.copyfile(src, dst)
            shutil.copymode(src, dst)
            changed += 1
    for dirpath, _dirs, files in os.walk(old):
        for name in files:
            rel = os.path.relpath(os.path.join(dirpath, name), old)
            if rel not in want:
                os.remove(os.path.join(old, rel))
                changed += 1
    return changed


def export_commit(rev, cache):
    """Exports commit rev of this repository into cache/src (changed files only) and returns
    (build folder, note)."""
    r = subprocess.run(["git", "-C", SRC, "rev-parse", "--verify", rev + "^{commit}"], stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, text=True)
    if r.returncode != 0:
        raise SystemExit(f"bench/run: no commit {rev}: {r.stderr.strip()}")
    sha = r.stdout.strip()
    src = os.path.join(cache, "src")
    fresh = os.path.join(cache, "src-export")
    build_dir = os.path.join(cache, "src-build")
    shutil.rmtree(fresh, ignore_errors=True)
    os.makedirs(fresh)
    os.makedirs(src, exist_ok=True)
    log(f"build: exporting {sha[:12]} into {src}")
    git = subprocess.Popen(["git", "-C", SRC, "archive", sha], stdout=subprocess.PIPE)
    subprocess.run(["tar", "-x", "-C", fresh], stdin=git.stdout, check=True)
    if git.wait() != 0:
        raise SystemExit("bench/run: git archive failed")
    log(f"build: {sync_tree(fresh, src)} files changed")
    shutil.rmtree(fresh)
    if not os.path.isfile(os.path.join(build_dir, "CMakeCache.txt")):
        launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"] if have("ccache") else []
        cfg = ["cmake", "-S", src, "-B", build_dir, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
               "-DCMAKE_C_COMPILER=gcc", "-DCMAKE_CXX_COMPILER=g++", *launcher]
        log("build: " + " ".join(cfg))
        subprocess.run(cfg, check=True, stdout=subprocess.DEVNULL)
    return build_dir, f"Programs built from commit {sha[:12]} (exported with git archive; the default preset's settings)."


def build(build_dir, no_build, programs=PROGRAMS):
    progs = {"zmtool": os.path.join(build_dir, "examples", "zmtool", "zmtool")}
    for b in programs[1:]:
        progs[b] = os.path.join(build_dir, "bench", b)
    if not no_build:
        if not os.path.isfile(os.path.join(build_dir, "CMakeCache.txt")):
            if os.path.abspath(build_dir) == os.path.join(SRC, "build", "default"):
                cfg = ["cmake", "--preset", "default"]
            else:
                cfg = ["cmake", "-S", SRC, "-B", build_dir, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo"]
            log("build: " + " ".join(cfg))
            subprocess.run(cfg, cwd=SRC, check=True, stdout=subprocess.DEVNULL)
        cmd = ["cmake", "--build", build_dir, "-j2", "--target", *programs]
        log("build: " + " ".join(cmd))
        r = subprocess.run(cmd, cwd=SRC, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if r.returncode != 0:
            sys.stderr.write(r.stdout[-4000:])
            raise SystemExit("bench/run: the build failed")
    missing = [p for p in progs.values() if not os.access(p, os.X_OK)]
    if missing:
        raise SystemExit("bench/run: missing programs: " + ", ".join(missing))
    return progs


# ---------------------------------------------------------------- archives

def make_archives(data_root, arch_dir, manifest):
    """Info-ZIP zip -6 archives: all (the whole set), mem-small (one small entry) and
    mem-huge (the largest file). Rebuilt when the data set changed."""
    ident = dataset.digest(manifest)
    files = sorted(manifest["files"].items(), key=lambda kv: (-kv[1]["size"], kv[0]))
    large = [rel for rel, _e in files if rel.startswith("large/")]
    huge = large[0] if large else files[0][0]
    small = sorted((e["size"], rel) for rel, e in manifest["files"].items() if rel.startswith("small/"))
    small = small[len(small) // 2][1] if small else files[-1][0]
    plan = {"all.zip": sorted({rel.split("/")[0] for rel in manifest["files"]}),
            "mem-small.zip": [small], "mem-huge.zip": [huge]}
    want = json.dumps({"data": ident, "plan": plan}, sort_keys=True)

    def build():
        for name, members in plan.items():
            log(f"archives: zip -X -r -q -6 {name}")
            subprocess.run(["zip", "-X", "-r", "-q", "-6", os.path.join(arch_dir, name), *members],
                           cwd=data_root, check=True)

    dataset.cached_folder(arch_dir, want, plan, "archives", build, log)
    return {k: os.path.join(arch_dir, k) for k in plan}, small, huge


# ---------------------------------------------------------------- measurements

def have(tool):
    return shutil.which(tool) is not None


def _time_row(operation, data, ours, peer, target_key=None):
    o, p = measure.median_seconds(ours), measure.median_seconds(peer)
    ratio = p / o if (o and p) else None
    peer_value = measure.fmt_error(peer) if peer.error else report.fmt_seconds(p)
    ours_value = measure.fmt_error(ours) if ours.error else report.fmt_seconds(o)
    return report.Row(operation, data, ours_value, peer.name, peer_value, ratio,
                      report.TARGETS.get(target_key) if target_key else None)


def missing_row(operation, data, ours_value, peer, target_key=None):
    return report.Row(operation, data, ours_value, peer, "not installed", None,
                      report.TARGETS.get(target_key) if target_key else None)


def bench_listing(progs, archive, entries, rounds):
    data = f"all.zip, {entries} entries"
    tools = [measure.Tool("zmtool list", [progs["zmtool"], "list", archive])]
    peers = [("unzip -Z1", ["unzip", "-Z1", archive], "unzip", "listing/unzip"),
             ("Python zipfile", [sys.executable, "-c",
                                 "import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1]) as z:\n"
                                 "    print('\\n'.join(z.namelist()))", archive], None, None)]
    present = [(n, c, k) for n, c, need, k in peers if need is None or have(need)]
    tools += [measure.Tool(n, c) for n, c, _ in present]
    log("listing")
    measure.run_rounds(tools, rounds, log)
    rows = [_time_row("Listing", data, tools[0], t, k) for t, (_, _, k) in zip(tools[1:], present)]
    for n, c, need, k in peers:
        if not (need is None or have(need)):
            rows.append(missing_row("Listing", data, report.fmt_seconds(measure.median_seconds(tools[0])), n, k))
    # The component inside one process (no process start, no output), best of the rounds.
    rc, out = measure.run_capture([progs["listing_bench"], "0", str(rounds), archive])
    if rc == 0:
        lb = measure.parse_listing_bench(out)
        if "unzip" in lb:
            rows.append(report.Row("Listing in process (listing_bench, best run)", data,
                                   report.fmt_seconds(lb["ours"]), "unzip -Z1",
                                   report.fmt_seconds(lb["unzip"]), lb["unzip"] / lb["ours"]))
    else:
        rows.append(report.Row("Listing in process (listing_bench)", data, f"failed ({rc})", "—", "—"))
    return rows


def bench_extract(progs, archive, manifest, work, rounds, label):
    # Every run writes into a new folder of its own, synced before the run; all of them are
    # removed only after the last run. Deleting the last run's 22,000 files just before a
    # run would make the file system walk the freshly freed inodes for every file created
    # (ext4 without a journal: more time than the tools' own work, varying several-fold
    # from run to run) and measure that instead of the tools.
    dest_of, made = {}, []

    def tool(name, argv):
        t = measure.Tool(name, list(argv))

        def prepare(r):
            d = os.path.join(work, f"out-{len(made)}")
            shutil.rmtree(d, ignore_errors=True)
            os.makedirs(d)
            made.append(d)
            dest_of[name] = d
            t.cmd = [a.replace("{dest}", d) for a in argv]
            os.sync()

        def check(r):
            problems = dataset.compare_tree(dest_of[name], manifest, full=(r == 0))
            return f"output differs: {problems[0]} ({len(problems)} differences)" if problems else None

        t.prepare, t.check = prepare, check
        return t

    cands = [("zmtool extract", [progs["zmtool"], "extract", "-o", "--quiet", archive, "{dest}"], None),
             ("unzip -o -q", ["unzip", "-o", "-q", archive, "-d", "{dest}"], "unzip"),
             ("bsdtar -xf", ["bsdtar", "-xf", archive, "-C", "{dest}"], "bsdtar"),
             ("7z x -y", ["7z", "x", "-y", "-o{dest}", archive], "7z")]
    tools = [tool(n, c) for n, c, need in cands if need is None or have(need)]
    log("extraction")
    measure.run_rounds(tools, rounds, log)
    for d in made:
        shutil.rmtree(d, ignore_errors=True)
    keys = {"unzip -o -q": "extract/unzip", "bsdtar -xf": "extract/bsdtar"}
    rows = [_time_row("Extraction", label, tools[0], t, keys.get(t.name)) for t in tools[1:]]
    for n, _c, need in cands[1:]:
        if need and not have(need):
            rows.append(missing_row("Extraction", label, report.fmt_seconds(measure.median_seconds(tools[0])),
                                    n, keys.get(n)))
    return rows


def bench_create(progs, data_root, work, rounds, label):
    """Archives of the whole data set: zmtool create -r -6 next to zip -r -6 and 7z -mx=5;
    each run writes a new archive, which is checked (and removed) after the run."""
    members = sorted(os.listdir(data_root))
    size_of = {}

    def tool(name, argv, key):
        target = os.path.join(work, key + ".zip")
        t = measure.Tool(name, list(argv) + [target] + members)
        t.cmd = ["sh", "-c", 'cd "$0" && exec "$@"', data_root] + t.cmd

        def prepare(_r):
            if os.path.exists(target):
                os.remove(target)

        def check(_r):
            size_of[name] = os.path.getsize(target)
            with zipfile.ZipFile(target) as z:
                bad = z.testzip()
                if bad is not None:
                    return f"entry {bad} does not test"
                if len(z.infolist()) < len(members):
                    return "entries missing"
            return None

        t.prepare, t.check = prepare, check
        return t

    cands = [("zmtool create -r -6", [progs["zmtool"], "create", "-q", "-r", "-6"], None, "ours"),
             ("zip -r -6", ["zip", "-q", "-r", "-6"], "zip", "zip"),
             ("7z a -tzip -mx=5", ["7z", "a", "-bd", "-bso0", "-tzip", "-mx=5"], "7z", "7z")]
    tools = [tool(n, c, k) for n, c, need, k in cands if need is None or have(need)]
    log("creating archives")
    measure.run_rounds(tools, rounds, log)
    keys = {"zip -r -6": "create/zip", "7z a -tzip -mx=5": "create/7z"}
    rows = [_time_row("Creating an archive", label, tools[0], t, keys.get(t.name)) for t in tools[1:]]
    ours = size_of.get(tools[0].name)
    for t in tools[1:]:
        theirs = size_of.get(t.name)
        rows.append(report.Row("Size of the created archive", label,
                               f"{ours / 1e6:.2f} MB" if ours else "—", t.name,
                               f"{theirs / 1e6:.2f} MB" if theirs else "—",
                               theirs / ours if (ours and theirs) else None,
                               report.TARGETS.get("create-size/zip") if t.name == "zip -r -6" else None))
    rows.append(report.Row("Peak memory of creating", label, report.fmt_mib(measure.median_rss_mib(tools[0])),
                           tools[1].name if len(tools) > 1 else "—",
                           report.fmt_mib(measure.median_rss_mib(tools[1])) if len(tools) > 1 else "—"))
    for n, _c, need, _k in cands[1:]:
        if need and not have(need):
            rows.append(missing_row("Creating an archive", label,
                                    report.fmt_seconds(measure.median_seconds(tools[0])), n, keys.get(n)))
    for k in ("ours", "zip", "7z"):
        target = os.path.join(work, k + ".zip")
        if os.path.exists(target):
            os.remove(target)
    return rows


def bench_test(progs, archive, rounds, label):
    tools = [measure.Tool("zmtool test", [progs["zmtool"], "test", "--quiet", archive])]
    if have("unzip"):
        tools.append(measure.Tool("unzip -t", ["unzip", "-t", "-q", archive]))
    log("testing")
    measure.run_rounds(tools, rounds, log)
    if len(tools) == 1:
        return [missing_row("Testing", label, report.fmt_seconds(measure.median_seconds(tools[0])),
                            "unzip -t", "test/unzip")]
    return [_time_row("Testing", label, tools[0], tools[1], "test/unzip")]


def _inflate_rows(runs, data_of, classes):
    """Rows of median MB/s and ratios: each class against zlib, overall also against libdeflate.
    Every class must reach zlib; the overall figure has targets against both."""
    rows = []
    for kind in classes:
        per = [x[kind] for x in runs if kind in x]
        rows.append(report.Row("Raw inflate", data_of(kind), report.fmt_mbps(measure.median([p["ours"] for p in per])),
                               "zlib", report.fmt_mbps(measure.median([p["zlib"] for p in per])),
                               measure.median([p["vs_zlib"] for p in per]),
                               report.TARGETS["inflate/zlib" if kind == "overall" else "inflate-class/zlib"]))
    per = [x["overall"] for x in runs if x["overall"]["libdeflate"]]
    if per:
        rows.append(report.Row("Raw inflate", data_of("overall"),
                               report.fmt_mbps(measure.median([p["ours"] for p in per])), "libdeflate",
                               report.fmt_mbps(measure.median([p["libdeflate"] for p in per])),
                               measure.median([p["vs_libdeflate"] for p in per]), report.TARGETS["inflate/libdeflate"]))
    return rows


def _repeat(cmd, rounds, parse, what):
    """Runs one of our bench programs `rounds` times; the parsed runs, or an error text."""
    runs = []
    for r in range(rounds):
        rc, out = measure.run_capture(cmd)
        if rc != 0:
            return None, f"{what} failed ({rc}): {out.strip()[-200:]}"
        try:
            runs.append(parse(out))
        except measure.ParseError as e:
            return None, f"{what}: {e}"
        log(f"  run {r + 1}/{rounds}: overall {runs[-1]['overall']['vs_zlib']:.2f}× zlib")
    return runs, None


def bench_zipinflate(progs, archive, rounds):
    """The deflated entries of all.zip, per class of the data set."""
    log(f"raw inflate of the archive's entries: zipinflate_bench, {rounds} runs")
    runs, err = _repeat([progs["zipinflate_bench"], archive, "2"], rounds, measure.parse_zipinflate_bench,
                        "zipinflate_bench")
    if err:
        return [report.Row("Raw inflate", "all.zip entries", err, "zlib", "—", None, report.TARGETS["inflate/zlib"])]
    first = runs[0]
    classes = [k for k in first if k != "overall"] + ["overall"]

    def data_of(k):
        e = first[k]
        return f"all.zip {k}: {e['entries']} deflated entries, {e['mib']:.0f} MiB"
    return _inflate_rows(runs, data_of, classes)


def bench_inflate(progs, rounds, mib):
    """inflate_bench's own streams (zlib level 6): the overall figures."""
    log(f"raw inflate: inflate_bench {mib} 3, {rounds} runs")
    runs, err = _repeat([progs["inflate_bench"], str(mib), "3"], rounds, measure.parse_inflate_bench, "inflate_bench")
    if err:
        return [report.Row("Raw inflate", "inflate_bench", err, "zlib", "—", None, report.TARGETS["inflate/zlib"])]
    kinds = ", ".join(k for k in runs[0] if k != "overall")
    return _inflate_rows(runs, lambda _k: f"inflate_bench streams ({kinds}), {4 * mib} MiB", ["overall"])


def bench_crc(progs, rounds, mib):
    log(f"CRC-32: crc32_bench {mib} 16, {rounds} runs")
    runs = []
    for _ in range(rounds):
        rc, out = measure.run_capture([progs["crc32_bench"], str(mib), "16"])
        if rc != 0:
            return [report.Row("CRC-32", "—", f"crc32_bench failed ({rc})", "zlib", "—")]
        runs.append(measure.parse_crc32_bench(out))
    data = f"{mib} MiB random"
    ours = measure.median([x["ours"] for x in runs])
    rows = [report.Row("CRC-32", data, report.fmt_mbps(ours), "zlib crc32",
                       report.fmt_mbps(measure.median([x["zlib"] for x in runs])),
                       measure.median([x["ours"] / x["zlib"] for x in runs]))]
    if all("libdeflate" in x for x in runs):
        rows.append(report.Row("CRC-32", data, report.fmt_mbps(ours), "libdeflate_crc32",
                               report.fmt_mbps(measure.median([x["libdeflate"] for x in runs])),
                               measure.median([x["ours"] / x["libdeflate"] for x in runs])))
    return rows, runs[0].get("ours_name", "")


def bench_memory(progs, archives, small_rel, huge_rel, manifest, work, rounds):
    dest = os.path.join(work, "mem")
    sizes = {k: manifest["files"][v]["size"] for k, v in (("small", small_rel), ("huge", huge_rel))}

    def prepare(_r):
        shutil.rmtree(dest, ignore_errors=True)
        os.makedirs(dest)

    tools = [measure.Tool(f"zmtool extract, {k} entry",
                          [progs["zmtool"], "extract", "-o", "--quiet",
                           archives[f"mem-{k}.zip"], dest], prepare) for k in ("small", "huge")]
    if have("unzip"):
        tools += [measure.Tool(f"unzip, {k} entry", ["unzip", "-o", "-q", archives[f"mem-{k}.zip"], "-d", dest],
                               prepare) for k in ("small", "huge")]
    log("peak memory")
    measure.run_rounds(tools, rounds, log)
    shutil.rmtree(dest, ignore_errors=True)
    rows = []
    for a, b, who in ((tools[0], tools[1], "ours"), *(((tools[2], tools[3], "unzip"),) if len(tools) > 2 else ())):
        s, h = measure.median_rss_mib(a), measure.median_rss_mib(b)
        ratio = h / s if (s and h) else None
        rows.append(report.Row("Peak memory of extraction" + ("" if who == "ours" else " (unzip, for reference)"),
                               f"huge entry {sizes['huge'] / 2**20:.0f} MiB vs small {sizes['small'] / 1024:.1f} KiB",
                               report.fmt_mib(h), "same tool, small entry", report.fmt_mib(s), ratio,
                               report.TARGETS["memory/huge-small"] if who == "ours" else None))
    return rows


# ---------------------------------------------------------------- machine

def _first_line(cmd, line=0):
    try:
        r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                           errors="replace", stdin=subprocess.DEVNULL, timeout=20)
    except (OSError, subprocess.TimeoutExpired):
        return "not installed"
    lines = [x.strip() for x in r.stdout.splitlines() if x.strip()]
    return lines[line] if len(lines) > line else "unknown"


def _dpkg_version(pkg):
    r = _first_line(["dpkg-query", "-W", "-f", "${Version}", pkg])
    return r if r and "no packages" not in r.lower() else "unknown"


def machine_info(build_dir, load_before, load_after):
    cpu = "unknown"
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    ram = "unknown"
    try:
        for line in open("/proc/meminfo"):
            if line.startswith("MemTotal"):
                ram = f"{int(line.split()[1]) / 2**20:.1f} GiB"
    except OSError:
        pass
    cxx = "unknown"
    try:
        for line in open(os.path.join(build_dir, "CMakeCache.txt")):
            if line.startswith("CMAKE_CXX_COMPILER:"):
                cxx = _first_line([line.split("=", 1)[1].strip(), "--version"])
            elif line.startswith("CMAKE_BUILD_TYPE:"):
                cxx_type = line.split("=", 1)[1].strip()
        cxx += f" ({cxx_type})"
    except (OSError, UnboundLocalError):
        pass
    return [
        ("CPU", f"{cpu}, {os.cpu_count()} logical cores"),
        ("RAM", ram),
        ("Kernel", f"{platform.system()} {platform.release()}"),
        ("Compiler", cxx),
        ("Load average (1 min) before and after", f"{load_before:.2f}, {load_after:.2f} — the machine is "
         "shared with other builds and test runs, so absolute figures vary; ratios of tools run "
         "in turn within each round vary less"),
        ("Info-ZIP zip", _first_line(["zip", "-v"], 1)),
        ("Info-ZIP unzip", _first_line(["unzip", "-v"])),
        ("bsdtar", _first_line(["bsdtar", "--version"])),
        ("7z", _first_line(["7z", "i"], 0)),
        ("Python", _first_line([sys.executable, "--version"])),
        ("zlib", _dpkg_version("zlib1g")),
        ("libdeflate", _dpkg_version("libdeflate0")),
    ]


def source_note(build_dir):
    """Which sources the programs were built from: the commit when they are a git tree."""
    home = None
    try:
        for line in open(os.path.join(build_dir, "CMakeCache.txt")):
            if line.startswith("CMAKE_HOME_DIRECTORY:"):
                home = line.split("=", 1)[1].strip()
    except OSError:
        return ""
    if not home:
        return ""
    r = subprocess.run(["git", "-C", home, "rev-parse", "--short", "HEAD"], stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, text=True)
    if r.returncode != 0:
        return f"Programs built in {build_dir} from {home}."
    dirty = subprocess.run(["git", "-C", home, "status", "--porcelain", "--untracked-files=no"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout.strip()
    return f"Programs built from commit {r.stdout.strip()}" + (" with uncommitted changes." if dirty else ".")


def dataset_lines(manifest, small_rel, huge_rel):
    s = dataset.summary(manifest)
    total = sum(c["bytes"] for c in s.values())
    what = {
        "text": "English-like prose (Zipf-distributed words, sentences, paragraphs), 4 KiB to 2 MiB a file",
        "source": "generated C++-like source (functions, control flow, comments), 2 to 200 KiB a file",
        "binary": "ELF programs and libraries of /usr/bin and /usr/lib (largest first, ties by path, "
                  "64 KiB to 4 MiB each, while they fit), the rest generated record files",
        "compressed": ".gz/.xz/.bz2/.jpg/.png/.deb files of /usr/share and the package cache (up to 60 %, "
                      "chosen like the binaries, 4 KiB to 2 MiB each), the rest random bytes",
        "small": "many small files (16 bytes to a few KiB) of text and source",
        "large": "a few large files of text, source, records and random bytes in turn",
    }
    lines = [f"{total / 1e6:.0f} MB ({total / 2**20:.0f} MiB) in {len(manifest['files'])} files, seed "
             f"{manifest['plan']['seed']}, generator version {manifest['plan']['version']}, identity "
             f"(SHA-256 of names, sizes and contents) `{dataset.digest(manifest)[:16]}`.", "",
             "| Class | Files | MB | From the machine | Content |", "|---|---|---|---|---|"]
    for cls in ("text", "source", "binary", "compressed", "small", "large"):
        if cls in s:
            c = s[cls]
            lines.append(f"| {cls} | {c['files']} | {c['bytes'] / 1e6:.1f} | {c['machine']} | {what[cls]} |")
    taken = sorted((rel, e["from"]) for rel, e in manifest["files"].items() if "from" in e)
    if taken:
        lines += ["", f"<details><summary>The {len(taken)} files taken from the machine</summary>", ""]
        lines += [f"- `{rel}` ← `{src}`" for rel, src in taken]
        lines += ["", "</details>"]
    lines += ["", "Archives: Info-ZIP `zip -X -r -q -6`: `all.zip` (the whole set; listing, extraction, "
              f"testing), `mem-small.zip` (`{small_rel}`) and `mem-huge.zip` (`{huge_rel}`) for peak memory.",
              "Raw inflate decodes the deflated entries of `all.zip` (Info-ZIP's streams; stored entries "
              "left out) per class, and inflate_bench's own streams (text, source, binary records, poorly "
              "compressible bytes; zlib level 6); CRC-32 runs over crc32_bench's random buffer."]
    return lines


# ---------------------------------------------------------------- main

def run_scaling(a, progs, argv, built_from):
    """The scaling part: measured, printed, and returned as the page's section (pictures
    written under docs/img/ when the docs are written)."""
    loads = [os.getloadavg()[0]]
    results, big, size = scaling.run(progs, a.cache, a.quick, a.rounds, a.seed, log)
    loads.append(os.getloadavg()[0])
    print("\n".join(scaling.entry_tables(results) + scaling.big_table(big, size)))
    pictures = None
    if a.write_docs:
        pictures = scaling.plot(results, os.path.join(os.path.dirname(a.docs), "img"))
        if pictures is None:
            log("scaling: no matplotlib (python3-matplotlib), so no pictures")
    cmd = "bench/run " + " ".join(shlex.quote(x) for x in argv)
    date = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    return (scaling.block(results, big, size, pictures, cmd, date, a.rounds, loads,
                          built_from or source_note(a.build_dir)), scaling.listing_rows(results))


def main(argv):
    a = parse_args(argv)
    if a.self_check:
        from . import selfcheck
        return selfcheck.run()
    load_before = os.getloadavg()[0]
    os.makedirs(a.cache, exist_ok=True)
    built_from = None
    # Some measurements run in other folders: the programs are named by absolute path.
    a.build_dir = os.path.abspath(a.build_dir)
    if a.commit:
        a.build_dir, built_from = export_commit(a.commit, a.cache)
    if a.only == "scaling":
        blk, _rows = run_scaling(a, build(a.build_dir, a.no_build, PROGRAMS[:1]), argv, built_from)
        if a.write_docs:
            page = open(a.docs).read() if os.path.isfile(a.docs) else ""
            with open(a.docs, "w") as fh:
                fh.write(scaling.splice(page, blk))
            log(f"wrote the scaling section of {a.docs}")
        return 0
    progs = build(a.build_dir, a.no_build)
    mode = "quick" if a.quick else "full"
    plan = dataset.quick_plan(a.seed) if a.quick else dataset.full_plan(a.seed)
    data_root = os.path.join(a.cache, f"data-{mode}-{a.seed}")
    manifest = dataset.load_or_generate(data_root, plan, log)
    archives, small_rel, huge_rel = make_archives(data_root, os.path.join(a.cache, f"archives-{mode}-{a.seed}"),
                                                  manifest)
    work = os.path.join(a.cache, "work")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    total = sum(e["size"] for e in manifest["files"].values())
    label = f"all.zip, {total / 1e6:.0f} MB in {len(manifest['files'])} files"

    rows = []
    with zipfile.ZipFile(archives["all.zip"]) as z:
        entries = len(z.infolist())
    rows += bench_listing(progs, archives["all.zip"], entries, a.rounds)
    rows += bench_extract(progs, archives["all.zip"], manifest, work, a.rounds, label)
    rows += bench_test(progs, archives["all.zip"], a.rounds, label)
    rows += bench_create(progs, data_root, work, a.rounds, f"{total / 1e6:.0f} MB in {len(manifest['files'])} files")
    rows += bench_zipinflate(progs, archives["all.zip"], a.rounds)
    rows += bench_inflate(progs, a.rounds, 4 if a.quick else 32)
    crc_rows, crc_name = bench_crc(progs, a.rounds, 64 if a.quick else 512)
    rows += crc_rows
    rows += bench_memory(progs, archives, small_rel, huge_rel, manifest, work, a.rounds)
    m_archives, m_labels = methods.make_archives(data_root, os.path.join(a.cache, f"methods-{mode}-{a.seed}"),
                                                 manifest, log)
    rows += methods.bench(progs, m_archives, m_labels, a.rounds, have, log)
    shutil.rmtree(work, ignore_errors=True)
    blk, scale_rows = run_scaling(a, progs, argv, built_from)
    rows += scale_rows
    load_after = os.getloadavg()[0]

    print(report.table(rows))
    met, missed = report.summary_counts(rows)
    print(f"\ntargets met: {met}, not met: {missed}")
    if a.write_docs:
        cmd = "bench/run " + " ".join(shlex.quote(x) for x in argv)
        notes = [f"Our CRC-32 figure is the component's `Crc32` routine: {crc_name}." if crc_name else "",
                 "Listing, extraction and testing time whole processes (start, work, exit); output of "
                 "listings goes to /dev/null. Every extraction writes into a new folder (made and synced "
                 "outside the timing; all are removed after the last run, since a tree deleted just "
                 "before a run slows the creation of every file on this file system); every tool's output is compared with the data set, in full "
                 "after its first run and by size after the others.",
                 "The in-process listing row times the component inside one process (listing_bench), "
                 "against the whole unzip process; it has no target.",
                 "Peak memory is the maximum resident set size of the extracting process (/usr/bin/time's %M).",
                 "Creating times zmtool create -q -r -6, zip -q -r -6 and 7z a -tzip -mx=5 on the data "
                 "set's folders, each into a new archive that Python's zipfile then tests; the size row "
                 "is zip's (or 7-Zip's) archive over ours.",
                 "The rows of the other methods test one archive per method of a part of the data set "
                 "(7z a -tzip -mm=BZip2 / -mm=LZMA; XZ and Zstandard entries assembled from the output "
                 "of xz -6 and zstd -3); the bare library is method_bench, a process that decodes the "
                 "same streams with libbz2, liblzma or libzstd in a loop of its own without a CRC. "
                 "AES-256 is timed against 7-Zip's same deflate streams without encryption.",
                 "Raw inflate and CRC-32 time the decoders inside one process (thread CPU time for "
                 "inflate), best of a few repetitions per run, median over the runs. Each decoder reads "
                 "the stream in place from memory; zlib and libdeflate write into the output buffer "
                 "directly, ours hands its output in chunks to a sink that copies them there. Every "
                 "class must reach zlib's speed; the overall figures of the archive's entries and of "
                 "inflate_bench's streams are held against zlib and against libdeflate.",
                 built_from or source_note(a.build_dir)] + a.note
        doc = report.document(rows, machine_info(a.build_dir, load_before, load_after),
                              dataset_lines(manifest, small_rel, huge_rel), cmd,
                              datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
                              a.rounds, [n for n in notes if n])
        os.makedirs(os.path.dirname(a.docs), exist_ok=True)
        try:
            with open(a.docs) as fh:
                before = fh.read()
        except OSError:
            before = ""
        with open(a.docs, "w") as fh:
            fh.write(report.carry_kept(before, scaling.splice(doc, blk)))
        log(f"wrote {a.docs}")
    return 0
