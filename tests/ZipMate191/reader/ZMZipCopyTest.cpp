// Archives written by the component itself: entries copied from loaded archives and
// committed to a new file, checked by peer readers (unzip, Python's zipfile) and by our
// own reader.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>

#include "PlatPath.h"
#include "PlatTime.h"
#include "ZMMsg.h"
#include "ZMWFuncs.h"
#include "ZMZipFileTestKit.h"
#include "ZMRecords.h"

using namespace zmtest;
namespace fs = std::filesystem;

namespace {

bool Have(const std::string& tool) {
  return std::system(("command -v " + tool + " > /dev/null 2>&1").c_str()) == 0;
}

TEntrySpec Entry(const std::string& name, const std::string& data) {
  TEntrySpec e;
  e.Name = name;
  e.Data = data;
  return e;
}

int Sh(const std::string& cmd) {
  const int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// Python checks of an archive: testzip passes and every entry reads back.
std::string PyCheck(const std::string& path, const std::string& pwd = std::string()) {
  return "python3 -c \"import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1])\n" +
         (pwd.empty() ? std::string() : "z.setpassword(b'" + pwd + "')\n") +
         "assert z.testzip() is None\nfor i in z.infolist(): z.read(i)\n\" '" + path + "'";
}

struct TCopyFixture : ::testing::Test {
  TTempDir Tmp;
  TReaderFixture F;

  void SetUp() override {
    if (!Have("unzip") || !Have("python3") || !Have("zip")) GTEST_SKIP() << "unzip, zip or python3 missing";
  }
  // A source archive written by Python: deflated and stored entries, a folder, a comment.
  std::string PySource(const std::string& name) {
    const std::string p = Tmp.File(name);
    const std::string cmd =
        "python3 -c \"import zipfile,sys,os\n"
        "z=zipfile.ZipFile(sys.argv[1],'w')\n"
        "z.writestr('a.txt', b'alpha\\n'*300, zipfile.ZIP_DEFLATED)\n"
        "z.writestr('dir/', b'')\n"
        "z.writestr('dir/b.bin', os.urandom(5000), zipfile.ZIP_STORED)\n"
        "z.comment=b'source comment'\n"
        "z.close()\" '" +
        p + "'";
    EXPECT_EQ(Sh(cmd), 0);
    return p;
  }
  // Loads path into the fixture's reader.
  void Load(const std::string& path) { ASSERT_GE(F.Open(path), 0) << path; }
  // The entry names of an archive as Python lists them, one per line.
  static std::string PyNames(const std::string& path) {
    const std::string out = path + ".names";
    Sh("python3 -c \"import zipfile,sys\nprint('\\n'.join(i.filename+' '+str(i.CRC)+' '+str(i.file_size) for "
       "i in "
       "zipfile.ZipFile(sys.argv[1]).infolist()))\" '" +
       path + "' > '" + out + "'");
    return ReadFile(out);
  }
};

}  // namespace

TEST_F(TCopyFixture, WriteFileCopiesEveryEntryAndTheComment) {
  const std::string src = PySource("src.zip");
  Load(src);
  TZMZipCopy out(F.Zip);
  const std::string dst = Tmp.File("copy.zip");
  ASSERT_TRUE(out.File_Create(dst));
  EXPECT_EQ(out.WriteFile(F.Reader.get(), true), 3);
  EXPECT_FALSE(out.IsOpen());
  EXPECT_EQ(Sh("unzip -tqq '" + dst + "'"), 0);
  EXPECT_EQ(Sh(PyCheck(dst)), 0);
  EXPECT_EQ(PyNames(dst), PyNames(src));
  EXPECT_EQ(out.ArchiveSize(), int64_t(fs::file_size(dst)));

  // Our reader sees the same records at the offsets written.
  TReaderFixture G;
  G.Reader->SetFileName(dst);
  ASSERT_EQ(G.Reader->OpenZip(false, false), 0);
  ASSERT_EQ(G.Reader->Count(), 3);
  EXPECT_EQ(G.Reader->ZipComment(), "source comment");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(G.Reader->Items(i)->CheckLocal(), 0) << i;
  EXPECT_EQ(G.Reader->Items(1)->FileName(), std::string("dir") + plat::PathDelim);
}

TEST_F(TCopyFixture, OnlySelectedEntriesAndNoDuplicates) {
  Load(PySource("src.zip"));
  F.Reader->Items(2)->SetStatusBit(zsbSelected);
  TZMZipCopy out(F.Zip);
  EXPECT_EQ(out.CopyEntries(*F.Reader, false), 1);
  ASSERT_EQ(out.Count(), 1);
  EXPECT_EQ(out.Items(0)->FileName(), "dir" + std::string(1, plat::PathDelim) + "b.bin");
  // The same entry again, also in another case, is refused.
  EXPECT_EQ(MsgOf(out.AddCopy(F.Reader->Items(2))), 104);
  EXPECT_EQ(out.Count(), 1);
  // A whole copy meets the one already there: it fails but adds the others.
  EXPECT_LT(out.CopyEntries(*F.Reader, true), 0);
  EXPECT_EQ(out.Count(), 3);
  auto* rec = dynamic_cast<TZMCopyRec*>(out.Items(0));
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->Link(), F.Reader->Items(2));
}

TEST_F(TCopyFixture, CaseVariantsInTheSourceMakeTheCopyFail) {
  TArchiveSpec a;
  a.Entries.push_back(Entry("a.txt", "one"));
  a.Entries.push_back(Entry("A.TXT", "two"));
  Load(Tmp.Write("dups.zip", BuildArchive(a)));
  ASSERT_EQ(F.Reader->Count(), 2);
  TZMZipCopy out(F.Zip);
  ASSERT_TRUE(out.File_Create(Tmp.File("x.zip")));
  const int64_t r = out.WriteFile(F.Reader.get(), true);
  EXPECT_EQ(MsgOf(int32_t(r)), zmsDuplicateFilename);
  out.File_Close();
}

TEST_F(TCopyFixture, DataDescriptorsOfPlainEntriesAreDroppedAndOfEncryptedOnesKept) {
  const std::string data = Tmp.Write("data.txt", std::string(20000, 'q') + "end\n");
  // zip writing to a pipe cannot seek back: sizes go into data descriptors.
  const std::string plain = Tmp.File("stream.zip"), enc = Tmp.File("enc.zip");
  ASSERT_EQ(Sh("cd '" + Tmp.Path.string() + "' && zip -q - data.txt | cat > '" + plain + "'"), 0);
  ASSERT_EQ(Sh("cd '" + Tmp.Path.string() + "' && zip -q -P secret - data.txt | cat > '" + enc + "'"), 0);
  for (const std::string& src : {plain, enc}) {
    TReaderFixture S;
    S.Reader->SetFileName(src);
    ASSERT_EQ(S.Reader->OpenZip(false, false), 0);
    ASSERT_EQ(S.Reader->Count(), 1);
    ASSERT_TRUE(S.Reader->Items(0)->Flag() & 8) << src;
    const bool encrypted = S.Reader->Items(0)->Encrypted();
    TZMZipCopy out(S.Zip);
    const std::string dst = src + ".copy.zip";
    ASSERT_TRUE(out.File_Create(dst));
    ASSERT_EQ(out.WriteFile(S.Reader.get(), true), 1);
    const std::string bytes = ReadFile(dst);
    // The local header's flag: bit 3 only where the data is encrypted.
    EXPECT_EQ((zm::GetLE16(reinterpret_cast<const uint8_t*>(bytes.data()) + 6) & 8) != 0, encrypted);
    if (encrypted) {
      EXPECT_EQ(Sh("unzip -tqq -P secret '" + dst + "'"), 0);
      EXPECT_EQ(Sh(PyCheck(dst, "secret")), 0);
      const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
      const size_t at =
          30 + zm::GetLE16(b + 26) + zm::GetLE16(b + 28) + size_t(S.Reader->Items(0)->CompressedSize());
      ASSERT_GT(bytes.size(), at + 4);
      EXPECT_EQ(zm::GetLE32(reinterpret_cast<const uint8_t*>(bytes.data()) + at), zm::kDataDescriptorSig);
    } else {
      EXPECT_EQ(Sh("unzip -tqq '" + dst + "'"), 0);
      EXPECT_EQ(Sh(PyCheck(dst)), 0);
    }
  }
}

TEST_F(TCopyFixture, CommitOfOnlyDiscardedEntriesWritesAnEmptyArchive) {
  Load(PySource("src.zip"));
  TZMZipCopy out(F.Zip);
  ASSERT_EQ(out.CopyEntries(*F.Reader, true), 3);
  for (int i = 0; i < out.Count(); ++i) out.Items(i)->SetStatusBit(zsbError);
  const std::string dst = Tmp.File("empty.zip");
  ASSERT_TRUE(out.File_Create(dst));
  EXPECT_EQ(out.Commit(false), 0);
  const std::string bytes = ReadFile(dst);
  ASSERT_EQ(bytes.size(), size_t(kEndOfCentralSize));
  EXPECT_EQ(zm::GetLE32(reinterpret_cast<const uint8_t*>(bytes.data())),
            zm::layout::TEndOfCentral::Signature);
  EXPECT_EQ(Sh("python3 -c \"import zipfile,sys; assert zipfile.ZipFile(sys.argv[1]).namelist()==[]\" '" +
               dst + "'"),
            0);
}

TEST_F(TCopyFixture, ZipTimeStampsTheArchiveWithItsNewestEntry) {
  TArchiveSpec a;
  a.Entries.push_back(Entry("old.txt", "o"));
  a.Entries.push_back(Entry("new.txt", "n"));
  a.Entries[0].DosTime = 0x4A2C6000;  // 2017
  a.Entries[1].DosTime = 0x5A2C6000;  // 2025-01-12 12:00:00
  Load(Tmp.Write("times.zip", BuildArchive(a)));
  TZMWriteOpts w = F.Zip.WriteOptions();
  w.Include(zwoZipTime);
  F.Zip.SetWriteOptions(w);
  TZMZipCopy out(F.Zip);
  const std::string dst = Tmp.File("stamped.zip");
  ASSERT_TRUE(out.File_Create(dst));
  ASSERT_EQ(out.WriteFile(F.Reader.get(), true), 2);
  EXPECT_EQ(uint32_t(FileStamp(dst)), 0x5A2C6000u);
  EXPECT_EQ(Sh("unzip -tqq '" + dst + "'"), 0);
}

TEST_F(TCopyFixture, ASourceChangedSinceItsLoadIsNotCopied) {
  const std::string src = PySource("src.zip");
  Load(src);
  F.Reader->File_Close();
  // Another last-write time.
  struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, src.c_str(), times, 0), 0);
  TZMZipCopy out(F.Zip);
  ASSERT_TRUE(out.File_Create(Tmp.File("x.zip")));
  EXPECT_EQ(MsgOf(int32_t(out.WriteFile(F.Reader.get(), true))), 162);
  EXPECT_EQ(out.Count(), 0);
}

TEST_F(TCopyFixture, ABrokenLocalHeaderInTheSourceFailsTheCommit) {
  const std::string src = PySource("src.zip");
  Load(src);
  const int64_t off = F.Reader->Items(2)->RelOffLocalHdr();
  F.Reader->File_Close();
  std::string bytes = ReadFile(src);
  bytes[size_t(off)] = 'X';
  Tmp.Write("src.zip", bytes);
  Load(src);
  TZMZipCopy out(F.Zip);
  ASSERT_TRUE(out.File_Create(Tmp.File("x.zip")));
  EXPECT_EQ(MsgOf(int32_t(out.WriteFile(F.Reader.get(), true))), 165);
  out.File_Close();
}

// An archive whose local headers lie past 4 GiB: the writer starts 5 GiB into a sparse
// file, so that offsets and the directory need Zip64 values.
TEST_F(TCopyFixture, OffsetsPastFourGiBUseZip64Records) {
  Load(PySource("src.zip"));
  TZMZipCopy out(F.Zip);
  const std::string dst = Tmp.File("far.zip");
  ASSERT_TRUE(out.File_Create(dst));
  const int64_t start = int64_t(5) << 30;
  ASSERT_EQ(out.Seek(0, start), start);
  ASSERT_EQ(out.CopyEntries(*F.Reader, true), 3);
  ASSERT_EQ(out.Commit(false), 3);
  EXPECT_TRUE(out.Z64());
  ASSERT_GT(fs::file_size(dst), uint64_t(start));
  EXPECT_EQ(Sh("unzip -tqq '" + dst + "' > /dev/null 2>&1"), 0);
  EXPECT_EQ(Sh(PyCheck(dst)), 0);
  TReaderFixture G;
  G.Reader->SetFileName(dst);
  ASSERT_EQ(G.Reader->OpenZip(false, false), 0);
  ASSERT_EQ(G.Reader->Count(), 3);
  EXPECT_TRUE(G.Reader->Z64());
  EXPECT_EQ(G.Reader->Items(0)->RelOffLocalHdr(), start);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(G.Reader->Items(i)->CheckLocal(), 0);
}

// More entries than the end record can count.
TEST_F(TCopyFixture, MoreThan65535EntriesUseZip64Records) {
  const std::string src = Tmp.File("many.zip");
  ASSERT_EQ(Sh("python3 -c \"import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1],'w')\n"
               "for i in range(70000): z.writestr('f%05d' % i, str(i))\nz.close()\" '" +
               src + "'"),
            0);
  Load(src);
  ASSERT_EQ(F.Reader->Count(), 70000);
  TZMZipCopy out(F.Zip);
  const std::string dst = Tmp.File("many-copy.zip");
  ASSERT_TRUE(out.File_Create(dst));
  ASSERT_EQ(out.WriteFile(F.Reader.get(), true), 70000);
  EXPECT_EQ(Sh("unzip -tqq '" + dst + "'"), 0);
  EXPECT_EQ(Sh("python3 -c \"import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1])\nassert z.testzip() is None\n"
               "assert len(z.infolist())==70000 and z.read('f69999')==b'69999'\" '" +
               dst + "'"),
            0);
  TReaderFixture G;
  G.Reader->SetFileName(dst);
  ASSERT_EQ(G.Reader->OpenZip(false, false), 0);
  EXPECT_EQ(G.Reader->Count(), 70000);
  EXPECT_TRUE(G.Reader->Z64());
}

// A commit to a target split into parts: the spanning marker starts the first part,
// records stay whole within a part, and the set reads back and joins.
TEST_F(TCopyFixture, ACommitSplitIntoCompatibleParts) {
  const std::string src = Tmp.File("big.zip");
  ASSERT_EQ(
      Sh("python3 -c \"import zipfile,sys,random\nr=random.Random(7)\nz=zipfile.ZipFile(sys.argv[1],'w')\n"
         "for i in range(6): z.writestr('part%d.bin' % i, bytes(r.getrandbits(8) for _ in range(40000)))\n"
         "z.close()\" '" +
         src + "'"),
      0);
  Load(src);
  TZMSpanOpts span;
  span.Include(spCompatName);
  F.Zip.SetSpanOptions(span);
  F.Zip.SetMaxVolumeSize(65536);
  const fs::path dir = Tmp.Path / "split";
  fs::create_directories(dir);
  const std::string set = (dir / "set.zip").string();
  {
    TZMZipCopy out(F.Zip);
    out.SetFileName(set);
    out.SetIsMultiDisk(true);
    ASSERT_EQ(out.CopyEntries(*F.Reader, true), 6);
    ASSERT_EQ(out.Commit(false), 6) << (F.Messages.empty() ? "" : F.Messages.back().second);
  }
  ASSERT_TRUE(fs::exists(dir / "set.z01"));
  ASSERT_TRUE(fs::exists(set));
  const std::string first = ReadFile((dir / "set.z01").string());
  EXPECT_EQ(zm::GetLE32(reinterpret_cast<const uint8_t*>(first.data())), zm::kDataDescriptorSig);
  for (auto& e : fs::directory_iterator(dir)) EXPECT_LE(fs::file_size(e.path()), 65536u) << e.path();

  // Our reader lists the set from its last part and joins it into one archive.
  TReaderFixture G;
  G.Zip.SetHowToDelete(htdFinal);
  G.Zip.SetZipFileName(set);
  ASSERT_EQ(G.Zip.ErrCode(), 0) << G.Zip.ErrMsg();
  EXPECT_EQ(G.Zip.Count(), 6);
  std::string joined = Tmp.File("joined.zip");
  ASSERT_EQ(G.Zip.JoinToSingleFile(joined), 0) << G.Zip.ErrMsg();
  EXPECT_EQ(Sh("unzip -tqq '" + joined + "'"), 0);
  EXPECT_EQ(Sh(PyCheck(joined)), 0);
  EXPECT_EQ(PyNames(joined), PyNames(src));
}
