#include "ZMUtils.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "PlatCodePage.h"
#include "PlatPath.h"
#include "ZMIRec.h"
#include "ZMUTF8.h"
#include "ZMUtilsPeImage.h"
#include "ZMXcpt.h"

namespace {

using zmtest::Append16;
using zmtest::Append32;
using zmtest::AppendText;
using zmtest::Bytes;

// ------------------------------------------------------------------ CRC-32

TEST(ZMUtilsCrc, UpdateAgreesWithZlibOverRandomBuffersAndSplits) {
  std::mt19937 rng(777);
  for (int round = 0; round < 400; ++round) {
    Bytes buf(rng() % 3000);
    for (auto& b : buf) b = uint8_t(rng());
    const uint32_t want = uint32_t(crc32(0, buf.data(), uInt(buf.size())));
    const size_t a = buf.empty() ? 0 : rng() % (buf.size() + 1);
    const size_t b = a + (buf.size() == a ? 0 : rng() % (buf.size() - a + 1));
    uint32_t reg = Crc32Update(0xFFFFFFFFu, buf.data(), a);
    reg = Crc32Update(reg, buf.data() + a, b - a);
    reg = Crc32Update(reg, buf.data() + b, buf.size() - b);
    ASSERT_EQ(~reg, want) << "size " << buf.size();
    // Crc32 continued over the same pieces gives the same CRC.
    uint32_t crc = Crc32(buf.data(), a, 0);
    crc = Crc32(buf.data() + a, b - a, crc);
    crc = Crc32(buf.data() + b, buf.size() - b, crc);
    ASSERT_EQ(crc, want) << "size " << buf.size();
    ASSERT_EQ(Crc32(buf.data(), buf.size(), 0x12345678u), ~Crc32Update(~0x12345678u, buf.data(), buf.size()));
  }
}

TEST(ZMUtilsCrc, KnownValuesNullBytesAndNullPointer) {
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32("", 0, 0), 0u);
  const char withNulls[] = {'a', '\0', '\0', 'b', '\0'};
  EXPECT_EQ(Crc32(withNulls, 5), uint32_t(crc32(0, reinterpret_cast<const Bytef*>(withNulls), 5)));
  EXPECT_NE(Crc32(withNulls, 5), Crc32(withNulls, 4));  // trailing zero byte counts
  EXPECT_EQ(Crc32(nullptr, 100, 0xDEADBEEFu), 0xDEADBEEFu);
  EXPECT_EQ(Crc32Update(0xABCDu, nullptr, 10), 0xABCDu);
  // Without pre- and post-inversion, a zero register stays zero over zero bytes.
  const uint8_t zeros[16] = {};
  EXPECT_EQ(Crc32Update(0, zeros, sizeof zeros), 0u);
}

// ------------------------------------------------------------------ extra fields

Bytes Block(uint16_t tag, const std::string& data) {
  Bytes b;
  Append16(b, tag);
  Append16(b, uint16_t(data.size()));
  AppendText(b, data);
  return b;
}
std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }
std::string Cat(std::initializer_list<Bytes> parts) {
  std::string s;
  for (const Bytes& p : parts) s += Str(p);
  return s;
}

TEST(ZMUtilsExtra, KeepAndDropSelectBlocksInOrder) {
  const Bytes a = Block(0x0001, "12345678"), b = Block(0x7075, "xyzzy"), c = Block(0x5455, "t");
  const std::string field = Cat({a, b, c});
  const std::vector<uint32_t> tags = {0x5455, 0x0001};
  EXPECT_EQ(KeepExtraBlocks(field, tags, 1), Cat({a, c}));
  EXPECT_EQ(DropExtraBlocks(field, tags, 1), Str(b));
  // Only the entries up to the highest index count.
  EXPECT_EQ(KeepExtraBlocks(field, tags, 0), Str(c));
  EXPECT_EQ(DropExtraBlocks(field, tags, 0), Cat({a, b}));
  EXPECT_EQ(KeepExtraBlocks(field, tags, -1), "");
  // An index past the list is limited to the list.
  EXPECT_EQ(KeepExtraBlocks(field, tags, 50), Cat({a, c}));
}

TEST(ZMUtilsExtra, LastFourBytesAreNeverExamined) {
  const Bytes a = Block(0x0001, "abc"), empty = Block(0x000A, "");
  const std::string field = Cat({a, empty});
  EXPECT_EQ(KeepExtraBlocks(field, {0x000A}, 0), "");
  EXPECT_EQ(DropExtraBlocks(field, {0x0001}, 0), "");
  EXPECT_EQ(DropExtraBlocks(field, {}, -1), Str(a));
  // Fewer than four bytes in all: nothing.
  EXPECT_EQ(DropExtraBlocks(std::string("\x01\x00\x00", 3), {}, -1), "");
  // A lone 4-byte block of length 0 is never returned either.
  EXPECT_EQ(DropExtraBlocks(Str(empty), {}, -1), "");
}

TEST(ZMUtilsExtra, TruncatedBlockIsNotCopied) {
  const Bytes a = Block(0x0001, "abc");
  Bytes cut = Block(0x0017, "0123456789");
  cut.resize(4 + 3);  // claims 10 data bytes, holds 3
  const std::string field = Cat({a, cut});
  EXPECT_EQ(DropExtraBlocks(field, {}, -1), Str(a));
  EXPECT_EQ(KeepExtraBlocks(field, {0x0017}, 0), "");
  // A block running past the end stops the walk: nothing after it is read.
  Bytes huge;
  Append16(huge, 0x0002);
  Append16(huge, 0xFFFF);
  EXPECT_EQ(DropExtraBlocks(Cat({huge, a}), {}, -1), "");
}

TEST(ZMUtilsExtra, KeepAndDropPartitionTheCompleteBlocks) {
  // Over random fields, Keep and Drop with the same tags split the complete blocks
  // between them: their sizes add up and neither holds a tag of the other side.
  std::mt19937 rng(5);
  for (int round = 0; round < 3000; ++round) {
    std::string field(rng() % 64, '\0');
    for (auto& c : field) c = char(rng() % 4 == 0 ? rng() % 3 : rng() % 256);
    const std::vector<uint32_t> tags = {uint32_t(rng() % 3), uint32_t(rng() % 3)};
    const std::string all = DropExtraBlocks(field, {}, -1);
    const std::string kept = KeepExtraBlocks(field, tags, 1);
    const std::string dropped = DropExtraBlocks(field, tags, 1);
    ASSERT_EQ(kept.size() + dropped.size(), all.size());
    ASSERT_LE(all.size(), field.size());
    for (const std::string* part : {&kept, &dropped}) {
      for (size_t pos = 0; pos < part->size();) {
        ASSERT_LE(pos + 4, part->size());
        const uint16_t tag = zm::GetLE16(part->data() + pos);
        ASSERT_EQ(IsInList(tag, tags, 1), part == &kept);
        pos += 4 + zm::GetLE16(part->data() + pos + 2);
        ASSERT_LE(pos, part->size());
      }
    }
  }
}

// ------------------------------------------------------------------ executables

// A temporary file for handle-based calls; removed with the object.
class TTempFile {
 public:
  explicit TTempFile(const Bytes& data) {
    static int counter = 0;
    FPath = (std::filesystem::temp_directory_path() /
             ("zmutils_" + std::to_string(::getpid()) + "_" + std::to_string(++counter) + ".exe"))
                .string();
    std::ofstream(FPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    FHandle = plat::FileOpen(FPath, plat::fmOpenRead);
  }
  ~TTempFile() {
    plat::FileClose(FHandle);
    std::filesystem::remove(FPath);
  }
  plat::THandle Handle() const { return FHandle; }

 private:
  std::string FPath;
  plat::THandle FHandle;
};

zmtest::TPeImage TwoSectionImage() {
  zmtest::TPeImage pe;
  pe.Sections.push_back({".text", 0x1000, Bytes(0x300, 0x90), 0});
  pe.Sections.push_back({".data", 0x2000, Bytes(0x50, 0x11), 0});
  return pe;
}

TEST(ZMUtilsExe, ImageSizeIsTheLargestSectionEnd) {
  zmtest::TPeImage pe = TwoSectionImage();
  Bytes img = pe.Build();
  ASSERT_EQ(pe.ImageEnd(), 0x200u + 0x400u + 0x200u);
  TTempFile f(img);
  EXPECT_EQ(ExeImageSize(f.Handle()), pe.ImageEnd());

  // The largest end wins even when it is not the last section header.
  zmtest::TPeImage swapped;
  swapped.Sections.push_back({".hi", 0x1000, Bytes(0x200, 1), 0x1000});
  swapped.Sections.push_back({".lo", 0x2000, Bytes(0x200, 2), 0x400});
  TTempFile g(swapped.Build());
  EXPECT_EQ(ExeImageSize(g.Handle()), 0x1200u);
}

TEST(ZMUtilsExe, ImageSizeIsZeroForAnythingElse) {
  EXPECT_EQ(ExeImageSize(plat::kInvalidHandle), 0u);
  const Bytes good = TwoSectionImage().Build();

  Bytes notMz = good;
  notMz[0] = 'Z';
  TTempFile a(notMz);
  EXPECT_EQ(ExeImageSize(a.Handle()), 0u);

  Bytes noPe = good;
  noPe[zmtest::TPeImage::kPeOffset + 2] = 'X';
  TTempFile b(noPe);
  EXPECT_EQ(ExeImageSize(b.Handle()), 0u);

  zmtest::TPeImage amd64 = TwoSectionImage();
  amd64.Machine = 0x8664;
  TTempFile c(amd64.Build());
  EXPECT_EQ(ExeImageSize(c.Handle()), 0u);

  // The header claims a third section whose header is not there.
  zmtest::TPeImage claimed = TwoSectionImage();
  claimed.ExtraSectionCount = 1;
  Bytes shortTable = claimed.Build();
  shortTable.resize(zmtest::TPeImage::kPeOffset + 4 + 20 + 224 + 40 * 2 + 12);
  TTempFile d(shortTable);
  EXPECT_EQ(ExeImageSize(d.Handle()), 0u);

  TTempFile e(Bytes{'M', 'Z', 0, 0});
  EXPECT_EQ(ExeImageSize(e.Handle()), 0u);

  // The PE offset points past the end of the file.
  Bytes farPe = good;
  zmtest::Put32(farPe, 60, 0x7FFFFFF0u);
  TTempFile h(farPe);
  EXPECT_EQ(ExeImageSize(h.Handle()), 0u);
}

// Trailer builders for the two stub formats.
Bytes StubA(uint16_t headerLen, uint32_t endSig = 0x010A5A44) {
  Bytes b;
  Append32(b, 0x01005A44);
  Append16(b, headerLen);
  Append16(b, 0);
  b.resize(std::max<size_t>(headerLen, 8), 0xEE);
  Append32(b, endSig);
  Append32(b, 0);
  return b;
}
Bytes NameRecord(const std::string& n1, const std::string& n2, uint32_t endSig = 0x02145A44) {
  Bytes b;
  Append32(b, 0x01145A44);
  Append32(b, uint32_t(n1.size()));
  Append32(b, uint32_t(n2.size()));
  AppendText(b, n1);
  AppendText(b, n2);
  Append32(b, endSig);
  Append32(b, 0);
  Append32(b, 0);
  return b;
}
Bytes StubB(uint16_t headerLen) {
  Bytes b;
  Append32(b, 0x0C005A44);
  Append16(b, headerLen);
  Append16(b, 0);
  b.resize(headerLen, 0xDD);
  return b;
}
Bytes Record(uint32_t sig, size_t size = 30) {
  Bytes b;
  Append32(b, sig);
  b.resize(size, 0);
  return b;
}
Bytes With(Bytes image, std::initializer_list<Bytes> parts) {
  for (const Bytes& p : parts) zmtest::AppendBytes(image, p);
  return image;
}

struct TProbe {
  int Code;
  std::string Name;
  int64_t Offset;
};
const std::string kExeName = std::string("srv") + plat::PathDelim + "Install.v2.exe";

TProbe Probe(const Bytes& file, const std::string& exeName = kExeName) {
  TTempFile f(file);
  TProbe r{0, exeName, -1};
  r.Code = ProbeStub(f.Handle(), r.Name, r.Offset);
  return r;
}

constexpr uint32_t kLocal = 0x04034B50, kCentral = 0x02014B50;

TEST(ZMUtilsExe, ProbeStubRecognisesBothFormats) {
  const Bytes exe = TwoSectionImage().Build();
  const int64_t e = TwoSectionImage().ImageEnd();
  TProbe plain = Probe(exe);
  EXPECT_EQ(plain.Code, 1);
  EXPECT_EQ(plain.Offset, e);
  EXPECT_EQ(plain.Name, "Install.v2.zip");

  TProbe other = Probe(With(exe, {Record(0x12345678)}));
  EXPECT_EQ(other.Code, 1);
  EXPECT_EQ(other.Offset, e);

  TProbe a = Probe(With(exe, {StubA(24), Record(kLocal)}));
  EXPECT_EQ(a.Code, 0x11);
  EXPECT_EQ(a.Offset, e + 24 + 8);  // the local header's position
  EXPECT_EQ(a.Name, "Install.v2.zip");

  TProbe bLocal = Probe(With(exe, {StubB(40), Record(kLocal)}));
  EXPECT_EQ(bLocal.Code, 0x13);
  EXPECT_EQ(bLocal.Offset, e + 40);

  TProbe bCentral = Probe(With(exe, {StubB(16), Record(kCentral)}));
  EXPECT_EQ(bCentral.Code, 0x813);
  EXPECT_EQ(bCentral.Offset, e + 16);
}

TEST(ZMUtilsExe, ProbeStubFormatANamesTheSeparateArchive) {
  const Bytes exe = TwoSectionImage().Build();
  const int64_t e = TwoSectionImage().ImageEnd();

  TProbe both = Probe(With(exe, {StubA(16), NameRecord("payload", "z01"), Record(kCentral, 46)}));
  EXPECT_EQ(both.Code, 0x811);
  EXPECT_EQ(both.Name, "payload.z01");
  EXPECT_EQ(both.Offset, e + 16 + 8 + 12 + 7 + 3 + 12);  // the central header's position

  TProbe nameOnly = Probe(With(exe, {StubA(16), NameRecord("payload", ""), Record(kCentral, 46)}));
  EXPECT_EQ(nameOnly.Code, 0x811);
  EXPECT_EQ(nameOnly.Name, "payload.zip");
  EXPECT_EQ(nameOnly.Offset, e + 16 + 8 + 12 + 7 + 12);

  TProbe extOnly = Probe(With(exe, {StubA(16), NameRecord("", "z07"), Record(kCentral, 46)}));
  EXPECT_EQ(extOnly.Code, 0x811);
  EXPECT_EQ(extOnly.Name, "Install.v2.z07");
}

TEST(ZMUtilsExe, ProbeStubRejectsBadTrailerRecords) {
  const Bytes exe = TwoSectionImage().Build();
  const auto code = [&](std::initializer_list<Bytes> parts) { return Probe(With(exe, parts)).Code; };

  EXPECT_EQ(code({StubA(16, 0x0BADBAD0), Record(kLocal)}), -7);           // wrong end signature
  EXPECT_EQ(code({StubA(16), Record(0x11111111)}), -7);                   // neither archive nor name
  EXPECT_EQ(code({StubA(16), NameRecord("p", "", 0x99)}), -7);            // wrong name-end signature
  EXPECT_EQ(code({StubA(16), NameRecord("p", ""), Record(kLocal)}), -7);  // no central header
  EXPECT_EQ(code({StubB(16), Record(0x22222222)}), -7);
  EXPECT_EQ(code({StubA(4)}), -7);  // header length shorter than its own record

  // Short records: the file ends inside the header, inside the end record, inside
  // the name record, and inside the names.
  Bytes a = StubA(64);
  a.resize(20);
  EXPECT_EQ(code({a}), -7);
  Bytes a2 = StubA(16);
  a2.resize(a2.size() - 3);
  EXPECT_EQ(code({a2}), -7);
  Bytes n = NameRecord("payload", "z01");
  n.resize(6);
  EXPECT_EQ(code({StubA(16), n}), -7);
  Bytes n2 = NameRecord("payload", "z01");
  n2.resize(12 + 5);
  EXPECT_EQ(code({StubA(16), n2}), -7);
  Bytes b = StubB(40);
  b.resize(30);
  EXPECT_EQ(code({b}), -7);
  // Stored names that would lead out of the executable's folder are refused.
  for (const char* bad : {"../x", "sub/x", "sub\\x", "C:x", ".."})
    EXPECT_EQ(code({StubA(16), NameRecord(bad, ""), Record(kCentral)}), -7) << bad;
  EXPECT_EQ(code({StubA(16), NameRecord("x", "z/1"), Record(kCentral)}), -7);
  EXPECT_EQ(code({StubA(16), NameRecord(std::string("x\0y", 3), ""), Record(kCentral)}), -7);
  // A name length far beyond the file is a bad record, not a huge allocation.
  Bytes bigName;
  Append32(bigName, 0x01145A44);
  Append32(bigName, 0xFFFFFFF0u);
  Append32(bigName, 0);
  EXPECT_EQ(code({StubA(16), bigName, Record(kCentral)}), -7);
}

TEST(ZMUtilsExe, ProbeStubOnNonExecutables) {
  TProbe text = Probe(Bytes{'h', 'e', 'l', 'l', 'o'});
  EXPECT_EQ(text.Code, 0);
  EXPECT_EQ(text.Offset, 0);
  EXPECT_EQ(text.Name, kExeName);  // untouched

  std::string name = "x.exe";
  int64_t offset = 99;
  EXPECT_EQ(ProbeStub(plat::kInvalidHandle, name, offset), 0);
  EXPECT_EQ(offset, 0);
}

// A stream that fails by raising once the image has been read.
class TRaisingStream : public TMemoryStream {
 public:
  explicit TRaisingStream(int64_t limit) : FLimit(limit) {}
  int Read(void* buffer, int count) override {
    if (Position() >= FLimit) throw std::runtime_error("device gone");
    return TMemoryStream::Read(buffer, count);
  }

 private:
  int64_t FLimit;
};

TEST(ZMUtilsExe, ProbeStubReportsExceptions) {
  const zmtest::TPeImage pe = TwoSectionImage();
  const Bytes file = With(pe.Build(), {StubA(16), Record(kLocal)});
  TRaisingStream s(pe.ImageEnd());
  s.LoadFromBytes(file.data(), file.size());
  std::string name = "a.exe";
  int64_t offset = 0;
  EXPECT_EQ(ProbeStub(s, name, offset), -10);
  // The image size itself turns an exception into 0.
  TRaisingStream early(10);
  early.LoadFromBytes(file.data(), file.size());
  EXPECT_EQ(ExeImageSize(early), 0u);
}

// ------------------------------------------------------------------ icons

constexpr uint32_t kResVa = 0x3000;

zmtest::TPeImage IconImage(const Bytes& iconBits = zmtest::SampleIconBits()) {
  zmtest::TPeImage pe = TwoSectionImage();
  pe.Sections.push_back({".rsrc", kResVa, zmtest::BuildIconResourceSection(kResVa, iconBits), 0});
  pe.ResourceAddress = kResVa;
  pe.ResourceSize = 0x700;
  return pe;
}

int IconErrorOf(const Bytes& image) {
  TMemoryStream ms;
  ms.LoadFromBytes(image.data(), image.size());
  try {
    IconFromExe(ms);
  } catch (const EZipMate& e) {
    EXPECT_EQ((e.FullCode >> 23) & 0xFF, zmmZMUtils);
    return e.MsgId;
  }
  return 0;
}

TEST(ZMUtilsIcon, FindsIconOneAndCopiesItsBits) {
  const Bytes bits = zmtest::SampleIconBits();
  const zmtest::TPeImage pe = IconImage(bits);
  const Bytes image = pe.Build();
  TMemoryStream ms;
  ms.LoadFromBytes(image.data(), image.size());

  TImageSectionHeader section;
  TImageResourceDataEntry entry;
  ASSERT_TRUE(FindIconEntry(ms, section, entry));
  EXPECT_EQ(std::string(section.Name, 5), ".rsrc");
  EXPECT_EQ(section.VirtualAddress, kResVa);
  EXPECT_EQ(section.PointerToRawData, pe.RawPointerOf(2));
  EXPECT_EQ(entry.OffsetToData, kResVa + 0x400);
  EXPECT_EQ(entry.Size, bits.size());

  const TIcon icon = IconFromExe(ms);
  EXPECT_EQ(icon.Bits(), bits);

  // The same through a read-only view of the bytes (as resources are read).
  TReadOnlyMemoryStream ro(image.data(), image.size());
  EXPECT_EQ(IconFromExe(ro).Bits(), bits);
}

TEST(ZMUtilsIcon, ErrorsCarryTheirMessageNumbers) {
  const Bytes good = IconImage().Build();
  EXPECT_EQ(IconErrorOf(good), 0);

  Bytes notMz = good;
  notMz[1] = 'X';
  EXPECT_EQ(IconErrorOf(notMz), 117);
  Bytes noPe = good;
  noPe[zmtest::TPeImage::kPeOffset] = 'N';
  EXPECT_EQ(IconErrorOf(noPe), 117);
  EXPECT_EQ(IconErrorOf(Bytes(good.begin(), good.begin() + 100)), 117);

  zmtest::TPeImage noRes = IconImage();
  noRes.ResourceSize = 0;
  EXPECT_EQ(IconErrorOf(noRes.Build()), 147);
  zmtest::TPeImage wrongVa = IconImage();
  wrongVa.ResourceAddress = 0x9000;
  EXPECT_EQ(IconErrorOf(wrongVa.Build()), 147);

  // The header claims more sections than the table holds and none matches.
  zmtest::TPeImage shortTable = IconImage();
  shortTable.ResourceAddress = 0x9000;
  shortTable.ExtraSectionCount = 40;
  Bytes st = shortTable.Build();
  st.resize(zmtest::TPeImage::kPeOffset + 248 + 40 * 3 + 10);
  EXPECT_EQ(IconErrorOf(st), 144);

  // The resource tree is cut off inside the root directory's entries.
  const zmtest::TPeImage pe = IconImage();
  Bytes cut = good;
  cut.resize(pe.RawPointerOf(2) + 20);
  EXPECT_EQ(IconErrorOf(cut), 143);

  // No icon type in the tree.
  Bytes noIcon = good;
  zmtest::Put32(noIcon, pe.RawPointerOf(2) + 16 + 8, 5);  // type 3 -> 5
  EXPECT_EQ(IconErrorOf(noIcon), 146);

  // The icon's data entry points outside the image, or at bytes that are no icon.
  Bytes outside = good;
  zmtest::Put32(outside, pe.RawPointerOf(2) + 0x190, 0x7FFF0000);
  EXPECT_EQ(IconErrorOf(outside), 149);
  Bytes garbage = good;
  zmtest::Put32(garbage, pe.RawPointerOf(2) + 0x400, 0x55555555);
  EXPECT_EQ(IconErrorOf(garbage), 149);
}

TEST(ZMUtilsIcon, LoopingResourceTreeEnds) {
  // The icon type's directory points back at the root: no endless walk.
  Bytes section;
  zmtest::AppendResDir(section, {{3, 0x80000000}, {3, 0x80000000}});
  zmtest::TPeImage pe = TwoSectionImage();
  pe.Sections.push_back({".rsrc", kResVa, section, 0});
  pe.ResourceAddress = kResVa;
  pe.ResourceSize = 0x100;
  EXPECT_EQ(IconErrorOf(pe.Build()), 146);

  // Directories that overlap each other and claim more entries than the section
  // holds: the walk ends at the end of the data instead of running on.
  Bytes overlap;
  zmtest::AppendResDir(overlap, {});
  zmtest::Put16(overlap, 14, 0xFFFF);
  for (uint32_t i = 0; overlap.size() < 0x2000; ++i) {
    zmtest::Append32(overlap, i % 2 ? 1 : 3);
    zmtest::Append32(overlap, 0x80000000u | (8 * (i % 64)));
  }
  zmtest::TPeImage pe2 = TwoSectionImage();
  pe2.Sections.push_back({".rsrc", kResVa, overlap, 0});
  pe2.ResourceAddress = kResVa;
  pe2.ResourceSize = 0x100;
  EXPECT_EQ(IconErrorOf(pe2.Build()), 143);
}

TEST(ZMUtilsIcon, DamagedImagesGiveResultsOrComponentErrors) {
  // Random damage to the headers and the resource tree never crashes: the probes
  // return one of their codes and the icon operations succeed or raise EZipMate.
  const zmtest::TPeImage pe = IconImage();
  const Bytes good = With(pe.Build(), {StubA(16), Record(kLocal)});
  const size_t rsrc = pe.RawPointerOf(2);
  std::mt19937 rng(31337);
  for (int round = 0; round < 3000; ++round) {
    Bytes img = good;
    for (int k = 0, n = 1 + int(rng() % 6); k < n; ++k) {
      const size_t at = rng() % 2 ? rng() % 0x200 : rsrc + rng() % 0x200;
      img[at] = uint8_t(rng() % 3 == 0 ? 0xFF : rng());
    }
    if (rng() % 8 == 0) img.resize(rng() % img.size());
    TMemoryStream ms;
    ms.LoadFromBytes(img.data(), img.size());
    std::string name = "a.exe";
    int64_t offset = 0;
    const int code = ProbeStub(ms, name, offset);
    ASSERT_TRUE(code == 0 || code == 1 || code == 0x11 || code == -7) << code;
    try {
      const TIcon icon = IconFromExe(ms);
      ASSERT_FALSE(icon.Empty());
    } catch (const EZipMate& e) {
      ASSERT_TRUE(e.MsgId == 117 || e.MsgId == 143 || e.MsgId == 144 || e.MsgId == 146 || e.MsgId == 147 ||
                  e.MsgId == 149)
          << e.MsgId;
    }
  }
}

// ------------------------------------------------------------------ paths and names

const std::string D = plat::PathDelimStr;

TEST(ZMUtilsPath, SetTrailingDelimiter) {
  EXPECT_EQ(SetTrailingDelimiter("", true), D);
  EXPECT_EQ(SetTrailingDelimiter("", false), "");
  EXPECT_EQ(SetTrailingDelimiter("a" + D + "b" + D, false), "a" + D + "b");
  EXPECT_EQ(SetTrailingDelimiter("a" + D + "b" + D + D, false), "a" + D + "b" + D);
  EXPECT_EQ(SetTrailingDelimiter("a" + D + "b", true), "a" + D + "b" + D);
  EXPECT_EQ(SetTrailingDelimiter("a" + D, true), "a" + D);
  EXPECT_EQ(SetTrailingDelimiter("zażółć", true), "zażółć" + D);  // ends in a multi-byte char
}

TEST(ZMUtilsPath, BareFileNameCutsOnlyTheFileNamesLastDot) {
  EXPECT_EQ(BareFileName("dir.v1" + D + "name.tar.gz"), "name.tar");
  EXPECT_EQ(BareFileName("dir.v1" + D + "name"), "name");
  EXPECT_EQ(BareFileName("C:setup.exe"), "setup");
  EXPECT_EQ(BareFileName("plain"), "plain");
  EXPECT_EQ(BareFileName("dir" + D), "");
  EXPECT_EQ(BareFileName(".hidden"), "");
  EXPECT_EQ(BareFileName(""), "");
}

TEST(ZMUtilsPath, JoinPathKeepsExactlyOneDelimiter) {
  EXPECT_EQ(JoinPath("C:", "file"), "C:file");
  EXPECT_EQ(JoinPath("C:", D + "file"), "C:" + D + "file");
  EXPECT_EQ(JoinPath("a" + D, D + "b"), "a" + D + "b");
  EXPECT_EQ(JoinPath("a", "b"), "a" + D + "b");
  EXPECT_EQ(JoinPath("a" + D, "b"), "a" + D + "b");
  EXPECT_EQ(JoinPath("a", D + "b"), "a" + D + "b");
  EXPECT_EQ(JoinPath("", "b"), "b");
  EXPECT_EQ(JoinPath("a", ""), "a");
}

TEST(ZMUtilsPath, SlashesAndDelimiters) {
  EXPECT_EQ(ConvertSlashes("a\\b/c\\", 1), "a/b/c/");
  EXPECT_EQ(ConvertSlashes("a\\b/c\\", 0), "a\\b\\c\\");
  EXPECT_EQ(ConvertSlashes("a/b", 7), "a\\b");
  EXPECT_EQ(ConvertSlashes("łódź\\plik", 1), "łódź/plik");
  EXPECT_EQ(ConvertSlashesWide(u"a\\b/c", 1), u"a/b/c");
  EXPECT_EQ(ConvertSlashesWide(u"a\\b/c", 2), u"a\\b\\c");
  EXPECT_TRUE(EndsWithDelimiter("a\\"));
  EXPECT_TRUE(EndsWithDelimiter("a/"));
  EXPECT_FALSE(EndsWithDelimiter("a"));
  EXPECT_FALSE(EndsWithDelimiter(""));
}

TEST(ZMUtilsPath, DoubleByteCharactersAreNoSeparators) {
  // ANSI code page 932 without UTF-8 mode: the trail bytes of 表 (95 5C) and ポ (83 7C)
  // are a backslash and a bar, and stay part of their characters.
  const bool mode = SetUTF8Mode(false);
  const unsigned ansi = plat::SetAnsiCodePageOverride(932);
  const std::string hyo = "\x95\x5C", po = "\x83\x7C";
  EXPECT_EQ(ConvertSlashes(hyo + "\\" + po + "/a", 1), hyo + "/" + po + "/a");
  EXPECT_EQ(ConvertSlashes(hyo + "/a", 0), hyo + "\\a");
  EXPECT_EQ(WithPlatformSeparators(hyo + "\\" + hyo), hyo + D + hyo);
  EXPECT_FALSE(EndsWithDelimiter(hyo));
  EXPECT_TRUE(EndsWithDelimiter(hyo + "\\"));
  EXPECT_EQ(SetTrailingDelimiter(hyo, true), hyo + D);
  EXPECT_EQ(SetTrailingDelimiter(hyo, false), hyo);
  EXPECT_EQ(SetTrailingDelimiter(hyo + D, false), hyo);
  EXPECT_EQ(TZMZRec::HeaderForm(hyo + "\\" + po + "|"), hyo + "/" + po + "#$7C");
  plat::SetAnsiCodePageOverride(ansi);
  SetUTF8Mode(mode);
}

TEST(ZMUtilsPath, CharacterTests) {
  EXPECT_TRUE(HasNoWildcards("plain.txt"));
  EXPECT_TRUE(HasNoWildcards(""));
  EXPECT_FALSE(HasNoWildcards("a*"));
  EXPECT_FALSE(HasNoWildcards("a?"));
  EXPECT_FALSE(HasNoWildcards("a|b"));
  EXPECT_FALSE(HasNonPlainChars(std::string("A~ \x1F", 4)));
  EXPECT_TRUE(HasNonPlainChars(std::string("A\x1E", 2)));
  EXPECT_TRUE(HasNonPlainChars("A\x7F"));
  EXPECT_TRUE(HasNonPlainChars("ó"));
  EXPECT_FALSE(HasNonPlainChars(""));
  // Every byte value, at every place of a name that is read eight bytes at a time.
  for (int b = 0; b < 256; ++b)
    for (size_t at = 0; at < 19; ++at) {
      std::string name(19, '~');
      name[at] = char(b);
      ASSERT_EQ(HasNonPlainChars(name), b < 31 || b > 126) << b << " at " << at;
    }
}

TEST(ZMUtilsPath, LastIndexOfIsBelowTheLimit) {
  const std::string s = "a/b/c/d";  // '/' at 2, 4, 6
  EXPECT_EQ(LastIndexOf(s, '/', 100), 6);
  EXPECT_EQ(LastIndexOf(s, '/', 7), 6);
  EXPECT_EQ(LastIndexOf(s, '/', 6), 4);
  EXPECT_EQ(LastIndexOf(s, '/', 3), 2);
  EXPECT_EQ(LastIndexOf(s, '/', 2), 0);
  EXPECT_EQ(LastIndexOf(s, 'x', 100), 0);
  EXPECT_EQ(LastIndexOf("", '/', 5), 0);
  EXPECT_EQ(LastIndexOf(s, 'a', -3), 0);
}

TEST(ZMUtilsPath, IsInListAndAppendTwoBlocks) {
  const std::vector<uint32_t> list = {5, 0xFFFFFFFFu, 9};
  EXPECT_TRUE(IsInList(9, list, 2));
  EXPECT_FALSE(IsInList(9, list, 1));
  EXPECT_TRUE(IsInList(0xFFFFFFFFu, list, 1));
  EXPECT_FALSE(IsInList(5, list, -1));
  EXPECT_FALSE(IsInList(7, list, 99));
  EXPECT_FALSE(IsInList(0, {}, 3));

  std::string s = "ab";
  EXPECT_EQ(AppendTwoBlocks(s, "cd", 2, "e\0f", 3), 7);
  EXPECT_EQ(s, std::string("abcde\0f", 7));
  EXPECT_EQ(AppendTwoBlocks(s, "xy", 2, "zz", 0), 9);
  EXPECT_EQ(s.substr(7), "xy");
  EXPECT_EQ(AppendTwoBlocks(s, "q", 1, "r", -1), 9);
  EXPECT_EQ(AppendTwoBlocks(s, "q", -1, "r", 1), 9);
  EXPECT_EQ(AppendTwoBlocks(s, nullptr, 4, "r", 1), 9);
  EXPECT_EQ(s.size(), 9u);
}

}  // namespace
