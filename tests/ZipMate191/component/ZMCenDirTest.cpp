// The directory view on its own: installing readers that already hold records, the
// reader's change notifications, listing numbers and the positions it keeps.
#include "ZMCenDir.h"

#include <gtest/gtest.h>

#include "ZMListingTestKit.h"
#include "ZMZipFile.h"

using namespace zmlist;

namespace {

struct ZMCenDirFixture : ::testing::Test {
  TTempDir Dir;
  TListingProbe P;
  TZMCenDir* View = nullptr;
  void SetUp() override {
    P.Z.SetZipFileName("");
    ASSERT_TRUE(P.Z.ZipLister());
    View = &P.View();
    P.Reset();
  }
  // A reader of its own that has loaded the archive.
  std::unique_ptr<TZMZipFile> LoadedReader(const std::vector<TEntry>& entries) {
    const std::string path = Dir / ("r" + std::to_string(++Made) + ".zip");
    WriteFile(path, BuildZip(entries));
    auto r = std::make_unique<TZMZipFile>(P.Z);
    r->SetFileName(path);
    EXPECT_GE(r->OpenZip(false, false), 0);
    r->File_Close();
    return r;
  }
  int Made = 0;
};

}  // namespace

using ZMCenDirReader = ZMCenDirFixture;

TEST_F(ZMCenDirReader, InstallingAFilledReaderAddsEveryRecord) {
  auto r = LoadedReader({{"a", "1"}, {"dir/", ""}, {"dir/b", "22"}});
  TZMZipFile* raw = r.get();
  View->SetReader(std::move(r));
  EXPECT_EQ(View->CurrentReader(), raw);
  EXPECT_EQ(P.DirUpdates, 1);
  EXPECT_EQ(P.NewNames, (std::vector<int>{0, 1}));
  EXPECT_EQ(View->Count(), 2);
  EXPECT_EQ(View->Skipped(), 1);
  EXPECT_EQ(View->Entry(1)->HeaderName(), "dir/b");
  EXPECT_EQ(View->Entry(1)->Index(), 2);
  EXPECT_EQ(View->Entry(1)->Serial(), raw->Generation());
  // Installing the same reader again changes nothing.
  P.Reset();
  View->SetReader(std::unique_ptr<TZMZipFile>(raw));
  EXPECT_EQ(P.DirUpdates, 0);
  EXPECT_EQ(View->Count(), 2);
}

TEST_F(ZMCenDirReader, RemovingTheReaderEmptiesTheView) {
  View->SetReader(LoadedReader({{"a", "1"}}));
  auto held = View->Entry(0);
  ASSERT_TRUE(held);
  P.Reset();
  View->SetReader(nullptr);
  EXPECT_EQ(P.DirUpdates, 1);
  EXPECT_EQ(View->Count(), 0);
  EXPECT_FALSE(View->CurrentReader());
  EXPECT_TRUE(held->Stale());
  EXPECT_EQ(View->ArchiveComment(), "");
  EXPECT_EQ(View->TotalDisks(), 0);
  EXPECT_FALSE(View->IsMultiPart());
  // Asking for the reader installs a fresh, empty one.
  TZMZipFile& fresh = View->Reader();
  EXPECT_EQ(fresh.Count(), 0);
  EXPECT_EQ(P.DirUpdates, 2);
  EXPECT_EQ(&View->Reader(), &fresh);
}

TEST_F(ZMCenDirReader, ReaderMarkedForReplacementIsReplaced) {
  View->SetReader(LoadedReader({{"a", "1"}}));
  TZMZipFile* old = View->CurrentReader();
  old->SetInfo(old->Info() | kInfoReplaceReader);
  TZMZipFile& fresh = View->Reader();
  EXPECT_NE(&fresh, old);
  EXPECT_EQ(View->Count(), 0);
}

TEST_F(ZMCenDirReader, RecordLooksOnlyAtTheCurrentListing) {
  View->SetReader(LoadedReader({{"a", "1"}, {"b", "2"}}));
  const int32_t serial = View->CurrentReader()->Generation();
  EXPECT_TRUE(View->Record(serial, 0));
  EXPECT_TRUE(View->Record(serial, 1));
  EXPECT_FALSE(View->Record(serial, 2));
  EXPECT_FALSE(View->Record(serial, -1));
  EXPECT_FALSE(View->Record(serial + 1, 0));
  EXPECT_FALSE(View->Entry(2));
  EXPECT_FALSE(View->Entry(-1));
}

using ZMCenDirNotify = ZMCenDirFixture;

TEST_F(ZMCenDirNotify, NotificationsBuildTheViewAsTheReaderLoads) {
  TZMZipFile& r = View->Reader();
  const std::string path = Dir / "n.zip";
  WriteFile(path, BuildZip({{"x/", ""}, {"x/1", "a"}, {"x/2", "b"}}));
  r.SetFileName(path);
  P.Reset();
  ASSERT_GE(r.OpenZip(false, false), 0);
  r.File_Close();
  EXPECT_EQ(View->Count(), 2);
  EXPECT_EQ(View->Skipped(), 1);
  EXPECT_EQ(P.NewNames, (std::vector<int>{0, 1}));
  EXPECT_EQ(P.DirUpdates, 1);  // load finished
  // A second load through the same reader drops the old entry objects; held ones
  // stay readable as stale.
  auto held = View->Entry(0);
  P.Reset();
  ASSERT_GE(r.OpenZip(false, false), 0);
  r.File_Close();
  EXPECT_EQ(View->Count(), 2);
  EXPECT_TRUE(held->Stale());
  EXPECT_NE(View->Entry(0).get(), held.get());
  EXPECT_EQ(View->Entry(0)->HeaderName(), "x/1");
}

TEST_F(ZMCenDirNotify, AnnouncedRecordsRestartTheViewAndOrderIsKeptOnlyWhenBroken) {
  View->SetReader(LoadedReader({{"a", "1"}, {"b", "2"}, {"c", "3"}}));
  EXPECT_EQ(View->Capacity(), 0);  // every record in the reader's order: nothing kept
  auto held = View->Entry(2);
  const int32_t before = View->Serial();
  View->ReaderChanged(3, 2);
  EXPECT_EQ(View->Count(), 0);
  EXPECT_NE(View->Serial(), before);
  EXPECT_EQ(held->HeaderName(), "c");  // still the reader's record of this listing
  // Records added out of order are kept as positions.
  View->ReaderChanged(2, 3);
  View->ReaderChanged(0, 3);
  ASSERT_EQ(View->Count(), 2);
  EXPECT_EQ(View->Entry(0)->Index(), 2);
  EXPECT_EQ(View->Entry(1)->HeaderName(), "a");
  EXPECT_GE(View->Capacity(), 2);
  View->ReaderChanged(3, 2);
  for (int i = 0; i < 3; ++i) View->ReaderChanged(i, 3);
  EXPECT_EQ(View->Count(), 3);
  EXPECT_EQ(View->Entry(2)->HeaderName(), "c");
  // Unknown kinds and records the reader does not have are ignored.
  View->ReaderChanged(7, 3);
  View->ReaderChanged(0, 9);
  EXPECT_EQ(View->Count(), 3);
}
