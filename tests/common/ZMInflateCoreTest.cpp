// Differential tests of the inflate core against zlib's deflate: every level and
// strategy, many data kinds and sizes, split input and small output chunks.
#include "ZMCrc32.h"
#include "ZMInflateCore.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "TestDeflate.h"

namespace {

using Bytes = std::vector<uint8_t>;
using zmtest::DeflateRaw;

enum TKind { kText, kSource, kBinary, kRandom, kRuns, kKindCount };
const char* const kKindNames[] = {"text", "source", "binary", "random", "runs"};

Bytes MakeData(TKind kind, size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes d;
  d.reserve(size + 64);
  static const char* const words[] = {
      "the",      "rate", "table", "of",    "labour", "price",   "list",  "quarter", "and",   "construction",
      "estimate", "for",  "a",     "value", "zip",    "archive", "entry", "window",  "Tarnix"};
  switch (kind) {
    case kText:
      while (d.size() < size) {
        const char* w = words[rng() % (sizeof(words) / sizeof(words[0]))];
        d.insert(d.end(), w, w + std::strlen(w));
        uint32_t r = rng() % 20;
        d.push_back(r == 0 ? '\n' : r == 1 ? ',' : ' ');
      }
      break;
    case kSource:
      while (d.size() < size) {
        int indent = int(rng() % 4) * 2;
        d.insert(d.end(), size_t(indent), ' ');
        std::string line = "if (FCount" + std::to_string(rng() % 50) + " > " + std::to_string(rng() % 1000) +
                           ") { Result = Read(Buf, " + std::to_string(rng() % 65536) + "); }\n";
        d.insert(d.end(), line.begin(), line.end());
      }
      break;
    case kBinary: {
      uint32_t v = rng();
      while (d.size() < size) {
        v += rng() % 64;
        uint8_t rec[12];
        std::memcpy(rec, &v, 4);
        uint32_t tag = rng() % 5;
        std::memcpy(rec + 4, &tag, 4);
        uint32_t f = uint32_t(d.size() * 3);
        std::memcpy(rec + 8, &f, 4);
        d.insert(d.end(), rec, rec + 12);
      }
      break;
    }
    case kRandom:
      while (d.size() < size) d.push_back(uint8_t(rng()));
      break;
    case kRuns:
      // Runs and short periodic patterns: distances 1 to 7 and long matches.
      while (d.size() < size) {
        size_t period = 1 + rng() % 7;
        size_t n = 1 + rng() % 400;
        uint8_t pat[8];
        for (auto& p : pat) p = uint8_t(rng() % 4 + 'a');
        for (size_t i = 0; i < n; ++i) d.push_back(pat[i % period]);
        if (rng() % 3 == 0) d.push_back(uint8_t(rng()));
      }
      break;
    default: break;
  }
  d.resize(size);
  return d;
}

struct TDecoded {
  int Result = -1;
  Bytes Data;
  uint32_t Crc = 0;
  uint64_t InRead = 0;
  uint64_t InConsumed = 0;
};

// Decodes with the reader handing out chunks between 1 and maxChunk bytes (random when
// rng is given) and the core flushing every outChunk bytes.
TDecoded Decode(const Bytes& comp, std::mt19937* rng = nullptr, size_t maxChunk = 1 << 16,
                size_t outChunk = 0, zm::TInflateMode mode = zm::TInflateMode::Deflate) {
  TDecoded r;
  static zm::TZMInflateCore deflate(zm::TInflateMode::Deflate);
  static zm::TZMInflateCore deflate64(zm::TInflateMode::Deflate64);
  zm::TZMInflateCore& core = mode == zm::TInflateMode::Deflate ? deflate : deflate64;
  core.SetOutChunk(outChunk);
  size_t pos = 0;
  uint32_t crc = 0xFFFFFFFFu;
  zm::TZMInflateCore::TReader reader = [&](uint8_t* buf, size_t max) -> ptrdiff_t {
    size_t n = std::min({max, comp.size() - pos, maxChunk});
    if (rng && n > 1) n = 1 + (*rng)() % n;
    std::memcpy(buf, comp.data() + pos, n);
    pos += n;
    return ptrdiff_t(n);
  };
  zm::TZMInflateCore::TSink sink = [&](const uint8_t* p, size_t n) {
    if (outChunk) {
      EXPECT_LE(n, outChunk);
    }
    r.Data.insert(r.Data.end(), p, p + n);
    crc = zm::Crc32UpdateFast(crc, p, n);
    return true;
  };
  r.Result = core.Inflate(reader, sink);
  r.Crc = ~crc;
  r.InRead = core.InRead();
  r.InConsumed = core.InConsumed();
  EXPECT_EQ(core.OutCount(), r.Data.size());
  return r;
}

uint32_t ZCrc(const Bytes& d) { return uint32_t(crc32(0, d.data(), uInt(d.size()))); }

struct TStrategy {
  int Id;
  const char* Name;
};
const TStrategy kStrategies[] = {{Z_DEFAULT_STRATEGY, "default"},
                                 {Z_FILTERED, "filtered"},
                                 {Z_HUFFMAN_ONLY, "huffman"},
                                 {Z_RLE, "rle"},
                                 {Z_FIXED, "fixed"}};

// Every level and strategy over every data kind at sizes around the window and block
// limits; each stream is decoded whole, with random small reads or with small output
// chunks, in turn.
TEST(InflateCore, MatchesZlibForEveryLevelStrategyKindAndSize) {
  const size_t sizes[] = {0, 1, 2, 3, 7, 100, 1000, 4097, 33000, 70000};
  std::mt19937 rng(4242);
  int streams = 0;
  for (int kind = 0; kind < kKindCount; ++kind) {
    for (size_t size : sizes) {
      Bytes data = MakeData(TKind(kind), size, uint32_t(kind * 1000 + size));
      uint32_t want = ZCrc(data);
      for (const TStrategy& st : kStrategies) {
        for (int level = 0; level <= 9; ++level) {
          Bytes comp = DeflateRaw(data, level, st.Id, 1 + (streams % 9));
          TDecoded got;
          switch (streams % 3) {
            case 0: got = Decode(comp); break;
            case 1: got = Decode(comp, &rng, 1 + rng() % 40); break;
            default: got = Decode(comp, &rng, 1 << 16, 1 + rng() % 700); break;
          }
          ++streams;
          ASSERT_EQ(got.Result, zm::irOk)
              << kKindNames[kind] << " size " << size << " level " << level << " strategy " << st.Name;
          ASSERT_TRUE(got.Data == data)
              << kKindNames[kind] << " size " << size << " level " << level << " strategy " << st.Name;
          ASSERT_EQ(got.Crc, want);
          ASSERT_EQ(got.InConsumed, comp.size());
        }
      }
    }
  }
  EXPECT_EQ(streams, kKindCount * 10 * 5 * 10);
}

// Random sizes and random mixes of data kinds, decoded with random chunking.
TEST(InflateCore, MatchesZlibForRandomMixedBuffers) {
  std::mt19937 rng(777);
  for (int round = 0; round < 600; ++round) {
    Bytes data;
    size_t parts = 1 + rng() % 4;
    for (size_t p = 0; p < parts; ++p) {
      Bytes part = MakeData(TKind(rng() % kKindCount), rng() % 6000, rng());
      data.insert(data.end(), part.begin(), part.end());
    }
    int level = int(rng() % 10);
    const TStrategy& st = kStrategies[rng() % 5];
    Bytes comp = DeflateRaw(data, level, st.Id);
    TDecoded got = Decode(comp, &rng, 1 + rng() % 3000, (round & 1) ? 1 + rng() % 5000 : 0);
    ASSERT_EQ(got.Result, zm::irOk) << "round " << round;
    ASSERT_TRUE(got.Data == data) << "round " << round;
    ASSERT_EQ(got.Crc, ZCrc(data));
  }
}

// Several MiB per stream: many output chunks, window slides and input refills.
TEST(InflateCore, MatchesZlibForLargeStreams) {
  std::mt19937 rng(99);
  struct TCase {
    TKind Kind;
    size_t Size;
    int Level;
    int Strategy;
  };
  const TCase cases[] = {{kText, 4u << 20, 6, Z_DEFAULT_STRATEGY},
                         {kSource, 3u << 20, 9, Z_DEFAULT_STRATEGY},
                         {kBinary, 3u << 20, 1, Z_DEFAULT_STRATEGY},
                         {kRandom, 2u << 20, 6, Z_DEFAULT_STRATEGY},
                         {kRuns, 3u << 20, 6, Z_RLE},
                         {kText, 2u << 20, 6, Z_HUFFMAN_ONLY},
                         {kSource, 2u << 20, 0, Z_DEFAULT_STRATEGY},
                         {kBinary, 2u << 20, 4, Z_FIXED}};
  for (const TCase& c : cases) {
    Bytes data = MakeData(c.Kind, c.Size, uint32_t(c.Size));
    Bytes comp = DeflateRaw(data, c.Level, c.Strategy);
    TDecoded whole = Decode(comp);
    ASSERT_EQ(whole.Result, zm::irOk) << kKindNames[c.Kind];
    ASSERT_TRUE(whole.Data == data) << kKindNames[c.Kind];
    ASSERT_EQ(whole.Crc, ZCrc(data));
    TDecoded split = Decode(comp, &rng, 32767, 65536 + 13);
    ASSERT_EQ(split.Result, zm::irOk) << kKindNames[c.Kind];
    ASSERT_TRUE(split.Data == data) << kKindNames[c.Kind];
  }
}

// Data after the end of the stream is ignored and not read beyond the current chunk.
TEST(InflateCore, StopsAtTheEndOfTheStream) {
  Bytes data = MakeData(kText, 50000, 5);
  Bytes comp = DeflateRaw(data, 6, Z_DEFAULT_STRATEGY);
  Bytes padded = comp;
  for (int i = 0; i < 5000; ++i) padded.push_back(uint8_t(i * 7));
  for (size_t chunk : {size_t(1), size_t(10), size_t(4096), size_t(1) << 16}) {
    TDecoded got = Decode(padded, nullptr, chunk);
    ASSERT_EQ(got.Result, zm::irOk);
    EXPECT_TRUE(got.Data == data);
    EXPECT_EQ(got.InConsumed, comp.size());
    EXPECT_LT(got.InRead, comp.size() + chunk) << "chunk " << chunk;
  }
}

TEST(InflateCore, ReportsSinkAndReaderFailures) {
  Bytes data = MakeData(kSource, 600000, 8);
  Bytes comp = DeflateRaw(data, 6, Z_DEFAULT_STRATEGY);
  zm::TZMInflateCore core;
  int calls = 0;
  zm::TZMInflateCore::TSink refuseSecond = [&](const uint8_t*, size_t) { return ++calls < 2; };
  EXPECT_EQ(core.Inflate(zmtest::ChunkReader(comp), refuseSecond), zm::irWriteFailed);
  EXPECT_EQ(calls, 2);

  // The same decoder runs again; a reader error is reported as such.
  size_t pos = 0;
  zm::TZMInflateCore::TReader failing = [&](uint8_t* buf, size_t max) -> ptrdiff_t {
    if (pos > 1000) return -1;
    size_t n = std::min<size_t>(max, 500);
    std::memcpy(buf, comp.data() + pos, n);
    pos += n;
    return ptrdiff_t(n);
  };
  EXPECT_EQ(core.Inflate(failing, nullptr), zm::irReadFailed);

  // And a whole run without a sink only counts.
  EXPECT_EQ(core.Inflate(zmtest::ChunkReader(comp), nullptr), zm::irOk);
  EXPECT_EQ(core.OutCount(), data.size());
}

}  // namespace
