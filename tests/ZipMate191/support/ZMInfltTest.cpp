#include "ZMInflt.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <utility>
#include <string>
#include <vector>

#include "TestDeflate.h"
#include "ZMEndian.h"
#include "ZMXcpt.h"

namespace {

using Bytes = std::vector<uint8_t>;
using zmtest::DeflateRaw;

uint32_t ZCrc(const Bytes& d) { return uint32_t(crc32(0, d.data(), uInt(d.size()))); }

Bytes Sample(size_t n) {
  Bytes d;
  for (size_t i = 0; d.size() < n; ++i) {
    std::string s = "Stawka " + std::to_string(i % 97) + " zl/h; ";
    d.insert(d.end(), s.begin(), s.end());
  }
  d.resize(n);
  return d;
}

// A memory stream that records the sizes of reads and writes and can refuse writes.
class TRecordingStream : public TMemoryStream {
 public:
  int Read(void* buffer, int count) override {
    Reads.push_back(count);
    return TMemoryStream::Read(buffer, count);
  }
  int Write(const void* buffer, int count) override {
    Writes.push_back(count);
    if (FailAfter >= 0 && int64_t(Writes.size()) > FailAfter) return count / 2;
    return TMemoryStream::Write(buffer, count);
  }
  std::vector<int> Reads, Writes;
  int FailAfter = -1;
};

// n bytes of the sample text and their raw deflate stream.
std::pair<Bytes, Bytes> DeflatedSample(size_t n) {
  Bytes data = Sample(n);
  Bytes comp = DeflateRaw(data);
  return {data, comp};
}

void Load(TMemoryStream& s, const Bytes& b) {
  s.LoadFromBytes(b.data(), b.size());
  s.SetPosition(0);
}

Bytes Contents(TMemoryStream& s) { return s.Bytes(); }

// InflateStream of size bytes of in by the method into out, expecting the CRC of data.
int32_t InflateExpecting(TStream* out, TMemoryStream& in, int method, const Bytes& data, int64_t size) {
  uint32_t crc = ZCrc(data);
  return InflateStream(out, &in, method, crc, size);
}

int32_t Msg(int32_t code) { return ZMMsgOf(code); }

TEST(ZMInflt, InflateStreamDecodesAndChecksTheCrc) {
  const auto [data, comp] = DeflatedSample(200000);
  TRecordingStream in;
  Load(in, comp);
  TMemoryStream out;
  uint32_t crc = ZCrc(data);
  ASSERT_EQ(InflateStream(&out, &in, 8, crc, int64_t(comp.size())), 0);
  EXPECT_EQ(Contents(out), data);
  EXPECT_EQ(crc, ZCrc(data));
  for (int r : in.Reads) EXPECT_LE(r, TZMInflate::kInChunk);

  // A wrong expected CRC: the message-150 code of this module, the computed CRC back.
  Load(in, comp);
  TMemoryStream out2;
  uint32_t wrong = ZCrc(data) ^ 1;
  int32_t r = InflateStream(&out2, &in, 8, wrong, int64_t(comp.size()));
  EXPECT_LT(r, 0);
  EXPECT_EQ(Msg(r), 150);
  EXPECT_EQ((-r) >> 23, int(zmmZMInflt));
  EXPECT_EQ(wrong, ZCrc(data));

  uint32_t any = 0;
  r = InflateStream(&out2, &in, 9, any, 10);
  EXPECT_LT(r, 0);
  EXPECT_EQ(Msg(r), 128);
}

TEST(ZMInflt, DataResults) {
  auto run = [](const Bytes& comp, int64_t size = -1) {
    TMemoryStream in, out;
    Load(in, comp);
    uint32_t crc = 0;
    return InflateStream(&out, &in, 8, crc, size < 0 ? int64_t(comp.size()) : size);
  };
  EXPECT_EQ(run({}), 1) << "empty input";
  EXPECT_EQ(run({0x07}), 2) << "reserved block type";
  EXPECT_EQ(run({0x01, 0x05, 0x00, 0x00, 0x00, 'a', 'b', 'c', 'd', 'e'}), 1) << "bad complement";
  // Over-subscribed code-length code: all nineteen lengths 1.
  {
    // Header bits: last 1, dynamic 2 (2 bits), 0 (5), 0 (5), 15 (4), then 19 lengths of 1.
    uint64_t acc = 1 | (2u << 1) | (0u << 3) | (0u << 8) | (uint64_t(15) << 13);
    unsigned n = 17;
    Bytes b;
    for (int i = 0; i < 19; ++i) {
      acc |= uint64_t(1) << n;
      n += 3;
      while (n >= 8) {
        b.push_back(uint8_t(acc));
        acc >>= 8;
        n -= 8;
      }
    }
    b.push_back(uint8_t(acc));
    EXPECT_EQ(run(b), 2) << "over-subscribed";
  }
  Bytes comp = DeflateRaw(Sample(5000));
  EXPECT_EQ(run(comp, int64_t(comp.size()) - 1), 1) << "truncated by the size";
  Bytes cut(comp.begin(), comp.end() - 3);
  EXPECT_EQ(run(cut), 1) << "truncated input";
}

TEST(ZMInflt, ReadsOnlyWhatItMayAndLeavesTrailingBytes) {
  const auto [data, comp] = DeflatedSample(100000);
  Bytes padded = comp;
  padded.resize(comp.size() + 100000, 0xAB);
  TRecordingStream in;
  Load(in, padded);
  TMemoryStream out;
  ASSERT_EQ(InflateExpecting(&out, in, 8, data, int64_t(padded.size())), 0);
  EXPECT_EQ(Contents(out), data);
  EXPECT_GE(in.Position(), int64_t(comp.size()));
  EXPECT_LT(in.Position(), int64_t(comp.size()) + TZMInflate::kInChunk);

  // A size limit is never read past, whatever the stream holds.
  TRecordingStream in2;
  Load(in2, padded);
  TZMInflate dec;
  dec.InStream = &in2;
  dec.InRemaining = int64_t(comp.size() / 2);
  EXPECT_EQ(dec.Inflate(), 1);
  EXPECT_EQ(in2.Position(), int64_t(comp.size() / 2));
  EXPECT_EQ(dec.InRemaining, 0);
}

TEST(ZMInflt, CountsAndChecksWithoutAnOutputStream) {
  const auto [data, comp] = DeflatedSample(70000);
  TMemoryStream in;
  Load(in, comp);
  TZMInflate dec;
  dec.InStream = &in;
  dec.InRemaining = int64_t(comp.size());
  ASSERT_EQ(dec.Inflate(), 0);
  EXPECT_EQ(dec.OutCount, int64_t(data.size()));
  EXPECT_EQ(dec.Crc, ZCrc(data));

  Load(in, data);
  EXPECT_EQ(InflateExpecting(nullptr, in, 0, data, int64_t(data.size())), 0);
}

TEST(ZMInflt, StoredCopies) {
  Bytes data = Sample(100000);
  TRecordingStream in, out;
  Load(in, data);
  ASSERT_EQ(InflateExpecting(&out, in, 0, data, int64_t(data.size())), 0);
  EXPECT_EQ(Contents(out), data);
  EXPECT_EQ(out.Writes, (std::vector<int>{32768, 32768, 32768, 1696}));

  TMemoryStream empty, out0;
  uint32_t zero = 0;
  EXPECT_EQ(InflateStream(&out0, &empty, 0, zero, 0), 0);
  EXPECT_EQ(out0.Size(), 0);

  // Fewer bytes than the size: the write-error code, as for a failed write.
  Load(in, Bytes(data.begin(), data.begin() + 5000));
  TMemoryStream out1;
  const int32_t r = InflateExpecting(&out1, in, 0, data, 6000);
  EXPECT_LT(r, 0);
  EXPECT_EQ(Msg(r), 175);
}

TEST(ZMInflt, FailedWritesGiveTheWriteErrorCode) {
  const auto [data, comp] = DeflatedSample(400000);
  for (uint16_t method : {uint16_t(0), uint16_t(8)}) {
    const Bytes& src = method ? comp : data;
    TMemoryStream in;
    Load(in, src);
    TRecordingStream out;
    out.FailAfter = 1;
    uint32_t crc = ZCrc(data);
    int32_t r = InflateStream(&out, &in, method, crc, int64_t(src.size()));
    EXPECT_LT(r, 0) << method;
    EXPECT_EQ(Msg(r), 175) << method;
  }
}

TEST(ZMInflt, SameStreamIsRefused) {
  Bytes comp = DeflateRaw(Sample(100));
  TMemoryStream s;
  Load(s, comp);
  for (uint16_t method : {uint16_t(0), uint16_t(8)}) {
    uint32_t crc = 0;
    try {
      InflateStream(&s, &s, method, crc, int64_t(comp.size()));
      ADD_FAILURE() << "no exception for method " << method;
    } catch (const std::exception& e) {
      EXPECT_STREQ(e.what(), "Streams the same");
    }
  }
}

TEST(ZMInflt, TablePoolExhaustionRaises) {
  Bytes comp = DeflateRaw(Sample(20000));
  TMemoryStream in;
  Load(in, comp);
  TZMInflate dec(700);
  dec.InStream = &in;
  dec.InRemaining = int64_t(comp.size());
  try {
    dec.Inflate();
    ADD_FAILURE() << "no exception";
  } catch (const EZipMate& e) {
    EXPECT_EQ(e.FullCode & 0x1FF, 198);
    EXPECT_EQ(e.FullCode >> 23, int(zmmZMInflt));
  }
}

TEST(ZMInflt, DistanceBeforeTheFirstByteCopiesZeros) {
  // Fixed block: length 3 at distance 1 before any output, then a literal 'z'.
  // Bits: 1, 01, code 257 = 0000001, distance 0 = 00000, 'z' = 0x30+'z' (8 bits), end.
  uint64_t acc = 0;
  unsigned n = 0;
  auto put = [&](uint32_t v, unsigned bits) {
    acc |= uint64_t(v) << n;
    n += bits;
  };
  auto code = [&](uint32_t c, unsigned len) {
    for (unsigned i = 0; i < len; ++i) put((c >> (len - 1 - i)) & 1, 1);
  };
  put(1, 1);
  put(1, 2);
  code(1, 7);
  code(0, 5);
  code(0x30 + 'z', 8);
  code(0, 7);
  Bytes s;
  for (unsigned i = 0; i < n; i += 8) s.push_back(uint8_t(acc >> i));
  TMemoryStream in, out;
  Load(in, s);
  Bytes want = {0, 0, 0, 'z'};
  uint32_t crc = ZCrc(want);
  ASSERT_EQ(InflateStream(&out, &in, 8, crc, int64_t(s.size())), 0);
  EXPECT_EQ(Contents(out), want);
}

TEST(ZMInflt, InflateResource) {
  const auto [data, comp] = DeflatedSample(30000);
  auto resource = [&](uint16_t method, uint32_t crc, const Bytes& body) {
    Bytes r(6);
    zm::PutLE16(r.data(), method);
    zm::PutLE32(r.data() + 2, crc);
    r.insert(r.end(), body.begin(), body.end());
    return r;
  };
  Bytes res = resource(8, ZCrc(data), comp);
  TMemoryStream in, out;
  Load(in, res);
  ASSERT_EQ(InflateResource(&out, &in, int64_t(res.size())), 0);
  EXPECT_EQ(Contents(out), data);

  res = resource(0, ZCrc(data), data);
  Load(in, res);
  TMemoryStream out2;
  ASSERT_EQ(InflateResource(&out2, &in, int64_t(res.size())), 0);
  EXPECT_EQ(Contents(out2), data);

  res = resource(8, ZCrc(data) + 1, comp);
  Load(in, res);
  TMemoryStream out3;
  EXPECT_EQ(Msg(InflateResource(&out3, &in, int64_t(res.size()))), 150);

  Load(in, Bytes{8, 0, 1});
  int32_t r = InflateResource(&out3, &in, 3);
  EXPECT_LT(r, 0);
  EXPECT_EQ(Msg(r), 176);
  Load(in, res);
  r = InflateResource(&out3, &in, 4);
  EXPECT_LT(r, 0);
  EXPECT_EQ(Msg(r), 176) << "declared size shorter than the header";
}

}  // namespace
