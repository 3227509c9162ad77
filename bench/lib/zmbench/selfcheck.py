"""bench/run --self-check: the data-set generator's determinism and budgets, the
choice of machine files, the tree comparison, the process measurements, the parsers
of our bench programs' output and the table, on a tiny set (a few seconds)."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile
import zlib

from . import dataset, measure, report, scaling

SRC_BUILD = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))), "build", "default")


def _tiny(seed=2016):
    p = dataset.tiny_plan(seed)
    p.machine_roots_compressed = ("/usr/share/doc",)
    return p


class DataSetTests(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="zmbench-check-")

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def gen(self, name, plan):
        return dataset.generate(os.path.join(self.tmp, name), plan)

    def test_same_seed_same_tree_other_seed_other_data(self):
        a = self.gen("a", _tiny())
        b = self.gen("b", _tiny())
        self.assertEqual(a, b)
        self.assertEqual(dataset.digest(a), dataset.digest(b))
        # The bytes on disk are what the manifest says.
        self.assertEqual(dataset.compare_tree(os.path.join(self.tmp, "b"), a), [])
        c = self.gen("c", _tiny(seed=7))
        self.assertNotEqual(dataset.digest(a), dataset.digest(c))
        gen_a = {k: v for k, v in a["files"].items() if "from" not in v}
        gen_c = {k: v for k, v in c["files"].items() if "from" not in v}
        self.assertTrue(gen_a.keys() & gen_c.keys())
        self.assertTrue(any(gen_a[k]["sha256"] != gen_c[k]["sha256"] for k in gen_a.keys() & gen_c.keys()))
        # Files of the machine follow the fixed rule, whatever the seed.
        self.assertEqual({k: v for k, v in a["files"].items() if "from" in v},
                         {k: v for k, v in c["files"].items() if "from" in v})

    def test_classes_fill_their_budgets_exactly(self):
        plan = _tiny()
        m = self.gen("a", plan)
        s = dataset.summary(m)
        self.assertEqual(s["text"]["bytes"], plan.text)
        self.assertEqual(s["source"]["bytes"], plan.source)
        self.assertEqual(s["binary"]["bytes"], plan.binary)
        self.assertEqual(s["compressed"]["bytes"], plan.compressed)
        self.assertEqual(s["small"]["files"], plan.small_count)
        self.assertEqual(s["large"]["bytes"], sum(plan.large))
        self.assertEqual(s["large"]["files"], len(plan.large))
        for rel in m["files"]:
            st = os.stat(os.path.join(self.tmp, "a", rel))
            self.assertEqual(int(st.st_mtime), dataset.FIXED_MTIME, rel)
        # The full plan really is at least 500 MB, the quick one about a tenth of it.
        full = dataset.full_plan()
        size = full.text + full.source + full.binary + full.compressed + sum(full.large)
        self.assertGreaterEqual(size, 500 * 10**6)
        q = dataset.quick_plan()
        self.assertLess(q.text + q.source + q.binary + q.compressed + sum(q.large), 60 * 10**6)

    def test_classes_have_their_character(self):
        def ratio(data):
            return len(zlib.compress(data, 6)) / len(data)
        text = dataset.english_text(dataset._rng(1, "t", 0), 200_000)
        self.assertEqual(len(text), 200_000)
        self.assertTrue(0.25 < ratio(text) < 0.5, ratio(text))
        words = text.split()
        self.assertGreater(len(set(words)), 300)
        self.assertIn(b". ", text)
        self.assertIn(b"\n\n", text)
        src = dataset.source_code(dataset._rng(1, "s", 0), 200_000)
        self.assertEqual(len(src), 200_000)
        self.assertTrue(0.1 < ratio(src) < 0.4, ratio(src))
        self.assertIn(b"#include", src)
        self.assertGreater(src.count(b"{"), 100)
        rec = dataset.record_binary(dataset._rng(1, "r", 0), 100_003)
        self.assertEqual(len(rec), 100_003)
        self.assertTrue(0.2 < ratio(rec) < 0.7, ratio(rec))
        rnd = dataset._rng(1, "x", 0).randbytes(100_000)
        self.assertGreater(ratio(rnd), 0.99)

    def test_machine_files_largest_first_once_each_no_links(self):
        root = os.path.join(self.tmp, "m")
        os.makedirs(os.path.join(root, "sub"))

        def put(rel, size, elf=True):
            head = b"\x7fELF" if elf else b"#!/bin"
            with open(os.path.join(root, rel), "wb") as fh:
                fh.write(head + b"\0" * (size - len(head)))
        put("b", 300)
        put("a", 300)
        put("sub/c", 500)
        put("d", 200)
        put("script", 900, elf=False)
        put("tiny", 10)
        os.symlink(os.path.join(root, "sub", "c"), os.path.join(root, "link"))
        os.link(os.path.join(root, "sub", "c"), os.path.join(root, "hard"))
        got = dataset.pick_machine_files((root,), 1100, dataset.is_elf, min_size=100, max_size=1000)
        rel = [os.path.relpath(p, root) for p in got]
        # 500 (c or its hard link, once), then 300 + 300 by path; 200 no longer fits.
        self.assertEqual(len(rel), 3)
        self.assertIn(rel[0], ("hard", "sub/c"))
        self.assertEqual(rel[1:], ["a", "b"])
        self.assertEqual(dataset.pick_machine_files((os.path.join(self.tmp, "none"),), 1000, dataset.is_elf), [])

    def test_compare_tree_finds_every_difference(self):
        m = self.gen("a", dataset.Plan(seed=1, text=20000, source=10000, binary=5000, compressed=5000,
                                       small_count=5, small_max=100, large=(3000,),
                                       machine_roots_binary=(), machine_roots_compressed=()))
        root = os.path.join(self.tmp, "a")
        self.assertEqual(dataset.compare_tree(root, m), [])
        victim = sorted(m["files"])[0]
        p = os.path.join(root, victim)
        data = bytearray(open(p, "rb").read())
        data[len(data) // 2] ^= 1
        open(p, "wb").write(data)
        self.assertEqual(dataset.compare_tree(root, m, full=False), [])
        self.assertEqual(dataset.compare_tree(root, m), [f"content differs: {victim}"])
        os.remove(p)
        open(os.path.join(root, "stray.txt"), "w").write("x")
        last = sorted(m["files"])[-1]
        with open(os.path.join(root, last), "ab") as fh:
            fh.write(b"+")
        self.assertEqual(dataset.compare_tree(root, m, full=False),
                         ["extra file stray.txt", f"missing file {victim}", f"size differs: {last}"])

    def test_reuse_only_for_the_same_plan_and_intact_tree(self):
        plan = dataset.Plan(seed=1, text=20000, source=10000, binary=5000, compressed=5000, small_count=5,
                            small_max=100, large=(3000,), machine_roots_binary=(), machine_roots_compressed=())
        root = os.path.join(self.tmp, "d")
        msgs = []
        m1 = dataset.load_or_generate(root, plan, msgs.append)
        m2 = dataset.load_or_generate(root, plan, msgs.append)
        self.assertEqual(m1, m2)
        self.assertIn("reusing", msgs[1])
        os.truncate(os.path.join(root, sorted(m1["files"])[0]), 1)
        dataset.load_or_generate(root, plan, msgs.append)
        self.assertIn("writing", msgs[2])
        self.assertEqual(dataset.compare_tree(root, m1), [])
        plan.seed = 2
        m3 = dataset.load_or_generate(root, plan, msgs.append)
        self.assertIn("writing", msgs[3])
        self.assertNotEqual(dataset.digest(m1), dataset.digest(m3))
        with open(dataset.manifest_path(root)) as fh:
            self.assertEqual(json.load(fh)["plan"]["seed"], 2)

    @unittest.skipUnless(shutil.which("zip") and shutil.which("unzip"), "needs Info-ZIP zip and unzip")
    def test_archives_hold_the_whole_set_and_are_reproducible(self):
        from . import driver
        plan = dataset.Plan(seed=1, text=20000, source=10000, binary=5000, compressed=5000, small_count=7,
                            small_max=100, large=(3000, 1000), machine_roots_binary=(), machine_roots_compressed=())
        m = dataset.generate(os.path.join(self.tmp, "d"), plan)
        log = driver.log
        driver.log = lambda _m: None
        try:
            arch, small, huge = driver.make_archives(os.path.join(self.tmp, "d"), os.path.join(self.tmp, "z1"), m)
            arch2, _, _ = driver.make_archives(os.path.join(self.tmp, "d"), os.path.join(self.tmp, "z2"), m)
        finally:
            driver.log = log
        self.assertEqual(huge, "large/big0.bin")
        self.assertTrue(small.startswith("small/"))
        names = subprocess.run(["unzip", "-Z1", arch["all.zip"]], stdout=subprocess.PIPE, text=True).stdout.split()
        self.assertEqual(sorted(n for n in names if not n.endswith("/")), sorted(m["files"]))
        for k in arch:
            self.assertEqual(open(arch[k], "rb").read(), open(arch2[k], "rb").read(), k)
        out = os.path.join(self.tmp, "out")
        subprocess.run(["unzip", "-q", arch["all.zip"], "-d", out], check=True)
        self.assertEqual(dataset.compare_tree(out, m), [])


class SyncTreeTests(unittest.TestCase):
    def test_only_changed_files_are_written(self):
        from . import driver
        tmp = tempfile.mkdtemp(prefix="zmbench-sync-")
        try:
            new, old = os.path.join(tmp, "new"), os.path.join(tmp, "old")
            for root, files in ((new, {"a.cpp": "1", "d/b.h": "2", "d/e/c.txt": "new"}),
                                (old, {"a.cpp": "1", "d/b.h": "old", "gone.cpp": "x"})):
                for rel, text in files.items():
                    os.makedirs(os.path.dirname(os.path.join(root, rel)), exist_ok=True)
                    with open(os.path.join(root, rel), "w") as fh:
                        fh.write(text)
            os.utime(os.path.join(old, "a.cpp"), (1000, 1000))
            self.assertEqual(driver.sync_tree(new, old), 3)
            self.assertEqual(os.stat(os.path.join(old, "a.cpp")).st_mtime, 1000)
            self.assertEqual(open(os.path.join(old, "d/b.h")).read(), "2")
            self.assertEqual(open(os.path.join(old, "d/e/c.txt")).read(), "new")
            self.assertFalse(os.path.exists(os.path.join(old, "gone.cpp")))
            self.assertEqual(driver.sync_tree(new, old), 0)
        finally:
            shutil.rmtree(tmp)


class MeasureTests(unittest.TestCase):
    def test_peak_memory_is_the_childs_own(self):
        big = measure.run_timed([sys.executable, "-c", "b = bytearray(96 << 20); b[::4096] = b'x' * len(b[::4096])"])
        # This process holding much memory must not count for its small child.
        ballast = bytearray(160 << 20)
        ballast[::4096] = b"y" * len(ballast[::4096])
        small = measure.run_timed([sys.executable, "-c", "pass"])
        del ballast
        self.assertEqual(big.rc, 0)
        self.assertGreaterEqual(big.maxrss_kib, 96 << 10)
        self.assertLess(small.maxrss_kib, 64 << 10)
        self.assertGreater(big.seconds, 0)

    def test_exit_status_and_missing_program(self):
        self.assertEqual(measure.run_timed([sys.executable, "-c", "raise SystemExit(3)"]).rc, 3)
        self.assertLess(measure.run_timed(["/nonexistent/zm-tool"]).rc, 0)

    def test_rounds_rotate_and_failures_drop_out(self):
        order = []

        def prep(name):
            return lambda r: order.append((r, name))
        ok = [sys.executable, "-c", "pass"]
        tools = [measure.Tool("a", ok, prep("a")), measure.Tool("b", ok, prep("b")),
                 measure.Tool("bad", [sys.executable, "-c", "raise SystemExit(1)"], prep("bad")),
                 measure.Tool("checked", ok, prep("checked"), check=lambda r: "wrong output" if r == 1 else None)]
        measure.run_rounds(tools, 3)
        self.assertEqual([n for r, n in order if r == 0], ["a", "b", "bad", "checked"])
        self.assertEqual([n for r, n in order if r == 1], ["b", "checked", "a"])
        self.assertEqual([n for r, n in order if r == 2], ["a", "b"])
        self.assertEqual([len(t.samples) for t in tools], [3, 3, 0, 1])
        self.assertEqual(tools[2].error, "exit status 1")
        self.assertEqual(tools[3].error, "wrong output")
        self.assertEqual(measure.interleave_order(3, 4), [1, 2, 0])

    def test_median(self):
        self.assertEqual(measure.median([5, 1, 3]), 3)
        self.assertEqual(measure.median([4, 1, 3, 2]), 2.5)
        with self.assertRaises(ValueError):
            measure.median([])


INFLATE_OUT = """kind          MiB   ratio  ours MB/s  zlib MB/s  ldef MB/s ours/zlib ours/ldef
text          8.0   0.312      612.3      401.0      950.5      1.53      0.64
source        8.0   0.201      700.0      350.0     1000.0      2.00      0.70
binary        8.0   0.350      500.0      400.0      800.0      1.25      0.62
poor          8.0   0.900     1500.0      900.0     2000.0      1.67      0.75
overall      32.0            700.1      450.2     1000.3      1.56      0.70
"""

CRC_OUT = """CRC-32 over 16 x 16 MiB = 256 MiB (best of 3 runs)
  zlib crc32                                      1200.5 MB/s    1.00x zlib   crc 1234ABCD
  ZipMate slicing by 8 (portable fallback)        1500.0 MB/s    1.25x zlib   crc 1234ABCD
  ZipMate Crc32Update (table, 1 byte/lookup)       400.0 MB/s    0.33x zlib   crc 1234ABCD
  ZipMate Crc32 (carry-less multiply folding)    12000.0 MB/s   10.00x zlib   crc 1234ABCD
  libdeflate_crc32                               11000.0 MB/s    9.16x zlib   crc 1234ABCD
"""

LISTING_OUT = """archive /tmp/x/all.zip: 123456 bytes
ZipMate listing                         12.5 ms  (2466 entries, check 99)
unzip -Z1                               40.0 ms  ratio 3.20x
python3 zipfile (whole process)         80.0 ms  ratio 6.40x
python3 zipfile (listing only)          30.0 ms  ratio 2.40x
"""


ZIPINFLATE_OUT = """class         entries       MiB  ours MB/s  zlib MB/s  ldef MB/s ours/zlib ours/ldef
binary            120      98.5      400.0      300.0      700.0      1.33      0.57
small           20000      40.0      200.5      150.0      300.0      1.34      0.67
overall         20120     138.5      350.0      250.0      550.0      1.40      0.64
(12 entries not deflated or empty were left out)
"""


class ParserTests(unittest.TestCase):
    def test_zipinflate_bench(self):
        r = measure.parse_zipinflate_bench(ZIPINFLATE_OUT)
        self.assertEqual(list(r), ["binary", "small", "overall"])
        self.assertEqual(r["small"]["entries"], 20000)
        self.assertEqual(r["binary"]["mib"], 98.5)
        self.assertEqual((r["overall"]["vs_zlib"], r["overall"]["vs_libdeflate"]), (1.40, 0.64))
        with self.assertRaises(measure.ParseError):
            measure.parse_zipinflate_bench(ZIPINFLATE_OUT.replace("20000", "many"))
        with self.assertRaises(measure.ParseError):
            measure.parse_zipinflate_bench("no deflated entries\n")

    def test_inflate_rows_take_medians_and_hold_the_target(self):
        from . import driver
        runs = [measure.parse_zipinflate_bench(ZIPINFLATE_OUT.replace("1.40", v)) for v in ("1.40", "1.90", "2.00")]
        rows = driver._inflate_rows(runs, lambda k: k, ["binary", "overall"])
        self.assertEqual([(r.data, r.peer) for r in rows],
                         [("binary", "zlib"), ("overall", "zlib"), ("overall", "libdeflate")])
        self.assertEqual(rows[1].ratio, 1.90)
        self.assertEqual(rows[1].verdict(), "met")
        self.assertEqual(rows[0].verdict(), "met")  # a class against zlib: 1.33x of at least 1x
        self.assertEqual(rows[2].ratio, 0.64)
        self.assertEqual(rows[2].verdict(), "not met")  # against libdeflate: at least 1.05x

    def test_inflate_bench(self):
        r = measure.parse_inflate_bench(INFLATE_OUT)
        self.assertEqual(list(r), ["text", "source", "binary", "poor", "overall"])
        self.assertEqual(r["text"]["ours"], 612.3)
        self.assertEqual(r["source"]["vs_zlib"], 2.0)
        self.assertEqual(r["overall"]["zlib"], 450.2)
        self.assertEqual(r["overall"]["vs_libdeflate"], 0.70)
        nold = INFLATE_OUT.replace("950.5", "0.0")
        self.assertIsNone(measure.parse_inflate_bench(nold)["text"]["libdeflate"])
        with self.assertRaises(measure.ParseError):
            measure.parse_inflate_bench(INFLATE_OUT.splitlines()[0] + "\ntext 8.0 x y\n")
        with self.assertRaises(measure.ParseError):
            measure.parse_inflate_bench("\n".join(INFLATE_OUT.splitlines()[:-1]))

    def test_crc32_bench(self):
        r = measure.parse_crc32_bench(CRC_OUT)
        self.assertEqual((r["zlib"], r["ours"], r["libdeflate"]), (1200.5, 12000.0, 11000.0))
        self.assertIn("carry-less", r["ours_name"])
        with self.assertRaises(measure.ParseError):
            measure.parse_crc32_bench(CRC_OUT + "ERROR: the CRC values differ\n")
        with self.assertRaises(measure.ParseError):
            measure.parse_crc32_bench(CRC_OUT.replace("ZipMate Crc32 (", "Other ("))

    def test_listing_bench(self):
        r = measure.parse_listing_bench(LISTING_OUT)
        self.assertEqual(r, {"ours": 0.0125, "entries": 2466, "unzip": 0.04, "python": 0.08})
        with self.assertRaises(measure.ParseError):
            measure.parse_listing_bench("unzip is not installed\n")


class TableTests(unittest.TestCase):
    def test_verdicts_at_the_limits(self):
        t = report.TARGETS
        self.assertTrue(t["extract/unzip"].met(2.0))
        self.assertFalse(t["extract/unzip"].met(1.99))
        self.assertFalse(t["extract/bsdtar"].met(1.0))
        self.assertTrue(t["extract/bsdtar"].met(1.01))
        self.assertTrue(t["memory/huge-small"].met(1.25))
        self.assertFalse(t["memory/huge-small"].met(1.3))
        self.assertIsNone(t["listing/unzip"].met(None))
        self.assertEqual(t["inflate/zlib"].text(), "≥ 1.8×")

    def rows(self):
        return [report.Row("Listing", "all.zip", "10.0 ms", "unzip -Z1", "40.0 ms", 4.0, report.TARGETS["listing/unzip"]),
                report.Row("Extraction", "all | more", "1.00 s", "unzip -o -q", "1.50 s", 1.5, report.TARGETS["extract/unzip"]),
                report.Row("Extraction", "all", "1.00 s", "7z x -y", "not installed"),
                report.Row("Testing", "all", "failed: exit status 1", "unzip -t", "2.00 s", None, report.TARGETS["test/unzip"])]

    def test_table_is_well_formed(self):
        lines = report.table(self.rows()).splitlines()
        self.assertEqual(len(lines), 2 + 4)
        widths = {len(x) for x in lines}
        self.assertEqual(len(widths), 1, "columns are padded to one width")
        for x in lines:
            self.assertEqual(x.replace("\\|", "").count("|"), len(report.COLUMNS) + 1, x)
        self.assertIn("all \\| more", lines[3])
        cells = [c.strip() for c in lines[2].split("|")[1:-1]]
        self.assertEqual(cells, ["Listing", "all.zip", "10.0 ms", "unzip -Z1", "40.0 ms", "4.00×", "≥ 3×", "met"])
        self.assertTrue(lines[3].rstrip(" |").endswith("not met"))
        self.assertTrue(lines[4].rstrip(" |").endswith("—"))
        self.assertTrue(lines[5].rstrip(" |").endswith("not measured"))
        self.assertEqual(report.summary_counts(self.rows()), (1, 1))

    def test_document_has_every_part(self):
        doc = report.document(self.rows(), [("CPU", "Test CPU"), ("RAM", "1 GiB")], ["100 MB in 5 files"],
                              "bench/run --write-docs", "2026-01-01 00:00 UTC", 5, ["a note"])
        for part in ("# Performance", "## Results", "## Machine", "## Data set", "## Notes",
                     "`bench/run --write-docs`", "2026-01-01 00:00 UTC", "median of 5 runs",
                     "- CPU: Test CPU", "100 MB in 5 files", "Targets met: 1, not met: 1", "- a note"):
            self.assertIn(part, doc)
        self.assertIn(report.table(self.rows()), doc)

    def test_sections_measured_by_hand_are_carried_over(self):
        kept = report.KEPT_BEGIN + "\n## Cores\n| a | 1 |\n" + report.KEPT_END + "\n"
        old = "# P\n\n## Results\nold\n\n" + kept + "\n## Machine\n- CPU: x\n"
        new = "# P\n\n## Results\nnew\n\n## Machine\n- CPU: y\n"
        self.assertEqual(report.carry_kept(old, new), "# P\n\n## Results\nnew\n\n" + kept + "\n## Machine\n- CPU: y\n")
        self.assertEqual(report.carry_kept("# P\n", new), new)
        self.assertTrue(report.carry_kept(old, "# P\n").endswith("\n\n" + kept + "\n"))

    def test_formats(self):
        self.assertEqual(report.fmt_seconds(0.0123), "12.3 ms")
        self.assertEqual(report.fmt_seconds(2.345), "2.35 s")
        self.assertEqual(report.fmt_seconds(None), "—")
        self.assertEqual(report.fmt_ratio(1.234), "1.23×")
        self.assertEqual(report.fmt_mib(3.0), "3.0 MiB")


class ScalingTests(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="zmbench-scale-")

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def test_many_entries_read_back_past_the_16_bit_count(self):
        n = 70_000
        path = os.path.join(self.tmp, "f.zip")
        scaling.write_archive(path, [scaling.folder_name(i, n) for i in range(n)])
        with zipfile.ZipFile(path) as z:
            names = z.namelist()
            self.assertIsNone(z.testzip())
        self.assertEqual(len(names), n)
        self.assertEqual((names[0], names[-1]), ("d0000/f0000000.txt", "d0999/f0069999.txt"))
        self.assertEqual(len({x.split("/")[0] for x in names}), scaling.FOLDERS)
        if shutil.which("unzip"):
            out = subprocess.run(["unzip", "-Z1", path], stdout=subprocess.PIPE, text=True, check=True).stdout
            self.assertEqual(out.split(), names)

    def test_section_replaces_only_its_own_block(self):
        res = {("Listing", "flat"): {10: {"zmtool list": (0.01, 3.0), "unzip -Z1": (0.04, 2.0)},
                                     100: {"zmtool list": (0.02, 4.0), "unzip -Z1": "failed: exit status 9"}},
               ("Listing", "folders"): {100: {"zmtool list": (0.5, 300.0), "unzip -Z1": (1.0, 2.5)}}}
        blk = scaling.block(res, {"unzip -o -q": (2.0, 3.0)}, 1 << 30, ["scaling-listing.png"], "bench/run",
                            "2026-01-01 00:00 UTC", 3, (1.5, 2.5))
        self.assertIn("| flat | 100 | 20.0 ms, 4.0 MiB | failed: exit status 9 |", blk)
        self.assertIn("load average\n1.50 before and 2.50 after", blk)
        self.assertIn("(img/scaling-listing.png)", blk)
        self.assertIn("| unzip -o -q | 2.00 s | 3.0 MiB | 537 MB/s |", blk)
        rows = scaling.listing_rows(res)
        # Per layout: peak memory over the listing's bound of 100 MiB, then the time against unzip.
        self.assertEqual([(r.ratio, r.verdict()) for r in rows],
                         [(0.04, "met"), (None, "not measured"), (3.0, "not met"), (2.0, "not met")])
        page = "# P\n\n" + blk + "\n## Machine\n- CPU: x\n"
        again = scaling.splice(page, blk.replace("20.0 ms", "30.0 ms"))
        self.assertEqual(again, page.replace("20.0 ms", "30.0 ms"))
        self.assertEqual(scaling.splice("# P\n\n## Machine\n- CPU: x\n", blk), page)

    @unittest.skipUnless(os.access(os.path.join(SRC_BUILD, "examples", "zmtool", "zmtool"), os.X_OK) and
                         shutil.which("zip"), "needs the default build's zmtool and Info-ZIP zip")
    def test_quick_run_measures_every_tool(self):
        progs = {"zmtool": os.path.join(SRC_BUILD, "examples", "zmtool", "zmtool")}
        res = scaling.bench_entries(progs, (300,), 1, self.tmp, lambda _m: None)
        self.assertEqual(set(res), {(op, lay) for op in scaling.TOOLS for lay in scaling.LAYOUTS})
        for per_n in res.values():
            for per_tool in per_n.values():
                self.assertTrue(all(not isinstance(v, str) for v in per_tool.values()), per_tool)
        size = 1 << 20
        big = scaling.bench_big(progs, scaling.big_archive(self.tmp, size, 1, lambda _m: None), size,
                                self.tmp, 1, lambda _m: None)
        self.assertTrue(all(not isinstance(v, str) for v in big.values()), big)
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "big-out")))
        pictures = scaling.plot(res, os.path.join(self.tmp, "img"))
        for p in pictures or ():
            with open(os.path.join(self.tmp, "img", p), "rb") as fh:
                self.assertEqual(fh.read(8), b"\x89PNG\r\n\x1a\n")


def run():
    suite = unittest.defaultTestLoader.loadTestsFromModule(sys.modules[__name__])
    result = unittest.TextTestRunner(verbosity=1).run(suite)
    return 0 if result.wasSuccessful() else 1
