// Archives made by real archivers extract to the same tree as unzip makes of them.
#include <gtest/gtest.h>

#include "DZTestKit.h"

using namespace dzt;

namespace {

class DZPeerTool : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "the peers (unzip, zip, 7z, bsdtar, python3) are POSIX programs; compared on POSIX";
#endif
    if (!HaveTool("unzip")) GTEST_SKIP() << "unzip is not installed";
    Dir = FreshDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    Src = Dir / "src";
    MakeSampleTree(Src);
  }
  // Extracts with the engine and with unzip and compares the trees.
  void Compare(const fs::path& zip, const std::string& password = "", int expectFiles = -1) {
    const fs::path mine = Dir / "engine", theirs = Dir / "unzip";
    fs::create_directories(mine);
    THarness h;
    h.Archive = zip.string();
    h.Base = mine.string();
    h.Options |= DZ_OPT_DIRNAMES | DZ_OPT_OVERWRITE;
    h.Password = password;
    const int r = h.Exec();
    EXPECT_GE(r, 0) << h.AllMessages();
    if (expectFiles >= 0) {
      EXPECT_EQ(r, expectFiles);
    }
    EXPECT_TRUE(h.Skips.empty()) << h.AllMessages();
    ASSERT_EQ(Shell("unzip -o -q " + std::string(password.empty() ? "" : "-P " + password + " ") +
                    zip.string() + " -d " + theirs.string()),
              0);
    const auto a = Tree(mine), b = Tree(theirs);
    EXPECT_EQ(a.size(), b.size());
    EXPECT_TRUE(a == b) << "trees differ";
    // And the test mode of the engine agrees.
    THarness t;
    t.Archive = zip.string();
    t.Options = DZ_OPT_ALWAYS | DZ_OPT_TEST;
    t.Password = password;
    EXPECT_EQ(t.Exec(), r);
  }
  // A peer's archive of the sample tree (command run in the tree, the archive named
  // relative to the test folder) extracts as unzip extracts it, to that many files.
  void ComparePeerArchive(const std::string& tool, const std::string& command, const std::string& archive,
                          int expectFiles) {
    if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    ASSERT_EQ(Shell("cd " + Src.string() + " && " + command), 0);
    Compare(Dir / archive, "", expectFiles);
  }
  fs::path Dir, Src;
};

}  // namespace

TEST_F(DZPeerTool, InfoZip) { ComparePeerArchive("zip", "zip -r -6 ../a.zip .", "a.zip", 26); }

TEST_F(DZPeerTool, InfoZipEncryptedAndZip64) {
  if (!HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  ASSERT_EQ(Shell("cd " + Src.string() + " && zip -r -e -P s3cret ../e.zip ."), 0);
  Compare(Dir / "e.zip", "s3cret", 26);
  EXPECT_TRUE(SummarizeCentral(ReadFile(Dir / "e.zip")).FlagsOr & 1);
  ASSERT_EQ(Shell("cd " + Src.string() + " && zip -r -fz ../z.zip ."), 0);
  const TCentralSummary z = SummarizeCentral(ReadFile(Dir / "z.zip"));
  EXPECT_TRUE(z.Has(z.ExtraTags, 0x0001)) << "Zip64 fields expected";
  Compare(Dir / "z.zip", "", 26);
  // Streamed input gives data descriptors and Zip64 local fields.
  ASSERT_EQ(Shell("cd " + Src.string() + " && cat top.txt | zip -fz ../d.zip -"), 0);
  Compare(Dir / "d.zip", "", 1);
  // Encrypted and streamed: the check byte comes from the time.
  ASSERT_EQ(Shell("cd " + Src.string() + " && cat dir1/text2.txt | zip -e -P s3cret ../de.zip -"), 0);
  EXPECT_TRUE(SummarizeCentral(ReadFile(Dir / "de.zip")).FlagsOr & 8);
  fs::remove_all(Dir / "engine");
  fs::remove_all(Dir / "unzip");
  Compare(Dir / "de.zip", "s3cret", 1);
}

TEST_F(DZPeerTool, SevenZipDeflate64AndZipCrypto) {
  if (!HaveTool("7z")) GTEST_SKIP() << "7z is not installed";
  ASSERT_EQ(Shell("cd " + Src.string() + " && 7z a -tzip -mm=Deflate64 ../d64.zip ."), 0);
  const TCentralSummary d = SummarizeCentral(ReadFile(Dir / "d64.zip"));
  EXPECT_TRUE(d.Has(d.Methods, 9)) << "Deflate64 entries expected";
  Compare(Dir / "d64.zip", "", 26);
  ASSERT_EQ(Shell("cd " + Src.string() + " && 7z a -tzip -mem=ZipCrypto -pPa55 ../zc.zip ."), 0);
  EXPECT_TRUE(SummarizeCentral(ReadFile(Dir / "zc.zip")).FlagsOr & 1);
  Compare(Dir / "zc.zip", "Pa55", 26);
}

TEST_F(DZPeerTool, Bsdtar) { ComparePeerArchive("bsdtar", "bsdtar -a -cf ../b.zip .", "b.zip", 26); }

TEST_F(DZPeerTool, PythonZipfile) {
  if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
  const std::string script =
      R"(import zipfile,os,sys
src=sys.argv[1]
with zipfile.ZipFile(sys.argv[2],'w') as z:
  for root,dirs,files in os.walk(src):
    for f in sorted(files):
      p=os.path.join(root,f); a=os.path.relpath(p,src)
      z.write(p,a,compress_type=zipfile.ZIP_STORED if f.endswith('.bin') else zipfile.ZIP_DEFLATED)
  z.writestr('unicode/\u017c\u00f3\u0142w.txt','zolw')
  with z.open('streamed.txt','w',force_zip64=True) as w: w.write(b'x'*100000)
)";
  WriteFile(Dir / "mk.py", script);
  ASSERT_EQ(
      Shell("python3 " + (Dir / "mk.py").string() + " " + Src.string() + " " + (Dir / "p.zip").string()), 0);
  Compare(Dir / "p.zip", "", 28);
}
