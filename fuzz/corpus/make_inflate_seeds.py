#!/usr/bin/env python3
"""Writes the seed corpus of inflate_fuzz: small raw deflate streams made by zlib.

Each seed starts with two bytes the fuzz target reads as its chunking seed and flags
(bit 0: Deflate64 mode, bit 1: small output chunks, bits 2-7: zlib strategy and level
for the round trip), followed by the compressed stream.
"""
import os
import random
import zlib

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "inflate")


def raw_deflate(data, level, strategy):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 8, strategy)
    return c.compress(data) + c.flush()


def main():
    os.makedirs(HERE, exist_ok=True)
    rng = random.Random(1951)
    text = b"Informacje kwartalne: stawka robocizny 21,50 zl/h; " * 20
    source = b"".join(b"  if (FCount%d > %d) Result = Read(Buf, %d);\n" % (i % 7, i, i * 3)
                      for i in range(60))
    binary = bytes((i * i) & 0xFF for i in range(1500))
    noise = bytes(rng.getrandbits(8) for _ in range(700))
    runs = b"a" * 300 + b"ab" * 200 + b"abc" * 150 + b"\x00" * 500
    cases = [
        ("empty", b"", 6, zlib.Z_DEFAULT_STRATEGY, 0x00),
        ("byte", b"x", 6, zlib.Z_DEFAULT_STRATEGY, 0x10),
        ("text6", text, 6, zlib.Z_DEFAULT_STRATEGY, 0x60),
        ("text9_filtered", text, 9, zlib.Z_FILTERED, 0x94),
        ("source1", source, 1, zlib.Z_DEFAULT_STRATEGY, 0x12),
        ("source_fixed", source, 6, zlib.Z_FIXED, 0x70),
        ("binary_huffman", binary, 6, zlib.Z_HUFFMAN_ONLY, 0x68),
        ("binary_rle", binary, 6, zlib.Z_RLE, 0x6C),
        ("noise", noise, 6, zlib.Z_DEFAULT_STRATEGY, 0x62),
        ("stored", noise[:200], 0, zlib.Z_DEFAULT_STRATEGY, 0x00),
        ("runs", runs, 9, zlib.Z_DEFAULT_STRATEGY, 0x91),
        ("runs_rle", runs, 4, zlib.Z_RLE, 0x4D),
    ]
    for i, (name, data, level, strategy, flags) in enumerate(cases):
        body = raw_deflate(data, level, strategy)
        with open(os.path.join(HERE, "%02d_%s.bin" % (i, name)), "wb") as f:
            f.write(bytes([(i * 37 + 5) & 0xFF, flags]) + body)


if __name__ == "__main__":
    main()
