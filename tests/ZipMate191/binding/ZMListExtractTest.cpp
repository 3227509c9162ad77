// What the component lists is what the engine tests and extracts: the same end record,
// the same directory behind a prefix (Zip64 too), and the same decoded names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "PlatCodePage.h"
#include "PlatPath.h"
#include "ZMDllLoadTestKit.h"
#include "ZMUTF8.h"
#include "ZMZipFileTestKit.h"
#include "ZipMateTestKit.h"

namespace fs = std::filesystem;
using namespace zmtest;

namespace {

// A variable of the environment, set for the scope (the engine reads the locale itself).
struct TScopedEnv {
  std::string Name, Old;
  bool Had;
  TScopedEnv(const std::string& name, const std::string& value) : Name(name) {
    const char* v = std::getenv(name.c_str());
    Had = v != nullptr;
    if (Had) Old = v;
    setenv(name.c_str(), value.c_str(), 1);
  }
  ~TScopedEnv() {
    if (Had)
      setenv(Name.c_str(), Old.c_str(), 1);
    else
      unsetenv(Name.c_str());
  }
};

struct ZMListExtract : ::testing::Test {
  TScopedUi Ui;
  TTempDir Tmp{"listextract"};
  TBindZipMate Comp;
  bool PrevMode = UTF8Mode();

  void SetUp() override {
    if (EnginePath().empty()) GTEST_SKIP() << "the build gave no engine library path";
    Comp.SetUnattended(true);
    Comp.SetDLLDirectory(EngineFolder());
    // Names compared as UTF-8, as the engine writes them, also where ANSI is not UTF-8.
    Comp.SetUseUTF8(true);
  }
  void TearDown() override { SetUTF8Mode(PrevMode); }
  std::string Write(const std::string& name, const std::string& bytes) {
    const fs::path p = Tmp.Path / name;
    std::ofstream(p, std::ios::binary) << bytes;
    return p.string();
  }
  // The names the component lists, '/' separated.
  std::vector<std::string> Listed(const std::string& archive) {
    Comp.SetZipFileName(archive);
    std::vector<std::string> names;
    for (int i = 0; i < Comp.Count(); ++i) {
      std::string n = Comp.DirEntry(i)->FileName();
      std::replace(n.begin(), n.end(), plat::PathDelim, '/');
      names.push_back(n);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // The files the engine writes with folders kept (extracting only those matching spec).
  std::vector<std::string> Extracted(const std::string& archive, const std::string& spec = {}) {
    const fs::path out = Tmp.Path / "out";
    fs::remove_all(out);
    fs::create_directories(out);
    Comp.SetZipFileName(archive);
    TStringList specs;
    if (!spec.empty()) specs.Add(spec);
    Comp.SetFSpecArgs(specs);
    Comp.SetExtrBaseDir(out.string());
    Comp.SetExtrOptions(TZMExtrOpts{ExtrDirNames, ExtrOverWrite});
    Comp.Extract();
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(out))
      if (e.is_regular_file()) {
        const std::u8string rel = fs::relative(e.path(), out).generic_u8string();
        files.emplace_back(rel.begin(), rel.end());
      }
    std::sort(files.begin(), files.end());
    return files;
  }
  int Tested(const std::string& archive) {
    Comp.SetZipFileName(archive);
    Comp.SetFSpecArgs(TStringList());
    Comp.SetExtrOptions(TZMExtrOpts{ExtrTest});
    Comp.Extract();
    return Comp.ErrCode() == 0 ? Comp.SuccessCnt() : -Comp.ErrCode();
  }
  static zmtest::TEntrySpec E(const std::string& name, uint16_t madeBy = 0x031E) {
    zmtest::TEntrySpec e;
    e.Name = name;
    e.Data = "data of " + name;
    e.MadeBy = madeBy;
    return e;
  }
};

using Names = std::vector<std::string>;

}  // namespace

TEST_F(ZMListExtract, AnEndRecordInsideTheCommentCountsForAll) {
  // harmless.txt and its directory, then two more entries behind them whose end record
  // carries in its comment an end record of harmless.txt's directory (claiming a
  // comment that is not there).
  const std::string local = LocalHeader(E("harmless.txt")) + E("harmless.txt").Data;
  const std::string central = CentralHeader(E("harmless.txt"), 0);
  std::string inner;
  Put32(inner, 0x06054B50);
  Put32(inner, 0);
  Put16(inner, 1);
  Put16(inner, 1);
  Put32(inner, uint32_t(central.size()));
  Put32(inner, uint32_t(local.size()));
  Put16(inner, 100);
  TArchiveSpec a;
  a.Prefix = local + central;
  a.Entries = {E("one.exe"), E("two.exe")};
  a.Comment = inner;
  const std::string zip = Write("inner.zip", BuildArchive(a));
  EXPECT_EQ(Listed(zip), Names{"harmless.txt"});
  EXPECT_EQ(Extracted(zip), Names{"harmless.txt"});
  EXPECT_EQ(Tested(zip), 1);
}

TEST_F(ZMListExtract, Zip64ArchivesBehindAPrefix) {
  if (!HaveTool("zip") || !HaveTool("python3")) GTEST_SKIP() << "zip or python3 missing";
  const fs::path src = Tmp.Path / "src";
  fs::create_directories(src / "d");
  std::ofstream(src / "a.txt") << "alpha";
  std::ofstream(src / "d" / "b.txt") << std::string(3000, 'b');
  const std::string stub(4000, '\x90');
  // Info-ZIP's forced Zip64 records (the offset field holds the marker).
  const std::string forced = (Tmp.Path / "forced.zip").string();
  ASSERT_EQ(std::system(("cd '" + src.string() + "' && zip -q -fz -r '" + forced + "' a.txt d").c_str()), 0);
  const std::string sfx = Write("sfx.zip", stub + ReadFile(forced));
  EXPECT_EQ(Listed(sfx), (Names{"a.txt", "d/b.txt"}));
  EXPECT_EQ(Tested(sfx), 2);
  EXPECT_EQ(Extracted(sfx), (Names{"a.txt", "d/b.txt"}));
  EXPECT_EQ(ReadFile((Tmp.Path / "out" / "d" / "b.txt").string()), std::string(3000, 'b'));
  // Python writes Zip64 records for more than 65535 entries; here after a stub.
  const std::string py = (Tmp.Path / "py.zip").string();
  const std::string script =
      "import sys,zipfile\n"
      "f=open(sys.argv[1],'wb'); f.write(b'\\x90'*4000)\n"
      "z=zipfile.ZipFile(f,'w')\n"
      "for i in range(65536): z.writestr('e%05d' % i, b'')\n"
      "z.writestr('last.txt', b'the end'); z.close()\n";
  ASSERT_EQ(std::system(("python3 -c \"" + script + "\" '" + py + "'").c_str()), 0);
  Comp.SetZipFileName(py);
  ASSERT_EQ(Comp.Count(), 65537) << Comp.ErrMsg();
  EXPECT_EQ(Comp.DirEntry(65536)->FileName(), "last.txt");
  EXPECT_EQ(Tested(py), 65537);
  EXPECT_EQ(Extracted(py, "last.txt"), Names{"last.txt"});
}

TEST_F(ZMListExtract, NamesAreListedAsTheyAreWritten) {
  // The UTF-8 flag comes before a Unicode path field; without the flag the field counts.
  zmtest::TEntrySpec flagged = E("caf\xC3\xA9.txt");
  flagged.Flag = 0x0800;
  flagged.Extra = UnicodeBlock(0x7075, flagged.Name, "other.txt");
  zmtest::TEntrySpec field = E("plain-name.txt");
  field.Extra = UnicodeBlock(0x7075, field.Name, "\xC5\xBC\xC3\xB3\xC5\x82w.txt");
  // Names made on MS-DOS are in the OEM code page, here Russian (866).
  const std::string privet("\x8F\xE0\xA8\xA2\xA5\xE2", 6);
  // Names in no code page of this system (KOI8-R bytes from Unix, no UTF-8) stay apart.
  TArchiveSpec a;
  a.Entries = {flagged, field, E(privet, 0x0014), E("\xD0\xD2\xC9"), E("\xC1\xC2\xC3")};
  const std::string zip = Write("names.zip", BuildArchive(a));
  TScopedEnv locale("LC_ALL", "ru_RU.UTF-8");
  const Names listed = Listed(zip);
  EXPECT_EQ(Extracted(zip), listed);
  EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()).size(), 5u);
  if (plat::OemCodePage() == 866) {
    for (const char* name : {"caf\xC3\xA9.txt", "\xC5\xBC\xC3\xB3\xC5\x82w.txt",
                             "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"})
      EXPECT_NE(std::find(listed.begin(), listed.end(), name), listed.end()) << name;
  }
}

TEST_F(ZMListExtract, CodePageArchivesOfTheCorpus) {
  const fs::path dir = fs::path(ZM_CORPUS_DIR) / "libarchive";
  if (!fs::exists(dir)) GTEST_SKIP() << "no corpus at " << dir;
  const struct {
    const char* File;
    uint32_t CodePage;
    Names Expected;
  } cases[] = {
      {"test_read_format_zip_filename_cp866.zip",
       866,
       {"\xD0\x9F\xD0\xA0\xD0\x98\xD0\x92\xD0\x95\xD0\xA2",
        "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"}},
      {"test_read_format_zip_filename_koi8r.zip",
       20866,
       {"\xD0\x9F\xD0\xA0\xD0\x98\xD0\x92\xD0\x95\xD0\xA2",
        "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"}},
      {"test_read_format_zip_filename_cp932.zip",
       932,
       {"\xE8\xA1\xA8\xE3\x81\xA0\xE3\x82\x88/\xE4\xB8\x80\xE8\xA6\xA7\xE8\xA1\xA8.txt",
        "\xE8\xA1\xA8\xE3\x81\xA0\xE3\x82\x88/\xE6\xBC\xA2\xE5\xAD\x97.txt"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.File);
    Comp.SetNameCodePage(c.CodePage);
    const std::string zip = (dir / c.File).string();
    Names expected = c.Expected;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Listed(zip), expected);
    const Names written = Extracted(zip);
#ifdef _WIN32
    // Names that differ only in case are one file here.
    for (const std::string& name : written)
      EXPECT_NE(std::find(expected.begin(), expected.end(), name), expected.end()) << name;
    EXPECT_FALSE(written.empty());
#else
    EXPECT_EQ(written, expected);
#endif
  }
}
