// Directories written by real archivers load with the names, sizes, CRCs, methods,
// dates and comments that Python's zipfile reads from them; every corpus archive
// either loads or fails with a reader message.
#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "PlatPath.h"
#include "ZMUTF8.h"
#include "ZMZipFileTestKit.h"

using namespace zmtest;

namespace {

// Prints one line per entry (hex-coded texts) and a last line with the archive comment.
const char* kLister = R"PY(
import sys, zipfile
def h(b): return b.hex() or '-'
with zipfile.ZipFile(sys.argv[1]) as z:
    for i in z.infolist():
        if i.flag_bits & 0x800:
            raw = i.filename.encode('utf-8'); shown = raw
        else:
            raw = i.filename.encode('cp437'); shown = i.filename.encode('utf-8')
        print('E', h(raw), h(shown), i.flag_bits, i.file_size, i.compress_size, i.CRC,
              i.compress_type, '%d-%d-%d-%d-%d-%d' % i.date_time, h(i.comment))
    print('C', h(z.comment))
)PY";

struct TPyEntry {
  std::string Raw, Shown, Comment;
  unsigned Flag = 0;
  int64_t Size = 0, CSize = 0;
  uint32_t Crc = 0;
  int Method = 0;
  std::string Date;
};

std::string Unhex(const std::string& h) {
  std::string out;
  if (h == "-") return out;
  for (size_t i = 0; i + 1 < h.size(); i += 2) out += char(std::stoi(h.substr(i, 2), nullptr, 16));
  return out;
}

std::string DosDateText(uint32_t v) {
  return std::to_string(1980 + (v >> 25)) + "-" + std::to_string((v >> 21) & 15) + "-" +
         std::to_string((v >> 16) & 31) + "-" + std::to_string((v >> 11) & 31) + "-" +
         std::to_string((v >> 5) & 63) + "-" + std::to_string((v & 31) * 2);
}

class ZMZipFileConformanceTest : public ::testing::Test {
 protected:
  TTempDir Dir;
  bool PrevMode = SetUTF8Mode(true);
  ~ZMZipFileConformanceTest() override { SetUTF8Mode(PrevMode); }

  void SetUp() override {
    if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
    Dir.Write("lister.py", kLister);
    // Source tree for the archivers.
    std::filesystem::create_directories(Dir.Path / "src/sub/deeper");
    std::filesystem::create_directories(Dir.Path / "src/emptydir");
    Dir.Write("src/hello.txt", "Hello, world!\n");
    Dir.Write("src/empty.dat", "");
    std::string big;
    for (int i = 0; i < 20000; ++i) big += "line " + std::to_string(i * 7919 % 1000) + "\n";
    Dir.Write("src/sub/big.txt", big);
    Dir.Write("src/sub/deeper/x.bin", std::string(1000, '\x01'));
    Dir.Write("src/sub/za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87.txt", "polish");
  }

  std::vector<TPyEntry> PythonList(const std::string& archive, std::string& comment) {
    std::vector<TPyEntry> list;
    std::istringstream in(RunCapture("python3 " + Dir.File("lister.py") + " '" + archive + "'"));
    std::string tag;
    while (in >> tag) {
      if (tag == "C") {
        std::string c;
        in >> c;
        comment = Unhex(c);
        continue;
      }
      TPyEntry e;
      std::string raw, shown, cm;
      in >> raw >> shown >> e.Flag >> e.Size >> e.CSize >> e.Crc >> e.Method >> e.Date >> cm;
      e.Raw = Unhex(raw);
      e.Shown = Unhex(shown);
      e.Comment = Unhex(cm);
      list.push_back(e);
    }
    return list;
  }

  // Loads the archive and compares every entry with Python's reading.
  void Compare(const std::string& archive, size_t minEntries) {
    SCOPED_TRACE(archive);
    std::string pyComment;
    const std::vector<TPyEntry> py = PythonList(archive, pyComment);
    ASSERT_GE(py.size(), minEntries) << "python could not read the archive";
    TReaderFixture f;
    ASSERT_EQ(f.Open(archive), 0);
    TZMZipFile& r = *f.Reader;
    ASSERT_EQ(size_t(r.Count()), py.size());
    EXPECT_EQ(r.ZipComment(), pyComment);
    for (size_t i = 0; i < py.size(); ++i) {
      const TZMZRec* rec = r.Items(int(i));
      const TPyEntry& e = py[i];
      EXPECT_EQ(rec->HeaderName(), e.Raw) << i;
      // Python reads names without the UTF-8 flag as code page 437; compare decoded
      // names where both readings agree on the rules.
      bool ascii = true;
      for (unsigned char c : e.Raw) ascii = ascii && c < 128;
      std::string name = rec->FileName();
      for (char& c : name)
        if (c == plat::PathDelim) c = '/';
      if ((e.Flag & 0x800) || ascii || rec->Encoded() == zeoOEM) {
        EXPECT_EQ(name, e.Shown) << i;
      }
      EXPECT_EQ(rec->UncompressedSize(), e.Size) << i;
      EXPECT_EQ(rec->CompressedSize(), e.CSize) << i;
      EXPECT_EQ(rec->CRC32(), e.Crc) << i;
      EXPECT_EQ(rec->CompressionMethod(), e.Method) << i;
      EXPECT_EQ(DosDateText(rec->DateTime()), e.Date) << i;
      EXPECT_EQ(rec->HeaderComment(), e.Comment) << i;
      EXPECT_EQ(rec->Flag(), e.Flag) << i;
    }
    int idx = -1;
    if (!py.empty()) {
      TZMZRec* last = r.Items(int(py.size() - 1));
      EXPECT_EQ(r.FindName(last->FileName(), idx, false), last);
    }
  }
  std::string InSrc(const std::string& cmd) {
    return RunCapture("cd '" + Dir.File("src") + "' && " + cmd + " 2>&1");
  }
};

TEST_F(ZMZipFileConformanceTest, InfoZipPlainZip64CommentsAndNames) {
  if (!HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  InSrc("zip -q -r ../plain.zip .");
  Compare(Dir.File("plain.zip"), 7);
  InSrc("zip -q -r -fz ../z64.zip .");
  Compare(Dir.File("z64.zip"), 7);
  InSrc("printf 'archive note\\n.\\n' | zip -q -z -r ../commented.zip hello.txt sub");
  InSrc("printf 'about hello\\n' | zip -q -c ../commented.zip hello.txt");
  Compare(Dir.File("commented.zip"), 2);
  InSrc("zip -q -D -0 ../nodirs.zip hello.txt empty.dat");
  Compare(Dir.File("nodirs.zip"), 2);
}

TEST_F(ZMZipFileConformanceTest, InfoZipUtf8NamesUseTheUnicodePath) {
  if (!HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  InSrc("LC_ALL=C.UTF-8 zip -q -r ../utf8.zip sub");
  Compare(Dir.File("utf8.zip"), 3);
  TReaderFixture f;
  ASSERT_EQ(f.Open(Dir.File("utf8.zip")), 0);
  int idx = -1;
  const std::string want = "sub" + std::string(1, plat::PathDelim) + "za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87.txt";
  EXPECT_NE(f.Reader->FindName(want, idx, false), nullptr);
}

TEST_F(ZMZipFileConformanceTest, SevenZipAndBsdtar) {
  if (HaveTool("7z")) {
    InSrc("7z a -tzip -bd ../seven.zip . >/dev/null");
    Compare(Dir.File("seven.zip"), 7);
  }
  if (HaveTool("bsdtar")) {
    InSrc("bsdtar --format zip -cf ../bsd.zip .");
    Compare(Dir.File("bsd.zip"), 7);
    InSrc("bsdtar --format zip --options zip:compression=store -cf ../bsdstore.zip .");
    Compare(Dir.File("bsdstore.zip"), 7);
  }
}

TEST_F(ZMZipFileConformanceTest, PythonStoredDeflatedDescriptorsAndManyEntries) {
  Dir.Write("make.py", R"PY(
import sys, zipfile, io
out = sys.argv[1]
with zipfile.ZipFile(out + '/stored.zip', 'w', zipfile.ZIP_STORED) as z:
    z.writestr('a.txt', 'alpha'); z.writestr('dir/', ''); z.writestr('\u017c\u00f3\u0142w.txt', 'x' * 100)
    z.comment = b'python archive'
with zipfile.ZipFile(out + '/deflated.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    for i in range(50): z.writestr('f%03d.txt' % i, ('data %d ' % i) * 100)
    zi = zipfile.ZipInfo('commented.txt', (2001, 2, 3, 4, 5, 6)); zi.comment = b'entry comment'
    z.writestr(zi, 'c')
class Unseekable(io.RawIOBase):
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): return self.f.write(b)
with open(out + '/descr.zip', 'wb') as raw:
    with zipfile.ZipFile(Unseekable(raw), 'w', zipfile.ZIP_DEFLATED) as z:
        for i in range(5):
            with z.open('s%d.bin' % i, 'w') as w: w.write(bytes(range(256)) * (i + 1))
with zipfile.ZipFile(out + '/many.zip', 'w', zipfile.ZIP_STORED) as z:
    for i in range(70001): z.writestr('m/%06d' % i, '')
)PY");
  const std::string err = RunCapture("python3 " + Dir.File("make.py") + " '" + Dir.Path.string() + "' 2>&1");
  ASSERT_EQ(err, "");
  Compare(Dir.File("stored.zip"), 3);
  Compare(Dir.File("deflated.zip"), 51);
  Compare(Dir.File("descr.zip"), 5);
  Compare(Dir.File("many.zip"), 70001);
}

TEST_F(ZMZipFileConformanceTest, CorpusArchivesLoadOrFailWithAReaderMessage) {
  const std::filesystem::path corpus = ZM_CORPUS_DIR;
  if (!std::filesystem::exists(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
  const std::set<int> allowed = {1, 119, 123, 127, 128, 151, 152, 154, 158, 161, 164, 181, 204};
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(corpus)) {
    const std::string ext = e.path().extension().string();
    if (e.is_regular_file() && ext != ".md" && e.path().filename() != "LICENSE" &&
        e.path().filename() != "COPYING")
      files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  std::ostringstream table;
  table << "\n| archive | result | entries | message |\n|---|---|---|---|\n";
  int loaded = 0;
  for (const auto& p : files) {
    TReaderFixture f;
    const int32_t r = f.Open(p.string());
    std::string text;
    if (r < 0) text = f.Reader->LoadMessageText(MsgOf(r));
    int entries = f.Reader->Count();
    if (r >= 0) {
      ++loaded;
      // Every record decodes and is found by its name.
      for (int i = 0; i < entries; ++i) {
        TZMZRec* rec = f.Reader->Items(i);
        rec->FileComment();
        if (rec->FileName().empty()) continue;  // an empty name is never looked up
        int idx = -1;
        EXPECT_NE(f.Reader->FindName(rec->FileName(), idx, false), nullptr) << p << " " << i;
      }
    }
    table << "| " << p.parent_path().filename().string() << "/" << p.filename().string() << " | "
          << (r >= 0 ? "loaded" : "failed " + std::to_string(MsgOf(r))) << " | " << entries << " | " << text
          << " |\n";
    if (r < 0) {
      EXPECT_TRUE(allowed.count(MsgOf(r))) << p << " gave message " << MsgOf(r);
    }
  }
  std::cout << table.str();
  EXPECT_GT(loaded, int(files.size()) / 2);
}

}  // namespace
