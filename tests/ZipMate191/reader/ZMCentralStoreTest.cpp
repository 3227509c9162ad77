// Record storage of a loaded directory: slots of a record block, records that outlive
// the directory's hold on the block, the heap when a block is full, and directories
// whose records or whose single record are larger than the loader's read block.
#include "ZMCentralStore.h"

#include <gtest/gtest.h>

#include "ZMZipFileTestKit.h"

using namespace zmtest;

namespace {

// A block held the way a directory holds it.
using THeld = std::unique_ptr<TZMRecordBlock, TZMRecordBlockRelease>;

THeld MakeBlock(size_t slotSize, size_t count) { return THeld(TZMRecordBlock::Create(slotSize, count)); }

TEntrySpec Entry(const std::string& name, const std::string& data = "x") {
  TEntrySpec e;
  e.Name = name;
  e.Data = data;
  return e;
}

}  // namespace

TEST(ZMRecordBlock, SlotsAreCutInOrderUntilTheBlockIsFull) {
  EXPECT_EQ(TZMRecordBlock::Create(0, 4), nullptr);
  EXPECT_EQ(TZMRecordBlock::Create(32, 0), nullptr);
  EXPECT_EQ(TZMRecordBlock::Create(~size_t(0) / 2, 4), nullptr);
  THeld b = MakeBlock(40, 3);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->SlotSize(), 48u);  // rounded to 16
  EXPECT_FALSE(b->Bulk());
  EXPECT_EQ(b->Take(49), nullptr);  // larger than a slot
  auto* s0 = static_cast<uint8_t*>(b->Take(48));
  auto* s1 = static_cast<uint8_t*>(b->Take(1));
  auto* s2 = static_cast<uint8_t*>(b->Take(48));
  ASSERT_TRUE(s0 && s1 && s2);
  EXPECT_EQ(s1 - s0, 48);
  EXPECT_EQ(s2 - s1, 48);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(s0) % 16, 0u);
  EXPECT_EQ(b->Take(1), nullptr);
  EXPECT_EQ(b->Used(), 3u);
  EXPECT_EQ(b->Live(), 3u);
  EXPECT_TRUE(b->Holds(s2 + 47));
  EXPECT_FALSE(b->Holds(s2 + 48));
  // Given back slots are not cut again.
  b->Give();
  EXPECT_EQ(b->Live(), 2u);
  EXPECT_EQ(b->Take(1), nullptr);
  b->Give();
  b->Give();
  // The byte area behind the slots hands out what it holds, then nothing.
  THeld w(TZMRecordBlock::Create(16, 1, 10));
  ASSERT_TRUE(w);
  char* first = w->TakeBytes(6);
  char* second = w->TakeBytes(4);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(second - first, 6);
  EXPECT_EQ(w->TakeBytes(1), nullptr);
  EXPECT_FALSE(w->Holds(first));
}

TEST(ZMRecordBlock, LargeBlocksComeFromBulkMemoryAndAreWritable) {
  const size_t count = TZMRecordBlock::kBulkMin / 64 + 1;
  THeld b = MakeBlock(64, count);
  ASSERT_TRUE(b);
#ifndef _WIN32
  EXPECT_TRUE(b->Bulk());
#endif
  uint8_t* first = nullptr;
  for (size_t i = 0; i < count; ++i) {
    auto* p = static_cast<uint8_t*>(b->Take(64));
    ASSERT_TRUE(p) << i;
    if (!first) first = p;
    p[0] = uint8_t(i);
    p[63] = uint8_t(i >> 8);
  }
  EXPECT_EQ(first[64 * 300], uint8_t(300));
  EXPECT_EQ(first[64 * 300 + 63], uint8_t(300 >> 8));
  for (size_t i = 0; i < count; ++i) b->Give();
}

TEST(ZMRecordBlock, RecordsComeFromTheBlockThenFromTheHeap) {
  THeld b = MakeBlock(TZMZRec::SlotSizeFor(sizeof(TZMZRec)), 2);
  ASSERT_TRUE(b);
  std::unique_ptr<TZMZRec> r0(new (b.get()) TZMZRec(nullptr));
  std::unique_ptr<TZMZRec> r1(new (b.get()) TZMZRec(nullptr));
  std::unique_ptr<TZMZRec> r2(new (b.get()) TZMZRec(nullptr));  // the block is full
  std::unique_ptr<TZMZRec> none(new (static_cast<TZMRecordBlock*>(nullptr)) TZMZRec(nullptr));
  EXPECT_TRUE(b->Holds(r0.get()));
  EXPECT_TRUE(b->Holds(r1.get()));
  EXPECT_FALSE(b->Holds(r2.get()));
  EXPECT_FALSE(b->Holds(none.get()));
  EXPECT_EQ(b->Live(), 2u);
  // A larger record type never fits a slot made for plain records.
  std::unique_ptr<TZMZRec> copy(new (b.get()) TZMCopyRec(nullptr));
  EXPECT_FALSE(b->Holds(copy.get()));
  r1.reset();
  EXPECT_EQ(b->Live(), 1u);
  r2.reset();
  none.reset();
  copy.reset();
  EXPECT_EQ(b->Live(), 1u);
}

TEST(ZMRecordBlock, RecordsOutliveTheHoldersRelease) {
  THeld b = MakeBlock(TZMZRec::SlotSizeFor(sizeof(TZMZRec)), 4);
  ASSERT_TRUE(b);
  std::unique_ptr<TZMZRec> kept(new (b.get()) TZMZRec(nullptr));
  std::unique_ptr<TZMZRec> other(new (b.get()) TZMZRec(nullptr));
  b.reset();  // the holder lets go; two records still live in the block
  kept->SetHeaderName(std::string(300, 'k'));
  other.reset();
  EXPECT_EQ(kept->HeaderName(), std::string(300, 'k'));
  kept.reset();  // the last one frees the block (the sanitizer build sees a leak otherwise)
}

using ZMCentralStore = ::testing::Test;

TEST_F(ZMCentralStore, LoadedRecordsShareOneBlockAndReadBack) {
  TTempDir dir;
  TReaderFixture f;
  // Enough records for the bulk path.
  const int n = int(TZMRecordBlock::kBulkMin / TZMZRec::SlotSizeFor(sizeof(TZMZRec))) + 50;
  TArchiveSpec layout;
  for (int i = 0; i < n; ++i) {
    layout.Entries.push_back(
        Entry("folder" + std::to_string(i % 7) + "/entry" + std::to_string(i) + ".txt", std::to_string(i)));
    // Every other entry has an extra field, as archivers that store times write them.
    if (i % 2) layout.Entries.back().Extra = Block(0x5455, "t" + std::to_string(i));
  }
  const std::string path = dir.Write("many.zip", BuildArchive(layout));
  ASSERT_GE(f.Open(path), 0);
  ASSERT_EQ(f.Reader->Count(), n);
  const TZMRecordBlock* block = f.Reader->RecordBlock();
  ASSERT_TRUE(block);
  EXPECT_EQ(block->Slots(), size_t(n));
  EXPECT_EQ(block->Live(), size_t(n));
  for (int i = 0; i < n; i += 97) {
    const TZMZRec* rec = f.Reader->Items(i);
    EXPECT_TRUE(block->Holds(rec)) << i;
    EXPECT_EQ(rec->HeaderName(), layout.Entries[size_t(i)].Name);
    EXPECT_EQ(rec->UncompressedSize(), int64_t(layout.Entries[size_t(i)].Data.size()));
    EXPECT_EQ(rec->ExtraField(), layout.Entries[size_t(i)].Extra);
    // The stored names lie in the block's byte area side by side, each after its
    // record's extra field (with its length in front) when there is one.
    if (i + 1 < n) {
      const TZMZRec* next = f.Reader->Items(i + 1);
      const size_t extra =
          next->ExtraFieldLength() ? TZMPackedBytes::kLengthBytes + next->ExtraFieldLength() : 0;
      EXPECT_EQ(next->StoredName().data(), rec->StoredName().data() + rec->FileNameLength() + extra) << i;
    }
  }
  // A new name or extra field is the record's own; its neighbour's are untouched.
  f.Reader->Items(97)->SetHeaderName("renamed/entry.txt");
  f.Reader->Items(97)->SetRawExtraField(Block(0x7878, "new"));
  EXPECT_EQ(f.Reader->Items(97)->HeaderName(), "renamed/entry.txt");
  EXPECT_EQ(f.Reader->Items(97)->ExtraField(), Block(0x7878, "new"));
  EXPECT_EQ(f.Reader->Items(98)->HeaderName(), layout.Entries[98].Name);
  EXPECT_EQ(f.Reader->Items(99)->ExtraField(), layout.Entries[99].Extra);
  int index = -1;
  const TZMZRec* hit = f.Reader->FindName("FOLDER3/entry1200.TXT", index, false);
  ASSERT_TRUE(hit);
  EXPECT_EQ(index, 1200);
  // Dropping records from the end gives their slots back.
  f.Reader->Truncate(n - 10);
  EXPECT_EQ(block->Live(), size_t(n - 10));
  // A second load replaces the block; the first one's records are all gone.
  ASSERT_GE(f.Open(path), 0);
  EXPECT_EQ(f.Reader->Count(), n);
  ASSERT_TRUE(f.Reader->RecordBlock());
  EXPECT_EQ(f.Reader->RecordBlock()->Live(), size_t(n));
}

TEST_F(ZMCentralStore, RecordsLargerThanTheReadBlockLoad) {
  TTempDir dir;
  TReaderFixture f;
  // Small records, then records of up to 3 x 64 KiB, then small ones again: the
  // loader's buffer grows with data still waiting in it.
  TArchiveSpec layout;
  for (int i = 0; i < 3000; ++i) layout.Entries.push_back(Entry("a" + std::to_string(i)));
  TEntrySpec big = Entry(std::string(65000, 'n'));
  big.Extra = Block(0x5455, std::string(65000 - 4, 'e'));
  big.Comment = std::string(65535, 'c');
  layout.Entries.push_back(big);
  TEntrySpec mid = Entry("mid");
  mid.Comment = std::string(70000 / 2, 'm');
  layout.Entries.push_back(mid);
  for (int i = 0; i < 3000; ++i) layout.Entries.push_back(Entry("z" + std::to_string(i)));
  ASSERT_GE(f.Open(dir.Write("big.zip", BuildArchive(layout))), 0);
  ASSERT_EQ(f.Reader->Count(), 6002);
  const TZMZRec* b = f.Reader->Items(3000);
  EXPECT_EQ(b->HeaderName(), big.Name);
  EXPECT_EQ(b->ExtraField(), big.Extra);
  EXPECT_EQ(b->HeaderComment(), big.Comment);
  EXPECT_EQ(f.Reader->Items(3001)->HeaderComment(), mid.Comment);
  EXPECT_EQ(f.Reader->Items(2999)->HeaderName(), "a2999");
  EXPECT_EQ(f.Reader->Items(6001)->HeaderName(), "z2999");
}
