// Archives written by real tools during the test list through the component with
// exactly the names, sizes, CRCs, methods, dates and comments Python's zipfile reads.
#include <gtest/gtest.h>

#include <sstream>

#include "PlatPath.h"
#include "ZMListingTestKit.h"

using namespace zmlist;

namespace {

// Prints the archive comment and entry count, then one JSON array per entry. Two names
// are printed besides Python's: the UTF-8 name of Info-ZIP's Unicode path field
// (0x7075), which Python does not read; and the stored bytes of a name written on Unix
// in UTF-8 without the UTF-8 flag, which Python decodes as code page 437. The component
// lists those names, as Info-ZIP's unzip does on a UTF-8 system.
const char* kPyLister = R"PY(
import json, struct, sys, zipfile
def upath(extra):
    at = 0
    while at + 4 <= len(extra):
        tag, size = struct.unpack_from('<HH', extra, at)
        if tag == 0x7075 and size >= 5 and extra[at + 4] == 1:
            return extra[at + 9:at + 4 + size]
        at += 4 + size
    return b''
with zipfile.ZipFile(sys.argv[1]) as z:
    infos = z.infolist()
    print(json.dumps([z.comment.hex(), len(infos)]))
    for i in infos:
        native = b''
        if not i.flag_bits & 0x800 and i.create_system == 3:
            raw = i.orig_filename.encode('cp437')
            try:
                if raw.decode('utf-8') != raw.decode('ascii', 'replace'):
                    native = raw
            except UnicodeDecodeError:
                pass
        print(json.dumps([i.filename.encode('utf-8').hex(), i.file_size, i.compress_size, i.CRC,
                          i.compress_type] + list(i.date_time) +
                         [i.comment.hex(), (upath(i.extra) or native).hex()]))
)PY";

struct TExpected {
  std::string Name;
  int64_t Size = 0, CSize = 0;
  uint32_t Crc = 0;
  int Method = 0;
  int Date[6] = {};
  std::string Comment;
};

std::string Unhex(const std::string& h) {
  std::string r;
  for (size_t i = 0; i + 1 < h.size(); i += 2) r += char(std::stoi(h.substr(i, 2), nullptr, 16));
  return r;
}

// The fields of one flat JSON array of strings and integers.
std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> f;
  std::string cur;
  for (char c : line) {
    if (c == '[' || c == ']' || c == '"' || c == ' ') continue;
    if (c == ',') {
      f.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  f.push_back(cur);
  return f;
}

struct TPythonListing {
  bool Ok = false;
  std::string Comment;
  std::vector<TExpected> Entries;
};

TPythonListing PythonList(const TTempDir& dir, const std::string& archive) {
  TPythonListing r;
  const std::string script = dir / "pylist.py";
  WriteFile(script, kPyLister);
  int status = 0;
  std::istringstream in(RunCapture("python3 " + Quote(script) + " " + Quote(archive), &status));
  if (status != 0) return r;
  std::string line;
  if (!std::getline(in, line)) return r;
  std::vector<std::string> head = Fields(line);
  r.Comment = Unhex(head.at(0));
  const size_t count = std::stoul(head.at(1));
  while (std::getline(in, line)) {
    std::vector<std::string> f = Fields(line);
    if (f.size() != 13) return r;
    TExpected e;
    e.Name = f[12].empty() ? Unhex(f[0]) : Unhex(f[12]);
    e.Size = std::stoll(f[1]);
    e.CSize = std::stoll(f[2]);
    e.Crc = uint32_t(std::stoul(f[3]));
    e.Method = std::stoi(f[4]);
    for (int i = 0; i < 6; ++i) e.Date[i] = std::stoi(f[5 + i]);
    e.Comment = Unhex(f[11]);
    r.Entries.push_back(e);
  }
  r.Ok = r.Entries.size() == count;
  return r;
}

// The name as the component shows it: folders separated by the platform's delimiter.
std::string AsListed(std::string name) {
  for (char& c : name)
    if (c == '/') c = plat::PathDelim;
  return name;
}

// Lists archive through the component and compares every entry with Python's view.
void ExpectSameAsPython(const TTempDir& dir, const std::string& archive, size_t minEntries = 1) {
  SCOPED_TRACE(archive);
  TPythonListing py = PythonList(dir, archive);
  ASSERT_TRUE(py.Ok) << "python3 could not read " << archive;
  ASSERT_GE(py.Entries.size(), minEntries);
  TListingProbe p;
  p.Z.SetUseDirOnlyEntries(true);
  p.Z.SetZipFileName(archive);
  ASSERT_EQ(p.Z.ErrCode(), 0) << p.Z.ErrMsg();
  ASSERT_EQ(size_t(p.Z.Count()), py.Entries.size());
  EXPECT_EQ(p.Z.ZipComment(), py.Comment);
  for (size_t i = 0; i < py.Entries.size(); ++i) {
    const TExpected& e = py.Entries[i];
    auto d = p.Z.DirEntry(int(i));
    ASSERT_TRUE(d);
    SCOPED_TRACE(e.Name);
    EXPECT_EQ(d->FileName(), AsListed(e.Name));
    EXPECT_EQ(d->UncompressedSize(), e.Size);
    EXPECT_EQ(d->CompressedSize(), e.CSize);
    EXPECT_EQ(d->CRC32(), e.Crc);
    EXPECT_EQ(d->CompressionMethod(), e.Method);
    const uint32_t t = d->DateTime();
    const int date[6] = {int(t >> 25) + 1980, int(t >> 21) & 15, int(t >> 16) & 31,
                         int(t >> 11) & 31,   int(t >> 5) & 63,  int(t & 31) * 2};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(date[k], e.Date[k]) << "date field " << k;
    EXPECT_EQ(d->FileComment(), e.Comment);
  }
}

// Source files: text, an empty file, a folder with a binary file, a non-ASCII name.
struct ZMListingConformance : ::testing::Test {
  TTempDir Dir;
  std::string Src;
  void SetUp() override {
    Src = Dir / "src";
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i) + " of the listing sample\n";
    std::string bin;
    uint32_t x = 12345;
    for (int i = 0; i < 50000; ++i) {
      x = x * 1103515245u + 12345u;
      bin += char(x >> 24);
    }
    WriteFile(Src + "/a.txt", text);
    WriteFile(Src + "/empty.txt", "");
    WriteFile(Src + "/dir/sub.bin", bin);
    WriteFile(Src + "/dir/inner/deep.txt", text.substr(0, 777));
    WriteFile(Src + "/za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87.txt", "utf-8 name\n");
  }
  std::string Files() const { return "a.txt empty.txt dir za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87.txt"; }
  // Runs cmd inside the source folder; false when it failed.
  bool InSrc(const std::string& cmd) {
    int status = 0;
    RunCapture("cd " + Quote(Src) + " && " + cmd + " >/dev/null 2>&1", &status);
    return status == 0;
  }
  void NeedTools(std::initializer_list<const char*> tools) {
    for (const char* t : tools)
      if (!HaveTool(t)) GTEST_SKIP() << t << " is not installed";
  }
};

}  // namespace

TEST_F(ZMListingConformance, InfoZipPlainAndZip64) {
  NeedTools({"zip", "python3"});
  if (IsSkipped()) return;
  const std::string plain = Dir / "plain.zip", z64 = Dir / "z64.zip";
  ASSERT_TRUE(InSrc("LC_ALL=C.UTF-8 zip -q -r -X " + Quote(plain) + " " + Files()));
  ASSERT_TRUE(InSrc("LC_ALL=C.UTF-8 zip -q -r -X -fz " + Quote(z64) + " " + Files()));
  ExpectSameAsPython(Dir, plain, 7);
  ExpectSameAsPython(Dir, z64, 7);
}

TEST_F(ZMListingConformance, InfoZipArchiveAndEntryComments) {
  NeedTools({"zip", "python3"});
  if (IsSkipped()) return;
  const std::string arc = Dir / "comments.zip";
  ASSERT_TRUE(InSrc("zip -q -X " + Quote(arc) + " a.txt empty.txt"));
  ASSERT_TRUE(InSrc("printf 'The archive comment\\nsecond line\\n' | zip -q -z " + Quote(arc)));
  ASSERT_TRUE(InSrc("printf 'first entry\\nsecond entry\\n' | zip -q -c " + Quote(arc) + " a.txt empty.txt"));
  ExpectSameAsPython(Dir, arc, 2);
  TListingProbe p;
  p.Z.SetZipFileName(arc);
  // zip stores the comment's line ends as CR LF.
  EXPECT_EQ(p.Z.ZipComment(), "The archive comment\r\nsecond line");
  ASSERT_EQ(p.Z.Count(), 2);
  EXPECT_EQ(p.Z.DirEntry(0)->FileComment(), "first entry");
  EXPECT_EQ(p.Z.DirEntry(1)->FileComment(), "second entry");
}

TEST_F(ZMListingConformance, SevenZipAndBsdtar) {
  NeedTools({"python3"});
  if (IsSkipped()) return;
  bool any = false;
  if (HaveTool("7z")) {
    const std::string arc = Dir / "7z.zip";
    ASSERT_TRUE(InSrc("7z a -tzip " + Quote(arc) + " " + Files()));
    ExpectSameAsPython(Dir, arc, 5);
    any = true;
  }
  if (HaveTool("bsdtar")) {
    const std::string arc = Dir / "bsdtar.zip";
    ASSERT_TRUE(InSrc("bsdtar --format zip -cf " + Quote(arc) + " " + Files()));
    ExpectSameAsPython(Dir, arc, 5);
    const std::string stored = Dir / "bsdtar-stored.zip";
    ASSERT_TRUE(
        InSrc("bsdtar --format zip --options zip:compression=store -cf " + Quote(stored) + " " + Files()));
    ExpectSameAsPython(Dir, stored, 5);
    any = true;
  }
  if (!any) GTEST_SKIP() << "neither 7z nor bsdtar is installed";
}

namespace {
// Python writers: stored, deflated, data descriptors (non-seekable output), non-ASCII
// names, entry comments and many entries.
const char* kPyWriter = R"PY(
import io, sys, zipfile
kind, out = sys.argv[1], sys.argv[2]
class Unseekable(io.RawIOBase):
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): return self.f.write(b)
def fill(z, method):
    z.comment = b'python archive comment'
    z.writestr(zipfile.ZipInfo('stored.txt', (2021, 3, 4, 5, 6, 8)), b'abc' * 100, compress_type=zipfile.ZIP_STORED)
    z.writestr(zipfile.ZipInfo('deflated.txt', (1999, 12, 31, 23, 59, 58)), b'hello ' * 1000, compress_type=zipfile.ZIP_DEFLATED)
    i = zipfile.ZipInfo('folder/', (2010, 1, 1, 0, 0, 0))
    z.writestr(i, b'')
    i = zipfile.ZipInfo('folder/\u0141\u00f3d\u017a \u65e5\u672c.txt', (2030, 6, 15, 12, 30, 0))
    i.comment = b'entry comment'
    z.writestr(i, 'za\u017c\u00f3\u0142\u0107'.encode() * 50, compress_type=method)
    z.writestr(zipfile.ZipInfo('empty'), b'')
if kind == 'stored' or kind == 'deflated':
    with zipfile.ZipFile(out, 'w', zipfile.ZIP_STORED if kind == 'stored' else zipfile.ZIP_DEFLATED) as z:
        fill(z, zipfile.ZIP_STORED if kind == 'stored' else zipfile.ZIP_DEFLATED)
elif kind == 'descriptors':
    with open(out, 'wb') as f:
        with zipfile.ZipFile(Unseekable(f), 'w', zipfile.ZIP_DEFLATED) as z:
            for n in range(20):
                with z.open('stream/%02d.txt' % n, 'w') as w:
                    w.write(b'streamed data %d\n' % n * (n + 1))
elif kind == 'many':
    with zipfile.ZipFile(out, 'w', zipfile.ZIP_STORED) as z:
        for n in range(int(sys.argv[3])):
            z.writestr(zipfile.ZipInfo('d%03d/f%06d.txt' % (n // 1000, n), (2020, 1 + n % 12, 1 + n % 28, n % 24, n % 60, n % 60 // 2 * 2)), b'%d' % n)
)PY";

bool PythonWrite(const TTempDir& dir, const std::string& kind, const std::string& out, int n = 0) {
  const std::string script = dir / "pywrite.py";
  WriteFile(script, kPyWriter);
  int status = 0;
  RunCapture("python3 " + Quote(script) + " " + kind + " " + Quote(out) + " " + std::to_string(n) + " 2>&1",
             &status);
  return status == 0;
}
}  // namespace

TEST_F(ZMListingConformance, PythonStoredDeflatedAndNonAscii) {
  NeedTools({"python3"});
  if (IsSkipped()) return;
  for (const char* kind : {"stored", "deflated"}) {
    const std::string arc = Dir / (std::string(kind) + ".zip");
    ASSERT_TRUE(PythonWrite(Dir, kind, arc));
    ExpectSameAsPython(Dir, arc, 5);
  }
}

TEST_F(ZMListingConformance, PythonDataDescriptors) {
  NeedTools({"python3"});
  if (IsSkipped()) return;
  const std::string arc = Dir / "descriptors.zip";
  ASSERT_TRUE(PythonWrite(Dir, "descriptors", arc));
  ExpectSameAsPython(Dir, arc, 20);
  TListingProbe p;
  p.Z.SetZipFileName(arc);
  ASSERT_EQ(p.Z.Count(), 20);
  EXPECT_NE(p.Z.DirEntry(0)->Flag() & 8, 0) << "entries were meant to carry data descriptors";
}

TEST_F(ZMListingConformance, PythonSeventyThousandEntries) {
  NeedTools({"python3"});
  if (IsSkipped()) return;
  const std::string arc = Dir / "many.zip";
  ASSERT_TRUE(PythonWrite(Dir, "many", arc, 70500));
  ExpectSameAsPython(Dir, arc, 70500);
}
