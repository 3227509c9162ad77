"""The result table (Markdown, printed and written to docs/performance.md) and the
targets each ratio is held against."""

from dataclasses import dataclass


@dataclass
class Target:
    """A ratio the figure must reach: at least `value` (kind "min"), above `value`
    (kind "above") or at most `value` (kind "max")."""
    kind: str
    value: float

    def text(self):
        sign = {"min": "≥", "above": ">", "max": "≤"}[self.kind]
        return f"{sign} {self.value:g}×"

    def met(self, ratio):
        if ratio is None:
            return None
        if self.kind == "min":
            return ratio >= self.value
        if self.kind == "above":
            return ratio > self.value
        return ratio <= self.value


# The goals the project set itself; ratios are "how many times better than the peer".
TARGETS = {
    "listing/unzip": Target("min", 3.0),
    "extract/unzip": Target("min", 2.0),
    "extract/bsdtar": Target("above", 1.0),
    "test/unzip": Target("min", 1.5),
    "inflate/zlib": Target("min", 1.8),
    # Every class of data (each all.zip class, inflate_bench's streams) at least as fast as
    # zlib, and overall ahead of libdeflate.
    "inflate-class/zlib": Target("min", 1.0),
    "inflate/libdeflate": Target("min", 1.05),
    # zmtool test against the bare library on the same streams; AES over deflate alone.
    "method/bare": Target("min", 0.9),
    "aes/deflate": Target("min", 0.8),
    # Creating an archive of the data set: time against zip -r -6 and 7-Zip's -mx=5, and
    # the archive's size against zip's (zip's size over ours).
    "create/zip": Target("min", 2.5),
    "create/7z": Target("min", 1.0),
    "create-size/zip": Target("min", 1.0),
    # Peak memory of a huge entry's extraction over a small one's.
    "memory/huge-small": Target("max", 1.25),
    # Peak memory of listing or testing a million entries over its bound (bench/lib/zmbench/scaling.py).
    "memory/bound": Target("max", 1.0),
}


@dataclass
class Row:
    operation: str
    data: str
    ours: str            # our figure, formatted
    peer: str            # the peer's name
    peer_value: str      # the peer's figure, formatted
    ratio: float = None  # > 1: ours is better (for memory: huge over small)
    target: Target = None
    note: str = ""

    def verdict(self):
        if self.target is None:
            return "—"
        m = self.target.met(self.ratio)
        if m is None:
            return "not measured"
        return "met" if m else "not met"


def fmt_seconds(s):
    if s is None:
        return "—"
    if s < 1.0:
        return f"{s * 1000:.1f} ms"
    return f"{s:.2f} s"


def fmt_mbps(v):
    return "—" if v is None else f"{v:.0f} MB/s"


def fmt_mib(v):
    return "—" if v is None else f"{v:.1f} MiB"


def fmt_ratio(r):
    return "—" if r is None else f"{r:.2f}×"


COLUMNS = ("Operation", "Data", "Ours", "Peer", "Peer's figure", "Ratio", "Target", "Result")


def _cell(text):
    return str(text).replace("|", "\\|").replace("\n", " ")


def table(rows):
    """The rows as one Markdown table, columns padded for reading in a terminal."""
    cells = [list(COLUMNS)]
    for r in rows:
        cells.append([_cell(x) for x in (r.operation, r.data, r.ours, r.peer, r.peer_value,
                                          fmt_ratio(r.ratio), r.target.text() if r.target else "—",
                                          r.verdict())])
    widths = [max(len(c[i]) for c in cells) for i in range(len(COLUMNS))]
    lines = []
    for n, c in enumerate(cells):
        lines.append("| " + " | ".join(x.ljust(w) for x, w in zip(c, widths)) + " |")
        if n == 0:
            lines.append("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    return "\n".join(lines)


def summary_counts(rows):
    met = sum(1 for r in rows if r.verdict() == "met")
    missed = sum(1 for r in rows if r.verdict() == "not met")
    return met, missed


def document(rows, machine, dataset_lines, command, date, rounds, notes):
    """The whole of docs/performance.md."""
    met, missed = summary_counts(rows)
    out = ["# Performance", "",
           "Measured by `bench/run`, which builds the data set, the archives and the programs, runs our",
           "component and the tools users would otherwise pick side by side in one run, and wrote this",
           "page. Do not edit it by hand: run the command below again.", "",
           f"- Date: {date}",
           f"- Command: `{command}`",
           f"- Rounds: every figure is the median of {rounds} runs; the tools of one measurement take",
           "  turns within each round, in an order rotated every round.",
           "- Ratios read \"how many times better than the peer\": the peer's time over ours, our",
           "  throughput over the peer's; for peak memory, the huge entry's peak over the small one's.",
           f"- Targets met: {met}, not met: {missed}.", "",
           "## Results", "", table(rows), ""]
    if notes:
        out += ["## Notes", ""] + [f"- {n}" for n in notes] + [""]
    out += ["## Machine", ""] + [f"- {k}: {v}" for k, v in machine] + [""]
    out += ["## Data set", ""] + dataset_lines + [""]
    return "\n".join(out)


KEPT_BEGIN = "<!-- kept:begin -->"
KEPT_END = "<!-- kept:end -->"


def carry_kept(old, new):
    """The sections measured by hand, between the kept markers of the page as it stood, in
    the new page before its machine section (at its end when it has none)."""
    blocks, rest = [], old
    while KEPT_BEGIN in rest and KEPT_END in rest.split(KEPT_BEGIN, 1)[1]:
        body, rest = rest.split(KEPT_BEGIN, 1)[1].split(KEPT_END, 1)
        blocks.append(KEPT_BEGIN + body + KEPT_END + "\n")
    if not blocks:
        return new
    kept = "\n".join(blocks) + "\n"
    at = new.find("\n## Machine")
    if at < 0:
        return new.rstrip("\n") + "\n\n" + kept
    return new[:at + 1] + kept + new[at + 1:]
