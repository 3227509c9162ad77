"""Running tools side by side: wall time and peak memory of child processes,
interleaved rounds, medians, and the parsers of our bench programs' output."""

import os
import re
import shutil
import subprocess
import tempfile
import time
from dataclasses import dataclass, field


@dataclass
class Sample:
    seconds: float
    maxrss_kib: int
    rc: int
    cpu: float = 0.0  # user and system time of the process and its children


TIME_PROGRAM = "/usr/bin/time"


def run_timed(cmd, cwd=None, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL):
    """Runs cmd (a list) and returns its wall time, peak resident memory and exit status.

    The peak memory is taken by /usr/bin/time, which starts the command from its own small
    process: a child started straight from this (large) Python process would report this
    process's memory as its own, because Linux keeps the pre-exec peak. Without
    /usr/bin/time the peak comes from wait4() and may be too high."""
    if shutil.which(cmd[0]) is None:
        return Sample(0.0, 0, -2)  # no such program
    wrap = os.access(TIME_PROGRAM, os.X_OK)
    rss_file = None
    if wrap:
        fd, rss_file = tempfile.mkstemp(prefix="zmbench-rss-")
        os.close(fd)
        cmd = [TIME_PROGRAM, "-f", "%M", "-o", rss_file, *cmd]
    try:
        t0 = time.perf_counter()
        try:
            p = subprocess.Popen(cmd, cwd=cwd, stdout=stdout, stderr=stderr, stdin=subprocess.DEVNULL)
        except OSError as e:
            return Sample(0.0, 0, -1 if e.errno is None else -e.errno)
        _pid, status, usage = os.wait4(p.pid, 0)
        elapsed = time.perf_counter() - t0
        p.returncode = rc = os.waitstatus_to_exitcode(status)
        rss = int(usage.ru_maxrss)
        if wrap:
            with open(rss_file) as fh:
                lines = fh.read().split()
            rss = int(lines[-1]) if lines and lines[-1].isdigit() else 0
        return Sample(elapsed, rss, rc, usage.ru_utime + usage.ru_stime)
    finally:
        if rss_file:
            os.remove(rss_file)


def median(values):
    v = sorted(values)
    if not v:
        raise ValueError("median of no values")
    n = len(v)
    return v[n // 2] if n % 2 else (v[n // 2 - 1] + v[n // 2]) / 2.0


@dataclass
class Tool:
    """One contender: its command, what to do before each run (outside the timing) and
    how to check its result after a run (returns an error text or None)."""
    name: str
    cmd: list
    prepare: object = None
    check: object = None
    samples: list = field(default_factory=list)
    error: str = None


def interleave_order(n_tools, round_no):
    """The tools' order in a round: rotated each round so none always goes first."""
    k = round_no % n_tools if n_tools else 0
    return list(range(k, n_tools)) + list(range(0, k))


def run_rounds(tools, rounds, log=None):
    """Runs every tool once per round, in an order rotated every round. A tool that fails
    (exit status, or its check) is dropped from later rounds with its error kept."""
    for r in range(rounds):
        for i in interleave_order(len(tools), r):
            t = tools[i]
            if t.error:
                continue
            if t.prepare:
                t.prepare(r)
            s = run_timed(t.cmd)
            if s.rc != 0:
                t.error = f"exit status {s.rc}" if s.rc > 0 else f"could not run ({s.rc})"
                continue
            if t.check:
                problem = t.check(r)
                if problem:
                    t.error = problem
                    continue
            t.samples.append(s)
            if log:
                log(f"  round {r + 1}/{rounds} {t.name}: {s.seconds:.3f} s, {s.maxrss_kib / 1024:.1f} MiB")
    return tools


def median_seconds(tool):
    return median([s.seconds for s in tool.samples]) if tool.samples else None


def median_cpu_seconds(tool):
    return median([s.cpu for s in tool.samples]) if tool.samples else None


def median_rss_mib(tool):
    return median([s.maxrss_kib / 1024.0 for s in tool.samples]) if tool.samples else None


class ParseError(ValueError):
    pass


_NUM = r"([0-9]+(?:\.[0-9]+)?)"


def parse_inflate_bench(text):
    """inflate_bench's table: {kind: {"ours": MB/s, "zlib": MB/s, "libdeflate": MB/s,
    "vs_zlib": x, "vs_libdeflate": x}}; the overall row is the kind "overall"."""
    out = {}
    header = False
    for line in text.splitlines():
        f = line.split()
        if not f:
            continue
        if f[0] == "kind":
            header = True
            continue
        if not header:
            continue
        # kind MiB ratio ours zlib ldef ours/zlib ours/ldef; the overall row lacks "ratio".
        nums = f[1:]
        if len(nums) not in (6, 7):
            raise ParseError(f"unexpected inflate_bench line: {line!r}")
        try:
            vals = [float(x) for x in nums]
        except ValueError:
            raise ParseError(f"unexpected inflate_bench line: {line!r}") from None
        ours, zl, ld, rz, rl = vals[-5:]
        out[f[0]] = {"ours": ours, "zlib": zl, "libdeflate": ld if ld > 0 else None,
                     "vs_zlib": rz, "vs_libdeflate": rl if ld > 0 else None}
    if "overall" not in out:
        raise ParseError("inflate_bench printed no overall row")
    return out


def parse_zipinflate_bench(text):
    """zipinflate_bench's table: {class: {"entries", "mib", "ours", "zlib", "libdeflate",
    "vs_zlib", "vs_libdeflate"}}, with the class "overall"."""
    out = {}
    header = False
    for line in text.splitlines():
        f = line.split()
        if not f or f[0].startswith("("):
            continue
        if f[0] == "class":
            header = True
            continue
        if not header:
            continue
        try:
            if len(f) != 8:
                raise ValueError
            n = int(f[1])
            mib, ours, zl, ld, rz, rl = (float(x) for x in f[2:])
        except ValueError:
            raise ParseError(f"unexpected zipinflate_bench line: {line!r}") from None
        out[f[0]] = {"entries": n, "mib": mib, "ours": ours, "zlib": zl, "libdeflate": ld if ld > 0 else None,
                     "vs_zlib": rz, "vs_libdeflate": rl if ld > 0 else None}
    if "overall" not in out:
        raise ParseError("zipinflate_bench printed no overall row")
    return out


def parse_crc32_bench(text):
    """crc32_bench's lines: {"zlib": MB/s, "ours": MB/s, "ours_name": ..., "libdeflate": MB/s}.
    "ours" is the component's dispatching Crc32 routine."""
    out = {}
    if "ERROR" in text:
        raise ParseError("crc32_bench reports differing CRC values")
    for line in text.splitlines():
        m = re.match(r"\s+(.+?)\s+" + _NUM + r" MB/s\s+" + _NUM + r"x zlib", line)
        if not m:
            continue
        name, mbps = m.group(1), float(m.group(2))
        if name == "zlib crc32":
            out["zlib"] = mbps
        elif name.startswith("ZipMate Crc32 ("):
            out["ours"] = mbps
            out["ours_name"] = name
        elif name == "libdeflate_crc32":
            out["libdeflate"] = mbps
    if "zlib" not in out or "ours" not in out:
        raise ParseError("crc32_bench printed no zlib or no ZipMate Crc32 line")
    return out


def parse_listing_bench(text):
    """listing_bench's figures in seconds: {"ours", "unzip", "python"} (missing tools absent)."""
    out = {}
    for line in text.splitlines():
        m = re.match(r"(.+?)\s+" + _NUM + r" ms", line)
        if not m:
            continue
        name, sec = m.group(1).strip(), float(m.group(2)) / 1000.0
        if name == "ZipMate listing":
            out["ours"] = sec
            e = re.search(r"\((\d+) entries", line)
            if e:
                out["entries"] = int(e.group(1))
        elif name == "unzip -Z1":
            out["unzip"] = sec
        elif name.startswith("python3 zipfile (whole process)"):
            out["python"] = sec
    if "ours" not in out:
        raise ParseError("listing_bench printed no ZipMate listing line")
    return out


def run_capture(cmd, cwd=None):
    """Runs cmd; returns (exit status, stdout text)."""
    try:
        p = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           stdin=subprocess.DEVNULL, text=True, errors="replace")
    except OSError as e:
        return -1, str(e)
    return p.returncode, p.stdout


def fmt_error(tool):
    return f"failed: {tool.error}"
