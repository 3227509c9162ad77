// The Windows platform layer against the system itself (built for Windows only).
#ifdef _WIN32
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "PlatCodePage.h"
#include "PlatDrive.h"
#include "PlatDynLib.h"
#include "PlatError.h"
#include "PlatFileSys.h"

using namespace plat;

namespace {

// A fresh folder under the temporary folder, removed with its files afterwards.
class PlatWin32Files : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string guid;
    ASSERT_TRUE(NewGuidText(guid));
    FDir = TempFolder() + "zmwin" + guid.substr(1, 8);
    ASSERT_TRUE(FolderCreate(FDir)) << GetLastError();
    FDirW = WideName(FDir);
  }
  void TearDown() override {
    TFindData d;
    TFindHandle h = FindFirstW(FDirW + u"\\*", d);
    if (h != kInvalidFindHandle) {
      do {
        if (!(d.Attr & faDirectory)) FileDeleteW(FDirW + u"\\" + d.Name);
      } while (FindNextW(h, d));
      FindEnd(h);
    }
    FolderRemove(FDir);
  }
  std::string FDir;
  std::u16string FDirW;
};

}  // namespace

TEST_F(PlatWin32Files, WideNamesCreateWriteSeekTruncateAndRead) {
  const std::u16string name = FDirW + u"\\Zażółć gęślą \u4E2D.bin";
  THandle h = FileCreateW(name);
  ASSERT_NE(kInvalidHandle, h) << GetLastError();
  EXPECT_EQ(10, FileWrite(h, "0123456789", 10));
  EXPECT_EQ(4, FileSeek(h, 4, soBeginning));
  EXPECT_TRUE(FileSetEnd(h));
  EXPECT_EQ(4, FileSeek(h, 0, soEnd));
  EXPECT_EQ(0, FileSeek32(h, 0, soBeginning));
  char buf[16] = {};
  EXPECT_EQ(4, FileRead(h, buf, 16));
  EXPECT_EQ(0, FileRead(h, buf, 16));  // at the end
  EXPECT_EQ("0123", std::string(buf, 4));
  TFileInfo info;
  ASSERT_TRUE(FileInfoByHandle(h, info));
  EXPECT_EQ(4u, info.Size);
  EXPECT_EQ(1u, info.Links);
  EXPECT_TRUE(FileClose(h));
  EXPECT_FALSE(FileClose(kInvalidHandle));

  uint32_t a = FileAttributesW(name);
  ASSERT_NE(kInvalidAttributes, a);
  EXPECT_EQ(0u, a & faDirectory);
  EXPECT_TRUE(FileDeleteW(name));
  EXPECT_EQ(kInvalidAttributes, FileAttributesW(name));
  EXPECT_EQ(kErrFileNotFound, GetLastError());
}

TEST_F(PlatWin32Files, SharingModesAreThoseOfTheOpenMode) {
  const std::string name = FDir + "\\shared.txt";
  THandle h = FileCreate(name);
  ASSERT_NE(kInvalidHandle, h);
  // A created file is held exclusively.
  EXPECT_EQ(kInvalidHandle, FileOpen(name, fmOpenRead | fmShareDenyNone));
  EXPECT_EQ(kErrSharingViolation, GetLastError());
  FileClose(h);
  THandle r1 = FileOpen(name, fmOpenRead | fmShareDenyWrite);
  ASSERT_NE(kInvalidHandle, r1);
  THandle r2 = FileOpen(name, fmOpenRead | fmShareDenyWrite);
  EXPECT_NE(kInvalidHandle, r2);
  EXPECT_EQ(kInvalidHandle, FileOpen(name, fmOpenWrite | fmShareDenyNone));
  FileClose(r1);
  FileClose(r2);
  EXPECT_EQ(kInvalidHandle, FileOpen(name, 3));           // no such access
  EXPECT_EQ(kInvalidHandle, FileOpen(FDir, fmOpenRead));  // a folder is no file
}

TEST_F(PlatWin32Files, MovingSearchingAndFolders) {
  const std::string a = FDir + "\\a.txt", b = FDir + "\\b.txt";
  FileClose(FileCreate(a));
  FileClose(FileCreate(b));
  EXPECT_FALSE(FileMove(a, b));  // the target exists
  EXPECT_EQ(kErrAlreadyExists, GetLastError());
  EXPECT_TRUE(FileMove(a, FDir + "\\c.TXT"));
  EXPECT_FALSE(FileExists(a));
  EXPECT_TRUE(FolderCreate(FDir + "\\sub"));
  EXPECT_TRUE(DirectoryExists(FDir + "\\sub"));
  EXPECT_FALSE(FolderCreate(FDir + "\\sub"));
  EXPECT_EQ(kErrAlreadyExists, GetLastError());

  TFindData d;
  TFindHandle h = FindFirstW(FDirW + u"\\*.txt", d);
  ASSERT_NE(kInvalidFindHandle, h);
  std::u16string found;
  do found += d.Name + u";";
  while (FindNextW(h, d));
  EXPECT_EQ(kErrNoMoreFiles, GetLastError());
  FindEnd(h);
  EXPECT_NE(std::u16string::npos, found.find(u"b.txt;"));
  EXPECT_NE(std::u16string::npos, found.find(u"c.TXT;"));
  EXPECT_EQ(std::u16string::npos, found.find(u"sub"));
  EXPECT_EQ(kInvalidFindHandle, FindFirstW(FDirW + u"\\*.none", d));
  EXPECT_TRUE(FolderRemove(FDir + "\\sub"));
  EXPECT_FALSE(FolderRemove(FDir + "\\sub"));
  EXPECT_FALSE(FileDelete(std::string("bad\0name", 8)));
  EXPECT_EQ(kErrInvalidName, GetLastError());
}

TEST_F(PlatWin32Files, TemporaryNamesAndDates) {
  std::string t = UniqueTempName(FDir, "zmtest");
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(FDir + "\\zmt", t.substr(0, FDir.size() + 4));
  EXPECT_EQ(".tmp", t.substr(t.size() - 4));
  EXPECT_TRUE(FileExists(t));  // created empty
  EXPECT_NE(t, UniqueTempName(FDir, "zmtest"));
  EXPECT_EQ('\\', TempFolder().back());

  THandle h = FileOpen(t, fmOpenReadWrite);
  ASSERT_NE(kInvalidHandle, h);
  // 2016-06-07 08:44:02 local time.
  const uint32_t stamp = (uint32_t((36 << 9) | (6 << 5) | 7) << 16) | ((8 << 11) | (44 << 5) | 1);
  ASSERT_TRUE(FileSetDate(h, stamp));
  TFileInfo info;
  ASSERT_TRUE(FileInfoByHandle(h, info));
  FileClose(h);
  TFileTime local;
  ASSERT_TRUE(FileTimeToLocalFileTime(info.LastWriteTime, local));
  uint16_t date = 0, time = 0;
  ASSERT_TRUE(FileTimeToDosDateTime(local, date, time));
  EXPECT_EQ(stamp, (uint32_t(date) << 16) | time);
}

TEST(PlatWin32, CodePagesThroughTheSystem) {
  // Windows-1250 Polish letters and back.
  const char pl[] = "\xA5\xB9\x8C\x9C";  // Ą ą Ś ś
  char16_t w[8] = {};
  ASSERT_EQ(4, MultiByteToWide(1250, 0, pl, 4, w, 8));
  EXPECT_EQ(std::u16string(u"ĄąŚś"), std::u16string(w, 4));
  char back[8] = {};
  bool used = true;
  ASSERT_EQ(4, WideToMultiByte(1250, 0, w, 4, back, 8, nullptr, &used));
  EXPECT_FALSE(used);
  EXPECT_EQ(std::string(pl), std::string(back, 4));
  // Not in 852: the default character, reported as used.
  ASSERT_EQ(1, WideToMultiByte(852, kWcNoBestFitChars, u"\u20AC", 1, back, 8, "#", &used));
  EXPECT_EQ('#', back[0]);
  EXPECT_TRUE(used);
  // UTF-8 with a given default character replaces an unpaired surrogate with it.
  const char16_t lone[] = {u'a', char16_t(0xD800), u'b'};
  ASSERT_EQ(3, WideToMultiByte(kCpUtf8, 0, lone, 3, back, 8, "?", &used));
  EXPECT_EQ("a?b", std::string(back, 3));
  EXPECT_TRUE(used);
  EXPECT_EQ(0, WideToMultiByte(kCpUtf8, kWcErrInvalidChars, lone, 3, back, 8, nullptr, nullptr));
  EXPECT_EQ(kErrNoUnicodeTranslation, GetLastError());
  // UTF-16LE bytes, which the system does not convert itself.
  ASSERT_EQ(2, MultiByteToWide(kCpUtf16Le, 0, "A\0\x05\x01", 4, w, 8));
  EXPECT_EQ(std::u16string(u"Aą"), std::u16string(w, 2));
  EXPECT_EQ(0, MultiByteToWide(kCpUtf8, 0, "abc", 3, w, 2));
  EXPECT_EQ(kErrInsufficientBuffer, GetLastError());
  EXPECT_TRUE(IsSingleByteCodePage(1250));
  EXPECT_FALSE(IsSingleByteCodePage(932));
  EXPECT_EQ(2, CharLength(932, "\x82\xA0", 2));
  EXPECT_EQ(1, CharLength(1250, "\xA5\xB9", 2));
  EXPECT_TRUE(IsNTFamily());
  // Narrow names follow the ANSI code page override.
  unsigned prev = SetAnsiCodePageOverride(1250);
  EXPECT_EQ(std::u16string(u"Ą"), WideName("\xA5"));
  EXPECT_EQ("\xA5", NativeName(u"Ą"));
  SetAnsiCodePageOverride(prev);
}

TEST(PlatWin32, DrivesOfTheSystem) {
  TDriveLayer& d = SystemDrives();
  EXPECT_EQ("C:", d.DrivePart("C:\\dir\\file"));
  EXPECT_EQ("\\\\server\\share", d.DrivePart("\\\\server\\share\\dir"));
  EXPECT_EQ("", d.DrivePart("dir\\file"));
  EXPECT_EQ("", d.DrivePart("\\\\\\x"));
  EXPECT_NE(0u, d.LogicalDrives() & (1u << 2));  // C:
  EXPECT_EQ(kDriveFixed, d.DriveType("C:\\"));
  EXPECT_EQ(kDriveFixed, d.DriveType("C:"));
  int64_t free = -1, total = -1;
  ASSERT_TRUE(d.DiskFreeSpaceEx("C:\\", free, total));
  EXPECT_GT(total, 0);
  EXPECT_LE(free, total);
  TDiskGeometry g;
  ASSERT_TRUE(d.DiskFreeSpace("C:\\", g));
  EXPECT_GT(g.BytesPerSector, 0u);
  std::string label;
  uint32_t serial = 0;
  EXPECT_TRUE(d.VolumeInformation("C:\\", label, serial));
  const uint32_t old = d.SetErrorMode(1);
  EXPECT_EQ(1u, d.SetErrorMode(old));
}

TEST(PlatWin32, LibrariesAndErrors) {
  // Only full paths: a bare name would be searched for, the current folder included.
  EXPECT_EQ(nullptr, LibLoad("kernel32.dll"));
  EXPECT_EQ(kErrInvalidName, LastLibError());
  const char* root = std::getenv("SystemRoot");
  ASSERT_NE(nullptr, root);
  TLibHandle k = LibLoad(std::string(root) + "\\system32\\kernel32.dll");
  ASSERT_NE(nullptr, k);
  EXPECT_EQ(0u, LastLibError());
  EXPECT_NE(nullptr, LibSymbol(k, "GetTickCount"));
  EXPECT_EQ(nullptr, LibSymbol(k, "NoSuchEntryPoint"));
  EXPECT_TRUE(LibFree(k));
  EXPECT_EQ(nullptr, LibLoad("C:\\no\\such\\DzEngine190.dll"));
  EXPECT_TRUE(LastLibError() == 126 || LastLibError() == kErrPathNotFound) << LastLibError();
  EXPECT_FALSE(LastLibErrorText().empty());
  EXPECT_EQ(nullptr, LibLoad(""));
  EXPECT_EQ(kErrInvalidParameter, LastLibError());
  std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ('\\', folder.back());
  std::string g1, g2;
  ASSERT_TRUE(NewGuidText(g1));
  ASSERT_TRUE(NewGuidText(g2));
  EXPECT_EQ(38u, g1.size());
  EXPECT_EQ('{', g1.front());
  EXPECT_EQ('-', g1[9]);
  EXPECT_NE(g1, g2);
  // System texts without the trailing period and line break.
  std::string t = SysErrorMessage(kErrFileNotFound);
  ASSERT_FALSE(t.empty());
  EXPECT_NE('.', t.back());
  EXPECT_NE('\n', t.back());
}
#endif
