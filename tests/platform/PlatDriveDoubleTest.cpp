// The simulated removable drive: its media library (files follow the medium in and out
// of the drive), free space that follows the files, and the answers to a format.
#include "PlatDriveDouble.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "PlatError.h"
#include "PlatFileSys.h"
#include "PlatPath.h"
#include "TestTempDir.h"

namespace fs = std::filesystem;

namespace {

struct DoubleFixture : ::testing::Test {
  zmtest::TTempDir FTemp{"zmdbl"};
  const std::string dir = FTemp.Path.string();
  void Put(const std::string& name, size_t size) {
    std::ofstream(dir + plat::PathDelimStr + name, std::ios::binary) << std::string(size, 'x');
  }
};

}  // namespace

using PlatDriveDoubleMedia = DoubleFixture;

TEST_F(PlatDriveDoubleMedia, FilesAndLabelsTravelWithTheirMedium) {
  {
    plat::TRemovableDriveDouble a(dir);
    const int d0 = a.AddMedium("FIRST");
    const int d1 = a.AddMedium("SECOND", 720 * 1024);
    EXPECT_EQ(a.Media(), 2);
    EXPECT_EQ(a.Inserted(), -1);
    a.Insert(d0);
    Put("one.bin", 10);
    a.Label = "RENAMED";
    a.Insert(d1);
    EXPECT_FALSE(fs::exists(dir + "/one.bin"));
    EXPECT_EQ(a.Label, "SECOND");
    EXPECT_EQ(a.TotalBytes, 720 * 1024);
    Put("two.bin", 20);
    EXPECT_EQ(a.FilesOf(d0), (std::vector<std::string>{"one.bin"}));
    EXPECT_EQ(a.FilesOf(d1), (std::vector<std::string>{"two.bin"}));
    a.Insert(d0);
    EXPECT_TRUE(fs::exists(dir + "/one.bin"));
    EXPECT_FALSE(fs::exists(dir + "/two.bin"));
    EXPECT_EQ(a.Label, "RENAMED");  // the label written while it was in the drive
    std::string label;
    uint32_t serial0 = 0, serial1 = 0;
    ASSERT_TRUE(a.VolumeInformation("A:\\", label, serial0));
    a.Insert(d1);
    ASSERT_TRUE(a.VolumeInformation("A:/", label, serial1));
    EXPECT_NE(serial0, serial1);
    a.Insert(-1);
    EXPECT_FALSE(a.VolumeInformation("A:", label, serial1));
    EXPECT_EQ(plat::GetLastError(), plat::kErrNotReady);
    EXPECT_TRUE(fs::is_empty(dir));
  }
  // The shelves go with the drive.
  EXPECT_FALSE(fs::exists(dir + ".media"));
}

TEST_F(PlatDriveDoubleMedia, FreeSpaceFollowsTheFilesInWholeClusters) {
  plat::TRemovableDriveDouble a(dir);
  a.TotalBytes = 10 * 1024;
  a.BytesPerSector = 512;
  a.SectorsPerCluster = 2;
  a.FreeFromFiles = true;
  Put("a", 1);     // one cluster
  Put("b", 1025);  // two clusters
  fs::create_directory(dir + "/sub");
  Put("sub/c", 1024);
  int64_t avail = 0, total = 0;
  ASSERT_TRUE(a.DiskFreeSpaceEx("A:", avail, total));
  EXPECT_EQ(total, 10 * 1024);
  EXPECT_EQ(avail, 10 * 1024 - 4 * 1024);
  plat::TDiskGeometry g;
  ASSERT_TRUE(a.DiskFreeSpace("A:", g));
  EXPECT_EQ(g.FreeClusters, 6u);
  EXPECT_EQ(g.TotalClusters, 10u);
  a.FreeFromFiles = false;
  a.FreeBytes = 77;
  ASSERT_TRUE(a.DiskFreeSpaceEx("A:", avail, total));
  EXPECT_EQ(avail, 77);
}

using PlatDriveDoubleFormat = DoubleFixture;

TEST_F(PlatDriveDoubleFormat, EveryAnswerOfTheFormatDialog) {
  plat::TRemovableDriveDouble a(dir);
  Put("keep.bin", 5);
  a.Label = "OLD";
  EXPECT_FALSE(a.FormatDrive("A:\\"));
  EXPECT_EQ(plat::GetLastError(), plat::kErrNotSupported);
  a.FormatAnswer = plat::TRemovableDriveDouble::fmtDeclined;
  EXPECT_FALSE(a.FormatDrive("A:\\"));
  EXPECT_EQ(plat::GetLastError(), plat::kErrCancelled);
  a.FormatAnswer = plat::TRemovableDriveDouble::fmtFails;
  EXPECT_FALSE(a.FormatDrive("A:\\"));
  EXPECT_EQ(plat::GetLastError(), plat::kErrWriteProtect);
  EXPECT_TRUE(fs::exists(dir + "/keep.bin"));
  a.FormatAnswer = plat::TRemovableDriveDouble::fmtDone;
  a.ReadOnly = true;
  EXPECT_FALSE(a.FormatDrive("A:\\"));
  a.ReadOnly = false;
  a.Formatted = false;
  a.FreeBytes = 3;
  EXPECT_TRUE(a.FormatDrive("A:\\"));
  EXPECT_TRUE(fs::is_empty(dir));
  EXPECT_TRUE(a.Formatted);
  EXPECT_EQ(a.Label, "");
  EXPECT_EQ(a.FreeBytes, a.TotalBytes);
  EXPECT_EQ(a.Formats, 5);
  // Another drive's root goes to the system, which offers no format here.
  EXPECT_FALSE(a.FormatDrive("/"));
  EXPECT_EQ(a.Formats, 5);
}
