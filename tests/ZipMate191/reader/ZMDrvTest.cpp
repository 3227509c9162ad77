// The drive of an archive: roots and letters, the removable-drive rule, media and
// space queries with their fallbacks, labels, and undefined or invalid letters.
#include "ZMDrv.h"

#include <cctype>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "PlatDriveDouble.h"
#include "PlatError.h"
#include "PlatFileSys.h"
#include "PlatPath.h"
#include "ZMMsg.h"
#include "ZMXcpt.h"
#include "TestTempDir.h"

namespace fs = std::filesystem;

namespace {

struct DriveFixture : ::testing::Test {
  zmtest::TTempDir FTemp{"zmdrv"};
  const std::string dir = FTemp.Path.string();
};

// A layer that puts every path on drive `Letter`: (for the letter checks).
class TLetterDrives : public plat::TDriveLayer {
 public:
  explicit TLetterDrives(std::string part) : Part(std::move(part)) {}
  std::string Part;
  uint32_t Mask = 0;
  std::string DrivePart(const std::string&) override { return Part; }
  uint32_t LogicalDrives() override { return Mask; }
  uint32_t DriveType(const std::string&) override { return plat::kDriveFixed; }
  bool VolumeInformation(const std::string&, std::string& label, uint32_t& serial) override {
    label = "DATA";
    serial = 7;
    return true;
  }
  bool SetVolumeLabel(const std::string&, const std::string&) override { return false; }
  bool DiskFreeSpace(const std::string&, plat::TDiskGeometry&) override { return false; }
  bool DiskFreeSpaceEx(const std::string&, int64_t&, int64_t&) override { return false; }
  uint32_t SetErrorMode(uint32_t m) override { return m; }
};

// A work drive on a file, with the drive layer installed for as long as it lives.
struct TDriveOn {
  TDriveOn(plat::TDriveLayer& layer, const std::string& file) : Scope(&layer) { Drive.SetDrive(file); }
  plat::TScopedDrives Scope;
  TZMWorkDrive Drive;
};

}  // namespace

using ZMDrvRoot = DriveFixture;

TEST_F(ZMDrvRoot, ClearedRecordDefaults) {
  TZMWorkDrive d;
  EXPECT_EQ(d.BytesPerSector(), 512u);
  EXPECT_EQ(d.SectorsPerCluster(), 4u);
  EXPECT_EQ(d.DriveLetter(), 0);
  EXPECT_TRUE(d.DriveIsFixed());
  EXPECT_EQ(d.VolumeSize(), 0);
  EXPECT_TRUE(d.DriveRoot().empty());
}

TEST_F(ZMDrvRoot, PosixPathIsAFixedDriveWithoutLetter) {
  TZMWorkDrive d;
  d.SetDrive(dir + "/arc.zip");
  EXPECT_EQ(d.DriveLetter(), 0);
  EXPECT_EQ(d.DriveRoot(), plat::PathDelimStr);
  EXPECT_TRUE(d.DriveIsFixed());
  EXPECT_TRUE(d.HasMedia(false));
  EXPECT_GT(d.VolumeSize(), 0);
  EXPECT_GE(d.VolumeFree(), 0);
  EXPECT_LE(d.VolumeFree(), d.VolumeSize());
}

TEST_F(ZMDrvRoot, SimulatedFloppyIsChangeable) {
  plat::TRemovableDriveDouble a(dir);
  TDriveOn on(a, dir + "/sub/arc.zip");
  TZMWorkDrive& d = on.Drive;
  EXPECT_EQ(d.DriveLetter(), 'A');
  EXPECT_EQ(d.DriveRoot(), std::string("A:") + plat::PathDelimStr);
  EXPECT_EQ(d.DriveType(), plat::kDriveRemovable);
  EXPECT_TRUE(d.IsFloppy());
  EXPECT_FALSE(d.DriveIsFixed());
  // Another folder stays on the system's fixed drive.
  const std::string tmp = plat::TempFolder();
  d.SetDrive(tmp + "elsewhere.zip");
  // A POSIX path names no drive; a Windows one names its own.
  const char letter =
      tmp.size() > 1 && tmp[1] == ':' ? char(std::toupper(static_cast<unsigned char>(tmp[0]))) : 0;
  EXPECT_EQ(d.DriveLetter(), letter);
  EXPECT_TRUE(d.DriveIsFixed());
}

TEST_F(ZMDrvRoot, RemovableDriveOtherThanAOrBIsFixed) {
  plat::TRemovableDriveDouble e(dir, 'E');
  TDriveOn on(e, dir + "/x.zip");
  TZMWorkDrive& d = on.Drive;
  EXPECT_EQ(d.DriveLetter(), 'E');
  EXPECT_EQ(d.DriveType(), plat::kDriveRemovable);
  EXPECT_FALSE(d.IsFloppy());
}

TEST_F(ZMDrvRoot, SameRootIsNotExaminedAgain) {
  plat::TRemovableDriveDouble a(dir);
  TDriveOn on(a, dir + "/x.zip");
  TZMWorkDrive& d = on.Drive;
  ASSERT_TRUE(d.HasMedia(false));
  const int64_t size = d.VolumeSize();
  d.SetDrive(dir + "/y.zip");  // same root: the record is kept
  EXPECT_EQ(d.VolumeSize(), size);
  d.SetDriveIfChanged(d.DriveRoot());
  EXPECT_EQ(d.VolumeSize(), size);
}

using ZMDrvMedia = DriveFixture;

TEST_F(ZMDrvMedia, LabelSerialAndSpaceFromTheDrive) {
  plat::TRemovableDriveDouble a(dir);
  a.Label = "PKBACK# 002";
  a.Serial = 0xCAFE;
  a.FreeBytes = 700000;
  a.ErrorMode = 5;
  TDriveOn on(a, dir + "/x.zip");
  TZMWorkDrive& d = on.Drive;
  ASSERT_TRUE(d.HasMedia(false));
  EXPECT_EQ(d.VolumeLabel(), "PKBACK# 002");
  EXPECT_EQ(d.VolumeSerial(), 0xCAFEu);
  EXPECT_EQ(d.VolumeSize(), 1457664);
  EXPECT_EQ(d.VolumeFree(), 700000);
  EXPECT_EQ(d.TotalClusters(), 1457664u / 512);
  // Critical-error boxes were suppressed for the query and the mode restored.
  EXPECT_EQ(a.ErrorMode, 5u);
  EXPECT_EQ(a.ErrorModeChanges, 2);
}

TEST_F(ZMDrvMedia, NoMediumOrUnformatted) {
  plat::TRemovableDriveDouble a(dir);
  TDriveOn on(a, dir + "/x.zip");
  TZMWorkDrive& d = on.Drive;
  a.MediaPresent = false;
  EXPECT_FALSE(d.HasMedia(false));
  EXPECT_FALSE(d.HasMedia(true));
  a.MediaPresent = true;
  a.Formatted = false;
  EXPECT_FALSE(d.HasMedia(false));
  EXPECT_TRUE(d.HasMedia(true));  // may be formatted
  a.Formatted = true;
  EXPECT_TRUE(d.HasMedia(false));
}

TEST_F(ZMDrvMedia, SpaceFallsBackToClusterCounts) {
  plat::TRemovableDriveDouble a(dir);
  a.ExtendedQueryFails = true;
  a.BytesPerSector = 1024;
  a.SectorsPerCluster = 2;
  a.FreeBytes = 20480;
  a.TotalBytes = 204800;
  TDriveOn on(a, dir + "/x.zip");
  TZMWorkDrive& d = on.Drive;
  ASSERT_TRUE(d.HasMedia(false));
  EXPECT_EQ(d.VolumeFree(), 20480);
  EXPECT_EQ(d.VolumeSize(), 204800);
  EXPECT_EQ(d.BytesPerSector(), 1024u);
  EXPECT_EQ(d.SectorsPerCluster(), 2u);
  // Only the parts asked for are stored.
  a.FreeBytes = 10240;
  a.BytesPerSector = 512;
  d.RefreshSpace(1);
  EXPECT_EQ(d.VolumeSize(), 204800);
  EXPECT_EQ(d.BytesPerSector(), 1024u);
  EXPECT_EQ(d.VolumeFree(), 10240);  // 10 clusters of 2 x 512 bytes
}

TEST_F(ZMDrvMedia, LabelsAreWrittenOnlyOnFloppies) {
  plat::TRemovableDriveDouble a(dir);
  TDriveOn on(a, dir + "/x.zip");
  TZMWorkDrive& d = on.Drive;
  EXPECT_TRUE(d.WriteVolumeLabel("PKBACK#001"));
  EXPECT_EQ(a.Label, "PKBACK#001");
  EXPECT_EQ(d.VolumeLabel(), "PKBACK#001");
  a.ReadOnly = true;
  EXPECT_FALSE(d.WriteVolumeLabel("PKBACK#002"));
  EXPECT_EQ(a.Label, "PKBACK#001");
  a.ReadOnly = false;
  a.MediaPresent = false;
  EXPECT_FALSE(d.WriteVolumeLabel("PKBACK#003"));
  TZMWorkDrive fixed;
  fixed.SetDrive(dir + "/../x.zip");
  EXPECT_FALSE(fixed.WriteVolumeLabel("X"));
}

TEST_F(ZMDrvMedia, UndefinedAndInvalidLetters) {
  TLetterDrives layer("C:");
  TDriveOn on(layer, "anything");
  TZMWorkDrive& d = on.Drive;
  ASSERT_EQ(d.DriveLetter(), 'C');
  try {
    d.HasMedia(false);
    FAIL() << "undefined drive accepted";
  } catch (const EZipMate& e) {
    EXPECT_EQ(e.MsgId, zmsDriveIsNotDefined);
    EXPECT_NE(e.Message().find("C:"), std::string::npos) << e.Message();
  }
  layer.Mask = 1u << 2;
  // Both space queries fail: the size is unknown, which counts as no medium.
  EXPECT_FALSE(d.HasMedia(false));
  EXPECT_EQ(d.VolumeLabel(), "DATA");
  EXPECT_EQ(d.VolumeSize(), -1);
  TLetterDrives bad("1:");
  plat::TScopedDrives scope2(&bad);
  TZMWorkDrive b;
  b.SetDrive("x");
  try {
    b.HasMedia(false);
    FAIL() << "invalid drive accepted";
  } catch (const EZipMate& e) {
    EXPECT_EQ(e.MsgId, zmsNotValidDrive);
  }
}

TEST_F(ZMDrvMedia, AssignCopiesEverything) {
  plat::TRemovableDriveDouble a(dir);
  a.Label = "L";
  plat::TScopedDrives scope(&a);
  TZMWorkDrive d, c;
  d.SetDrive(dir + "/x.zip");
  ASSERT_TRUE(d.HasMedia(false));
  c.AssignFrom(d);
  EXPECT_EQ(c.VolumeLabel(), "L");
  EXPECT_EQ(c.DriveRoot(), d.DriveRoot());
  EXPECT_EQ(c.VolumeSize(), d.VolumeSize());
  EXPECT_TRUE(c.IsFloppy());
}
