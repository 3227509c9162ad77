#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "PlatCodePage.h"
#include "PlatError.h"
#include "PlatFileSys.h"
#include "PlatPath.h"
#include "ZMClasses.h"
#include "ZMUTF8.h"
#include "ZMWFuncs.h"
#include "TestTempDir.h"

namespace fs = std::filesystem;

namespace {

class EnvVar {
 public:
  EnvVar(const char* name, const std::string& value) : FName(name) {
    const char* old = std::getenv(name);
    FHad = old != nullptr;
    if (old) FOld = old;
    setenv(name, value.c_str(), 1);
    tzset();
  }
  ~EnvVar() {
    if (FHad)
      setenv(FName, FOld.c_str(), 1);
    else
      unsetenv(FName);
    tzset();
  }

 private:
  const char* FName;
  bool FHad = false;
  std::string FOld;
};

class ZMWFuncs : public ::testing::Test {
 protected:
  zmtest::TTempDir FTemp{"zmwf"};
  void SetUp() override {
    FDir = FTemp.Dir();
    FOldMode = SetUTF8Mode(false);
  }
  void TearDown() override { SetUTF8Mode(FOldMode); }
  std::string Write(const std::string& name, const std::string& text = "data") {
    std::ofstream(FDir + name, std::ios::binary) << text;
    return FDir + name;
  }
  std::set<std::string> Found(const std::string& pattern, uint32_t attrs) {
    std::set<std::string> names;
    TZMSearchRec rec;
    int r = FindFirstEntry(pattern, attrs, rec);
    while (r == 0) {
      names.insert(rec.Name);
      EXPECT_EQ(0u, rec.Attr & rec.ExcludeAttr);
      r = FindNextEntry(rec);
    }
    FindEndEntry(rec);
    return names;
  }
  std::string FDir;
  bool FOldMode = false;
};

uint32_t Stamp(int y, int mo, int d, int h, int mi, int s) {
  return (uint32_t(((y - 1980) << 9) | (mo << 5) | d) << 16) | uint32_t((h << 11) | (mi << 5) | (s / 2));
}

}  // namespace

TEST_F(ZMWFuncs, FolderExistsInBothModes) {
  Write("file.txt");
  ASSERT_TRUE(plat::FolderCreate(FDir + "sub"));
  for (bool utf8 : {false, true}) {
    SetUTF8Mode(utf8);
    EXPECT_TRUE(FolderExists(""));
    EXPECT_TRUE(FolderExists(FDir));  // trailing delimiter
    EXPECT_TRUE(FolderExists(FDir + "sub"));
    EXPECT_TRUE(FolderExists(plat::PathDelimStr));  // the root
    EXPECT_FALSE(FolderExists(FDir + "file.txt"));
    EXPECT_FALSE(FolderExists(FDir + "none"));
  }
  EXPECT_TRUE(FolderExistsWide(u""));
  EXPECT_TRUE(FolderExistsWide(plat::WideName(FDir)));
  EXPECT_FALSE(FolderExistsWide(plat::WideName(FDir + "file.txt")));
}

TEST_F(ZMWFuncs, FileIsPresentOnlyForFiles) {
  std::string polish = Write("\xC5\x82\xC3\xB3\x64\xC5\xBA.txt");
  ASSERT_TRUE(plat::FolderCreate(FDir + "dir"));
  for (bool utf8 : {false, true}) {
    SetUTF8Mode(utf8);
    EXPECT_TRUE(FileIsPresent(polish)) << utf8;
    EXPECT_FALSE(FileIsPresent(FDir + "dir")) << utf8;
    EXPECT_FALSE(FileIsPresent(FDir + "none")) << utf8;
    EXPECT_FALSE(FileIsPresent(FDir + "no" + plat::PathDelimStr + "none")) << utf8;
    EXPECT_FALSE(FileIsPresent(FDir + std::string(300, 'x'))) << utf8;
    EXPECT_FALSE(FileIsPresent("")) << utf8;
  }
  SetUTF8Mode(true);
  EXPECT_FALSE(FileIsPresent(FDir + "bad\xFF"));  // not UTF-8 and no ANSI reading
}

TEST_F(ZMWFuncs, RemoveRenameAndRemoveFolder) {
  SetUTF8Mode(true);
  std::string a = Write(
      "\xC5\xBC"
      "a.txt");
  EXPECT_TRUE(RenameFile(a, FDir + "b.txt"));
  EXPECT_FALSE(RenameFile(a, FDir + "c.txt"));
  EXPECT_TRUE(RemoveFile(FDir + "b.txt"));
  EXPECT_FALSE(RemoveFile(FDir + "b.txt"));
  ASSERT_TRUE(plat::FolderCreate(FDir + "d"));
  Write("d/x");
  EXPECT_FALSE(RemoveFolder(FDir + "d"));
  SetUTF8Mode(false);
  EXPECT_TRUE(RemoveFile(FDir + "d/x"));
  EXPECT_TRUE(RemoveFolder(FDir + "d"));
  EXPECT_FALSE(FolderExists(FDir + "d"));
}

TEST_F(ZMWFuncs, DiscardFilePermanentlyAndToTheTrash) {
  EnvVar xdg("XDG_DATA_HOME", FDir + "xdg");
  EXPECT_EQ(-1, DiscardFile(FDir + "none.txt", true));
  EXPECT_EQ(-1, DiscardFile(FDir, false));  // a folder is not a file

  std::string gone = Write("gone.txt");
  EXPECT_EQ(0, DiscardFile(gone, true));
  EXPECT_FALSE(fs::exists(gone));
  EXPECT_FALSE(fs::exists(FDir + "xdg/Trash/files/gone.txt"));

  std::string kept = Write("kept.txt", "keep me");
  EXPECT_EQ(0, DiscardFile(kept, false));
  EXPECT_FALSE(fs::exists(kept));
  std::ifstream in(FDir + "xdg/Trash/files/kept.txt");
  std::string text;
  std::getline(in, text);
  EXPECT_EQ("keep me", text);
  EXPECT_TRUE(fs::exists(FDir + "xdg/Trash/info/kept.txt.trashinfo"));

  // A bare name is taken from the current folder.
  Write("bare.txt");
  std::string cwd = plat::CurrentFolder();
  ASSERT_EQ(0, chdir(FDir.c_str()));
  int r = DiscardFile("bare.txt", true);
  int missing = DiscardFile("bare.txt", true);
  ASSERT_EQ(0, chdir(cwd.c_str()));
  EXPECT_EQ(0, r);
  EXPECT_EQ(-1, missing);
}

TEST_F(ZMWFuncs, OpenFileForModeChecksTheModeWord) {
  std::string name = Write("\xC5\x82.bin", "abc");
  for (bool utf8 : {false, true}) {
    SetUTF8Mode(utf8);
    plat::THandle h = OpenFileForMode(name, plat::fmOpenRead | plat::fmShareDenyWrite);
    ASSERT_NE(plat::kInvalidHandle, h);
    char buf[4] = {};
    EXPECT_EQ(3, plat::FileRead(h, buf, 4));
    EXPECT_EQ(-1, plat::FileWrite(h, "x", 1));  // opened for reading only
    plat::FileClose(h);
    h = OpenFileForMode(name, plat::fmOpenReadWrite | plat::fmShareDenyNone);
    ASSERT_NE(plat::kInvalidHandle, h);
    plat::FileClose(h);
    EXPECT_EQ(plat::kInvalidHandle, OpenFileForMode(name, 3));
    EXPECT_EQ(plat::kInvalidHandle, OpenFileForMode(name, 0x50));
    EXPECT_EQ(plat::kInvalidHandle, OpenFileForMode(FDir + "none", plat::fmOpenRead));
    EXPECT_EQ(plat::kInvalidHandle, OpenFileForMode(FDir, plat::fmOpenRead));  // a folder
  }
}

TEST_F(ZMWFuncs, FindFirstEntryAttributeMasks) {
  Write("a.txt", "12345");
  Write(".hidden.txt");
  ASSERT_TRUE(plat::FolderCreate(FDir + "sub"));
  const std::string all = FDir + "*";
  EXPECT_EQ((std::set<std::string>{"a.txt"}), Found(all, 0));
  EXPECT_EQ((std::set<std::string>{"a.txt", ".hidden.txt"}), Found(all, plat::faHidden));
  EXPECT_EQ((std::set<std::string>{".", "..", "a.txt", "sub"}), Found(all, plat::faDirectory));
  EXPECT_EQ((std::set<std::string>{".", "..", "a.txt", ".hidden.txt", "sub"}), Found(all, faAnyFile));
  EXPECT_EQ((std::set<std::string>{"a.txt", ".hidden.txt"}), Found(FDir + "*.txt", faAnyFile));

  TZMSearchRec rec;
  ASSERT_EQ(0, FindFirstEntry(FDir + "a.txt", 0, rec));
  EXPECT_EQ(0x16u, rec.ExcludeAttr);
  EXPECT_EQ(5, rec.Size);
  EXPECT_EQ("a.txt", rec.Name);
  EXPECT_EQ(plat::faArchive, rec.Attr);
  EXPECT_EQ(FileTimeToDos(rec.FindData.LastWriteTime), rec.Time);
  EXPECT_NE(0u, rec.Time);
  EXPECT_EQ(int(plat::kErrNoMoreFiles), FindNextEntry(rec));
  FindEndEntry(rec);
  EXPECT_EQ(plat::kInvalidFindHandle, rec.FindHandle);
  EXPECT_EQ(int(plat::kErrInvalidHandle), FindNextEntry(rec));

  // Only a folder matches, but folders are not asked for: not found, search closed.
  EXPECT_EQ(int(plat::kErrNoMoreFiles), FindFirstEntry(FDir + "sub", 0, rec));
  EXPECT_EQ(plat::kInvalidFindHandle, rec.FindHandle);
  EXPECT_EQ(int(plat::kErrFileNotFound), FindFirstEntry(FDir + "*.none", faAnyFile, rec));
  EXPECT_EQ(int(plat::kErrPathNotFound), FindFirstEntry(FDir + "no/*", faAnyFile, rec));
  EXPECT_EQ(int(plat::kErrPathNotFound), FindFirstEntry("", faAnyFile, rec));
}

TEST_F(ZMWFuncs, SearchRecordsCloseTheirSearchWhenMovedOrDestroyed) {
  Write("x1");
  Write("x2");
  TZMSearchRec moved;
  {
    TZMSearchRec rec;
    ASSERT_EQ(0, FindFirstEntry(FDir + "x*", 0, rec));
    moved = std::move(rec);
    EXPECT_EQ(plat::kInvalidFindHandle, rec.FindHandle);
  }
  ASSERT_NE(plat::kInvalidFindHandle, moved.FindHandle);
  EXPECT_EQ(0, FindNextEntry(moved));
  // A new search on the same record replaces the old one.
  EXPECT_EQ(0, FindFirstEntry(FDir + "x1", 0, moved));
  EXPECT_EQ("x1", moved.Name);
}

TEST_F(ZMWFuncs, FileStampIsTheLocalDosTime) {
  EnvVar tz("TZ", "Europe/Warsaw");
  std::string name = Write("stamped");
  plat::THandle h = plat::FileOpen(name, plat::fmOpenReadWrite);
  ASSERT_NE(plat::kInvalidHandle, h);
  const uint32_t stamp = Stamp(2016, 7, 15, 14, 30, 20);
  ASSERT_TRUE(plat::FileSetDate(h, stamp));
  plat::FileClose(h);
  EXPECT_EQ(int32_t(stamp), FileStamp(name));
  struct stat st;
  ASSERT_EQ(0, ::stat(name.c_str(), &st));
  struct tm utc {};
  gmtime_r(&st.st_mtime, &utc);
  EXPECT_EQ(12, utc.tm_hour);  // 14:30 in Warsaw's summer is 12:30 UTC
  EXPECT_EQ(-1, FileStamp(FDir + "none"));
  EXPECT_NE(-1, FileStamp(FDir + "."));  // folders count too
}

TEST_F(ZMWFuncs, MakeFolderPathCreatesParentsFirst) {
  std::vector<std::string> made;
  auto creator = [&made](const std::string& path) {
    made.push_back(path);
    return plat::FolderCreate(path);
  };
  const std::string d = plat::PathDelimStr;
  EXPECT_TRUE(MakeFolderPath(FDir + "a" + d + "b" + d + "c" + d, creator));
  EXPECT_EQ((std::vector<std::string>{FDir + "a", FDir + "a" + d + "b", FDir + "a" + d + "b" + d + "c"}),
            made);
  EXPECT_TRUE(FolderExists(FDir + "a" + d + "b" + d + "c"));
  made.clear();
  EXPECT_TRUE(MakeFolderPath(FDir + "a" + d + "b", creator));  // exists already
  EXPECT_TRUE(made.empty());
  EXPECT_TRUE(MakeFolderPath("", creator));
  // A refusing creator stops the walk and decides the result.
  auto refuse = [&made](const std::string& path) {
    made.push_back(path);
    return false;
  };
  EXPECT_FALSE(MakeFolderPath(FDir + "x" + d + "y", refuse));
  EXPECT_EQ((std::vector<std::string>{FDir + "x"}), made);
  // Without a creator the platform makes them; a file in the way fails.
  SetUTF8Mode(true);
  EXPECT_TRUE(MakeFolderPath(FDir + "\xC5\x82" + d + "q"));
  EXPECT_TRUE(fs::is_directory(FDir + "\xC5\x82/q"));
  Write("file");
  EXPECT_FALSE(MakeFolderPath(FDir + "file" + d + "sub"));
}

TEST_F(ZMWFuncs, MakeFolderPathWide) {
  std::vector<std::u16string> made;
  auto creator = [&made](const std::u16string& path) {
    made.push_back(path);
    return plat::FolderCreateW(path);
  };
  const std::u16string base = plat::WideName(FDir);
  const std::u16string d(1, plat::PathDelimW);
  EXPECT_TRUE(MakeFolderPathWide(base + u"\u017C" + d + u"w", creator));
  EXPECT_EQ((std::vector<std::u16string>{base + u"\u017C", base + u"\u017C" + d + u"w"}), made);
  EXPECT_TRUE(MakeFolderPathWide(base + u"p" + d + u"q"));
  EXPECT_TRUE(FolderExistsWide(base + u"p" + d + u"q"));
}

TEST_F(ZMWFuncs, OpenResourceStreamByNameAndNumber) {
  auto s = OpenResourceStream("ZMTESTSAMPLE", 10);
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(44, s->Size());
  char head[8] = {};
  EXPECT_EQ(8, s->Read(head, 8));
  EXPECT_EQ("Embedded", std::string(head, 8));
  EXPECT_EQ(0, s->Write("x", 1));  // read-only

  auto n = OpenResourceStream("#123", 10);
  ASSERT_NE(nullptr, n);
  EXPECT_EQ(12, n->Size());
  EXPECT_NE(nullptr, OpenResourceStream("#0123"));
  EXPECT_NE(nullptr, OpenResourceStream("zmtesttyped", 23));
  EXPECT_EQ(nullptr, OpenResourceStream("zmtesttyped"));
  EXPECT_EQ(nullptr, OpenResourceStream("#124"));
  EXPECT_EQ(nullptr, OpenResourceStream("#12x"));
  EXPECT_EQ(nullptr, OpenResourceStream("#abc"));
  EXPECT_EQ(nullptr, OpenResourceStream("#"));
  EXPECT_EQ(nullptr, OpenResourceStream("#99999999999999999999999999999"));
  EXPECT_EQ(nullptr, OpenResourceStream(""));
  EXPECT_EQ(nullptr, OpenResourceStream("NoSuchResource"));
}

TEST_F(ZMWFuncs, DosTimesRoundTripThroughUtc) {
  EnvVar tz("TZ", "Europe/Warsaw");
  const uint32_t winter = Stamp(2016, 1, 15, 13, 0, 0);
  // 13:00 in Warsaw's winter is 12:00 UTC: 2016-01-15 is day 42384.
  EXPECT_DOUBLE_EQ(42384.5, DosToDateTime(winter));
  plat::TFileTime ft = 0;
  ASSERT_TRUE(plat::DateTimeToFileTime(DosToDateTime(winter), ft));
  EXPECT_EQ(winter, FileTimeToDos(ft));
  const uint32_t summer = Stamp(2016, 7, 15, 14, 30, 58);
  ASSERT_TRUE(plat::DateTimeToFileTime(DosToDateTime(summer), ft));
  EXPECT_EQ(summer, FileTimeToDos(ft));
  // Impossible stamps and times outside the DOS range give 0.
  EXPECT_EQ(0.0, DosToDateTime(0));
  EXPECT_EQ(0.0, DosToDateTime(Stamp(2016, 13, 1, 0, 0, 0)));
  EXPECT_EQ(0u, FileTimeToDos(0));
  EXPECT_EQ(0u, FileTimeToDos(~0ull));
}
