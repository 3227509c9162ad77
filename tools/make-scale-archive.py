#!/usr/bin/env python3
"""Write an archive of many empty entries, for measuring time and memory at scale.

  make-scale-archive.py --entries N --layout flat|folders OUT

flat:    x/000000.txt, x/000001.txt, ...
folders: d0000/f0000000.txt, ... (1,000 entries per folder)
"""
import argparse
import zipfile


def entry_name(layout, i):
    if layout == "flat":
        return "x/%06d.txt" % i
    return "d%04d/f%07d.txt" % (i // 1000, i)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--entries", type=int, required=True)
    parser.add_argument("--layout", choices=("flat", "folders"), default="flat")
    parser.add_argument("out")
    args = parser.parse_args()
    if args.entries < 0:
        parser.error("--entries must not be negative")
    with zipfile.ZipFile(args.out, "w", zipfile.ZIP_STORED, allowZip64=True) as zf:
        for i in range(args.entries):
            info = zipfile.ZipInfo(entry_name(args.layout, i), (2016, 1, 1, 0, 0, 0))
            zf.writestr(info, b"")


if __name__ == "__main__":
    main()
