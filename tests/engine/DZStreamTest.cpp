// Application streams: an archive read from a stream, entries written to streams,
// and the conversion of one stream into another (the add command).
#include <gtest/gtest.h>

#include "DZTestKit.h"

using namespace dzt;

TEST(DZStreams, ArchiveFromStreamEntryToStream) {
  const std::string zip = BuildZip({{.Name = "a.txt", .Data = "to the pipe"},
                                    {.Name = "b.txt", .Data = std::string(300000, 'b')},
                                    {.Name = "c.txt", .Data = "file"}});
  const fs::path dir = FreshDir("stream_pipe");
  THarness h;
  h.Streams[0].Data = zip;
  h.Streams[1];
  h.Streams[2];
  h.Archive = "0:";
  h.Base = dir.string();
  h.Specs = {"1:a.txt", "2:#stream2#", "c.txt"};
  EXPECT_EQ(h.Exec(), 3) << h.AllMessages();
  EXPECT_EQ(h.Streams[1].Data, "to the pipe");
  EXPECT_TRUE(h.Streams[1].Closed);
  EXPECT_EQ(h.Streams[2].Data, std::string(300000, 'b'));
  EXPECT_EQ(Tree(dir), (std::map<std::string, std::string>{{"c.txt", "file"}}));
  EXPECT_TRUE(h.Streams[0].Closed);
}

// A pattern takes every entry it matches, each opened on its own (this harness
// starts a stream over at each open); an empty one still takes a single entry.
TEST(DZStreams, APatternSendsEveryMatchToItsStream) {
  const std::string zip = BuildZip({{.Name = "a.txt", .Data = "AAAA"},
                                    {.Name = "b.bin", .Data = "bin"},
                                    {.Name = "c.txt", .Data = "CC"},
                                    {.Name = "d.bin", .Data = "dd"}});
  const fs::path dir = FreshDir("stream_pattern");
  WriteFile(dir / "p.zip", zip);
  THarness h;
  h.Streams[1];
  h.Streams[2];
  h.Archive = (dir / "p.zip").string();
  h.Base = dir.string();
  h.Specs = {"1:*.txt", "2:#stream2#"};
  EXPECT_EQ(h.Exec(), 3) << h.AllMessages();
  EXPECT_EQ(h.Streams[1].Data, "CCAA");
  EXPECT_EQ(h.Streams[2].Data, "bin");
  EXPECT_EQ(h.Items, (std::vector<std::string>{"a.txt", "b.bin", "c.txt"}));
}

TEST(DZStreams, ArchiveStreamWithoutCallback) {
  THarness h;
  h.WithStreams = false;
  h.Archive = "0:";
  h.Options = DZ_OPT_ALWAYS | DZ_OPT_TEST;
  EXPECT_EQ(h.Exec(), -13);
}

namespace {

// Wraps converted data as a one-entry archive, for checking by extraction.
std::string Wrap(const std::string& data, const TDZStreamConvert& rec, bool encrypted, uint64_t plainSize) {
  TEntrySpec e{.Name = "conv.bin", .Data = data, .Method = 0};
  std::string zip = BuildZip({e});
  // Patch method, flags, CRC and uncompressed size in both headers.
  auto patch = [&](size_t at, bool central) {
    const size_t o = central ? 2 : 0;
    auto p16 = [&](size_t pos, uint32_t v) {
      zip[pos] = char(v & 0xFF);
      zip[pos + 1] = char(v >> 8);
    };
    auto p32 = [&](size_t pos, uint32_t v) {
      p16(pos, v & 0xFFFF);
      p16(pos + 2, v >> 16);
    };
    p16(at + 6 + o, encrypted ? 1 : 0);
    p16(at + 8 + o, uint32_t(rec.Method));
    p32(at + 14 + o, rec.Crc);
    p32(at + 22 + o, uint32_t(plainSize));
  };
  patch(0, false);
  patch(30 + 8 + data.size(), true);
  return zip;
}

}  // namespace

TEST(DZStreams, ConvertDeflateAndEncrypt) {
  std::string plain;
  for (int i = 0; i < 200000; ++i) plain += char("rate table "[i % 11]);
  for (bool encrypt : {false, true}) {
    for (int method : {8, 0}) {
      THarness h;
      h.Streams[0].Data = plain;
      h.Streams[1];
      TDZStreamConvert rec{};
      rec.Method = method;
      rec.Size = -1;
      rec.Source = &h.Streams[0];
      rec.Dest = &h.Streams[1];
      h.OpData = &rec;
      h.Options = DZ_OPT_ALWAYS | DZ_OPT_ADD | (encrypt ? DZ_OPT_ENCRYPT : 0);
      h.Password = encrypt ? "pw" : "";
      ASSERT_EQ(h.Exec(), 1) << h.AllMessages();
      EXPECT_EQ(rec.Method, method);
      EXPECT_EQ(rec.Crc, Crc32(plain));
      EXPECT_EQ(rec.Size, int64_t(plain.size()));
      const std::string& out = h.Streams[1].Data;
      if (method == 8) {
        EXPECT_LT(out.size(), plain.size() / 10);
      }
      // The result extracts, by the engine and by unzip, to the source.
      const fs::path dir = FreshDir("stream_conv_" + std::to_string(encrypt) + std::to_string(method));
      WriteFile(dir / "c.zip", Wrap(out, rec, encrypt, plain.size()));
      THarness x;
      x.Archive = (dir / "c.zip").string();
      x.Base = dir.string();
      x.Password = "pw";
      EXPECT_EQ(x.Exec(), 1) << x.AllMessages();
      EXPECT_EQ(ReadFile(dir / "conv.bin"), plain);
      if (HaveTool("unzip")) {
        EXPECT_EQ(Shell("unzip -t -P pw " + (dir / "c.zip").string()), 0);
      }
    }
  }
}

TEST(DZStreams, ConvertPartOfASource) {
  THarness h;
  h.Streams[0].Data = "0123456789";
  h.Streams[1];
  TDZStreamConvert rec{};
  rec.Method = 0;
  rec.Size = 4;
  rec.Source = &h.Streams[0];
  rec.Dest = &h.Streams[1];
  h.OpData = &rec;
  h.Options = DZ_OPT_ALWAYS | DZ_OPT_ADD;
  ASSERT_EQ(h.Exec(), 1);
  EXPECT_EQ(h.Streams[1].Data, "0123");
  EXPECT_EQ(rec.Size, 4);
  // No record, or no destination: bad options.
  THarness bad;
  bad.Options = DZ_OPT_ALWAYS | DZ_OPT_ADD;
  EXPECT_EQ(bad.Exec(), -18);
  // Encryption without any password ends as cancelled password.
  THarness nopwd;
  nopwd.Streams[0].Data = "x";
  nopwd.Streams[1];
  TDZStreamConvert r2{};
  r2.Method = 8;
  r2.Size = -1;
  r2.Source = &nopwd.Streams[0];
  r2.Dest = &nopwd.Streams[1];
  nopwd.OpData = &r2;
  nopwd.Options = DZ_OPT_ALWAYS | DZ_OPT_ADD | DZ_OPT_ENCRYPT;
  EXPECT_EQ(nopwd.Exec(), -8);
}
