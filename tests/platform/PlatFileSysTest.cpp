#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "PlatError.h"
#include "PlatFileSys.h"
#include "TestTempDir.h"

using namespace plat;
namespace fs = std::filesystem;

namespace {

class PlatFileSys : public ::testing::Test {
 protected:
  zmtest::TTempDir FTemp{"zmplat"};
  void SetUp() override { FDir = FTemp.Dir(); }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(FDir + name, std::ios::binary) << text;
  }
  std::set<std::string> FindAll(const std::string& pattern) {
    std::set<std::string> names;
    TFindData d;
    TFindHandle h = FindFirstW(WideName(pattern), d);
    if (h == kInvalidFindHandle) return names;
    do names.insert(NativeName(d.Name));
    while (FindNextW(h, d));
    EXPECT_EQ(kErrNoMoreFiles, GetLastError());
    FindEnd(h);
    return names;
  }
  std::string FDir;
};

}  // namespace

TEST_F(PlatFileSys, AttributesMapToTheWindowsBits) {
  Write("plain.txt", "x");
  Write(".hidden", "x");
  Write("ro.txt", "x");
  ASSERT_EQ(0, chmod((FDir + "ro.txt").c_str(), 0444));
  EXPECT_EQ(faArchive, FileAttributes(FDir + "plain.txt"));
  EXPECT_EQ(faArchive | faHidden, FileAttributes(FDir + ".hidden"));
  EXPECT_EQ(faArchive | faReadOnly, FileAttributes(FDir + "ro.txt"));
  EXPECT_EQ(faDirectory, FileAttributes(FDir));
  EXPECT_EQ(faDirectory, FileAttributesW(WideName(FDir.substr(0, FDir.size() - 1))));
  EXPECT_TRUE(FileExists(FDir + "plain.txt"));
  EXPECT_FALSE(FileExists(FDir));
  EXPECT_TRUE(DirectoryExists(FDir));
}

TEST_F(PlatFileSys, MissingNamesGiveFileOrPathNotFound) {
  EXPECT_EQ(kInvalidAttributes, FileAttributes(FDir + "none.txt"));
  EXPECT_EQ(kErrFileNotFound, GetLastError());
  EXPECT_EQ(kInvalidAttributes, FileAttributes(FDir + "nodir/none.txt"));
  EXPECT_EQ(kErrPathNotFound, GetLastError());
  EXPECT_EQ(kInvalidAttributes, FileAttributes(std::string("a\0b", 3)));
  EXPECT_EQ(kErrInvalidName, GetLastError());
  // A component longer than the file system allows.
  EXPECT_EQ(kInvalidAttributes, FileAttributes(FDir + std::string(300, 'n')));
  EXPECT_EQ(kErrFilenameTooLong, GetLastError());
  EXPECT_EQ(kInvalidHandle, FileOpenW(WideName(FDir + "none.txt"), fmOpenRead));
  EXPECT_EQ(kErrFileNotFound, GetLastError());
}

TEST_F(PlatFileSys, WideCallsUseUtf8Names) {
  const std::u16string name = WideName(FDir) + u"\u017C\u00F3\u0142w.txt";
  THandle h = FileCreateW(name);
  ASSERT_NE(kInvalidHandle, h);
  EXPECT_EQ(5, FileWrite(h, "hello", 5));
  EXPECT_EQ(2, FileSeek32(h, -3, soEnd));
  TFileInfo info;
  ASSERT_TRUE(FileInfoByHandle(h, info));
  EXPECT_EQ(5u, info.Size);
  EXPECT_EQ(1u, info.Links);
  EXPECT_EQ(faArchive, info.Attr);
  ASSERT_TRUE(FileSetDate(h, (uint32_t((2016 - 1980) << 9 | 6 << 5 | 15) << 16) | (10 << 11)));
  FileClose(h);
  EXPECT_TRUE(fs::exists(FDir + "\xC5\xBC\xC3\xB3\xC5\x82w.txt"));
  std::set<std::string> found = FindAll(FDir + "*.TXT");
  EXPECT_EQ(std::set<std::string>{"\xC5\xBC\xC3\xB3\xC5\x82w.txt"}, found);
  EXPECT_TRUE(FileMoveW(name, WideName(FDir) + u"b.txt"));
  EXPECT_FALSE(FileDeleteW(name));
  EXPECT_TRUE(FileDeleteW(WideName(FDir) + u"b.txt"));
}

TEST_F(PlatFileSys, FindReportsDotEntriesAndMatchesWildcards) {
  Write("a1.txt", "1");
  Write("a22.txt", "22");
  Write("b.dat", "");
  ASSERT_TRUE(FolderCreate(FDir + "sub"));
  EXPECT_EQ((std::set<std::string>{".", "..", "a1.txt", "a22.txt", "b.dat", "sub"}), FindAll(FDir + "*"));
  EXPECT_EQ((std::set<std::string>{".", "..", "a1.txt", "a22.txt", "b.dat", "sub"}), FindAll(FDir + "*.*"));
  EXPECT_EQ((std::set<std::string>{"a1.txt"}), FindAll(FDir + "a?.txt"));
  EXPECT_EQ((std::set<std::string>{"a1.txt", "a22.txt"}), FindAll(FDir + "A*T"));
  EXPECT_EQ((std::set<std::string>{"b.dat"}), FindAll(FDir + "b.dat"));

  TFindData d;
  TFindHandle one = FindFirstW(WideName(FDir + "a22.txt"), d);
  ASSERT_NE(kInvalidFindHandle, one);
  EXPECT_EQ(2u, d.Size);
  EXPECT_EQ(u"a22.txt", d.Name);
  EXPECT_FALSE(FindNextW(one, d));
  FindEnd(one);
  EXPECT_EQ(kInvalidFindHandle, FindFirstW(WideName(FDir + "*.none"), d));
  EXPECT_EQ(kErrFileNotFound, GetLastError());
  EXPECT_EQ(kInvalidFindHandle, FindFirstW(WideName(FDir + "nodir/*"), d));
  EXPECT_EQ(kErrPathNotFound, GetLastError());
  EXPECT_FALSE(FindNextW(kInvalidFindHandle, d));
}

TEST_F(PlatFileSys, FindSkipsEntriesThatVanishAfterTheListing) {
  Write("keep.txt", "k");
  Write("gone.txt", "g");
  TFindData d;
  TFindHandle h = FindFirstW(WideName(FDir + "*.txt"), d);
  ASSERT_NE(kInvalidFindHandle, h);
  // Whichever came first, delete the other one before asking for it.
  std::string first = NativeName(d.Name);
  std::string other = first == "keep.txt" ? "gone.txt" : "keep.txt";
  ASSERT_TRUE(FileDelete(FDir + other));
  EXPECT_FALSE(FindNextW(h, d));
  EXPECT_EQ(kErrNoMoreFiles, GetLastError());
  FindEnd(h);
}

TEST_F(PlatFileSys, FoldersMovesAndDeletes) {
  EXPECT_TRUE(FolderCreateW(WideName(FDir + "d")));
  EXPECT_FALSE(FolderCreate(FDir + "d"));
  EXPECT_EQ(kErrAlreadyExists, GetLastError());
  EXPECT_FALSE(FolderCreate(FDir + "x/y"));
  EXPECT_EQ(kErrPathNotFound, GetLastError());
  Write("d/f", "f");
  EXPECT_FALSE(FolderRemove(FDir + "d"));
  EXPECT_EQ(kErrDirNotEmpty, GetLastError());
  EXPECT_FALSE(FileDelete(FDir + "d"));  // folders are not files
  EXPECT_EQ(kErrAccessDenied, GetLastError());
  Write("g", "g");
  EXPECT_FALSE(FileMove(FDir + "g", FDir + "d/f"));  // never replaces
  EXPECT_EQ(kErrAlreadyExists, GetLastError());
  EXPECT_TRUE(FileMove(FDir + "g", FDir + "d/g"));
  EXPECT_TRUE(FileDelete(FDir + "d/f"));
  EXPECT_TRUE(FileDelete(FDir + "d/g"));
  EXPECT_TRUE(FolderRemoveW(WideName(FDir + "d")));
  EXPECT_FALSE(FolderRemove(FDir + "d"));
  EXPECT_EQ(kErrFileNotFound, GetLastError());
}

// Also run under wine (the other suites of this file assume POSIX).
class PlatFileIdentity : public PlatFileSys {};

TEST_F(PlatFileIdentity, FollowsLinksAndAReplacementTakesTheOldName) {
  Write("a", "old");
  Write("b", "new");
  fs::create_hard_link(FDir + "a", FDir + "hard");
  TFileId a, b, other;
  ASSERT_TRUE(FileIdentity(FDir + "a", a));
  ASSERT_TRUE(FileIdentityW(WideName(FDir + "b"), b));
  EXPECT_FALSE(a == b);
  ASSERT_TRUE(FileIdentity(FDir + "hard", other));
  EXPECT_EQ(a, other);
  std::error_code ec;
  fs::create_symlink(FDir + "a", FDir + "sym", ec);
  if (!ec) {
    ASSERT_TRUE(FileIdentity(FDir + "sym", other));
    EXPECT_EQ(a, other);
  }
  EXPECT_FALSE(FileIdentity(FDir + "missing", other));
  EXPECT_EQ(kErrFileNotFound, GetLastError());
  EXPECT_EQ(kErrSuccess, FileReplace(FDir + "b", FDir + "a", false));
  ASSERT_TRUE(FileIdentity(FDir + "a", other));
  EXPECT_EQ(b, other);
  EXPECT_FALSE(fs::exists(FDir + "b"));
  std::ifstream hard(FDir + "hard");
  std::string text;
  hard >> text;
  EXPECT_EQ("old", text);
  EXPECT_NE(kErrSuccess, FileReplace(FDir + "b", FDir + "a", false));
}

TEST_F(PlatFileSys, TrashFollowsTheDesktopLayout) {
  const char* old = getenv("XDG_DATA_HOME");
  std::string saved = old ? old : "";
  setenv("XDG_DATA_HOME", (FDir + "data").c_str(), 1);
  Write("my file%.txt", "one");
  EXPECT_EQ(kErrSuccess, FileDeleteToTrash(FDir + "my file%.txt"));
  Write("my file%.txt", "two");
  EXPECT_EQ(kErrSuccess, FileDeleteToTrash(FDir + "my file%.txt"));
  EXPECT_EQ(kErrFileNotFound, FileDeleteToTrash(FDir + "my file%.txt"));
  if (old)
    setenv("XDG_DATA_HOME", saved.c_str(), 1);
  else
    unsetenv("XDG_DATA_HOME");

  const std::string trash = FDir + "data/Trash/";
  EXPECT_FALSE(fs::exists(FDir + "my file%.txt"));
  std::ifstream first(trash + "files/my file%.txt");
  std::string text;
  first >> text;
  EXPECT_EQ("one", text);
  EXPECT_TRUE(fs::exists(trash + "files/my file%.txt.2"));
  std::ifstream info(trash + "info/my file%.txt.trashinfo");
  std::string line1, line2, line3;
  std::getline(info, line1);
  std::getline(info, line2);
  std::getline(info, line3);
  EXPECT_EQ("[Trash Info]", line1);
  EXPECT_EQ("Path=" + FDir + "my%20file%25.txt", line2);
  EXPECT_EQ(0u, line3.rfind("DeletionDate=", 0));
  EXPECT_EQ(32u, line3.size());  // DeletionDate=YYYY-MM-DDThh:mm:ss
  EXPECT_TRUE(fs::exists(trash + "info/my file%.txt.2.trashinfo"));
}

TEST_F(PlatFileSys, TemporaryNamesAreNewFiles) {
  std::string a = UniqueTempName(FDir, "zmtest");
  std::string b = UniqueTempName(FDir, "zmtest");
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  EXPECT_NE(a, b);
  EXPECT_EQ(0u, a.rfind(FDir + "zmt", 0));
  EXPECT_EQ(".tmp", a.substr(a.size() - 4));
  EXPECT_TRUE(FileExists(a));
  EXPECT_TRUE(UniqueTempName(FDir + "nodir", "zm").empty());
  EXPECT_EQ('/', TempFolder().back());
  EXPECT_FALSE(CurrentFolder().empty());
}
