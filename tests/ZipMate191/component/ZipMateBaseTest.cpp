// The small base classes: sets, formatting, string lists and components.
#include <gtest/gtest.h>

#include "ZMBase.h"
#include "ZMClasses.h"
#include "ZMSet.h"

TEST(ZipMateBaseSet, OrdinalsMapToBits) {
  TZMExtrOpts e{ExtrOverWrite, ExtrNTFS};
  EXPECT_EQ(e.ToBits(), 0x42);
  EXPECT_TRUE(e.Contains(ExtrOverWrite));
  EXPECT_FALSE(e.Contains(ExtrDirNames));
  TZMAddStoreExts s = TZMAddStoreExts::FromBits(0);
  s.Include(assAVI);
  EXPECT_EQ(s.ToBits(), 1u << 26);
  TZMSkipAborts k{stDupName, stReadError};
  EXPECT_EQ(k.ToBits(), (1u << 15) | (1u << 16));
  EXPECT_EQ((k - TZMSkipAborts{stDupName}).ToBits(), 1u << 16);
  EXPECT_EQ((k + TZMSkipAborts{stUser}).ToBits(), (1u << 15) | (1u << 16) | (1u << 9));
  EXPECT_EQ((k * TZMSkipAborts{stDupName, stUser}).ToBits(), 1u << 15);
}

TEST(ZipMateBaseSet, OutOfRangeOrdinalsAreNeverMembers) {
  TZMWriteOpts w;
  w.Include(TZMWriteOptsEnum(9));
  EXPECT_TRUE(w.Empty());
  EXPECT_FALSE(TZMSkipAborts::FromBits(~0u).Contains(TZMSkipTypes(40)));
  EXPECT_FALSE(w.Contains(TZMWriteOptsEnum(-1)));
  EXPECT_EQ(TZMExtrOpts::FromBits(0x1FF).ToBits(), 0xFF);
}

TEST(ZipMateBaseFormat, PlaceholdersTakeArgumentsInOrderWithWidthAndPrecision) {
  EXPECT_EQ(Format("Skipped %s %d", {"a.txt", 3}), "Skipped a.txt 3");
  EXPECT_EQ(Format(" [0x%x] %s", {255, "x"}), " [0xff] x");
  EXPECT_EQ(Format("%u", {-1}), "4294967295");
  EXPECT_EQ(Format("%5d|%-5d|%.3d", {7, 7, 7}), "    7|7    |007");
  EXPECT_EQ(Format("%.*s!", {3, "abcdef"}), "abc!");
  EXPECT_EQ(Format("100%%", {}), "100%");
  EXPECT_EQ(Format("%X", {0xABCD}), "ABCD");
}

TEST(ZipMateBaseFormat, BadFormatsNeverFail) {
  EXPECT_EQ(Format("%d and %s", {}), "%d and %s");
  EXPECT_EQ(Format("%s", {5}), "%s");
  EXPECT_EQ(Format("%d %d", {1}), "1 %d");
  EXPECT_EQ(Format("trailing %", {1}), "trailing %");
  EXPECT_EQ(Format("%q", {1}), "%q");
  EXPECT_EQ(Format("%99999999d", {1}).size(), 4096u);
}

TEST(ZipMateBaseStrings, ListOperations) {
  TStringList a{"one", "two"};
  TObject marker;
  a.AddObject("three", &marker);
  EXPECT_EQ(a.Count(), 3);
  EXPECT_EQ(a.IndexOf("two"), 1);
  EXPECT_EQ(a.IndexOf("none"), -1);
  EXPECT_EQ(a.Objects(2), &marker);
  EXPECT_EQ(a.Text(), "one\ntwo\nthree\n");
  TStringList b;
  b.Assign(a);
  EXPECT_TRUE(b.Equals(a));
  EXPECT_EQ(b.Objects(2), &marker);
  b.Assign(b);
  EXPECT_EQ(b.Count(), 3);
  b.Delete(0);
  EXPECT_EQ(b.Strings(0), "two");
  EXPECT_THROW(b.Strings(5), std::out_of_range);
  EXPECT_THROW(b.Delete(-1), std::out_of_range);
}

TEST(ZipMateBaseStream, ANegativeSizeEmptiesTheStreamAndReadsNothing) {
  TMemoryStream s;
  s.Write("abcdef", 6);
  s.SetSize(-5);
  char buf[8] = {};
  EXPECT_EQ(0, s.Read(buf, 8));
  EXPECT_EQ(0, s.Position());
  EXPECT_EQ(0, s.Size());
  EXPECT_EQ(3, s.Write("xyz", 3));
  EXPECT_EQ(3, s.Size());
}

TEST(ZipMateBaseComponent, OwnerDestroysWhatItStillOwns) {
  static int destroyed = 0;
  struct TCounted : TComponent {
    using TComponent::TComponent;
    ~TCounted() override { ++destroyed; }
  };
  destroyed = 0;
  {
    TComponent owner;
    auto* a = new TCounted(&owner);
    new TCounted(&owner);
    EXPECT_EQ(owner.ComponentCount(), 2);
    EXPECT_EQ(a->Owner(), &owner);
    delete a;  // leaves its owner's list
    EXPECT_EQ(owner.ComponentCount(), 1);
    EXPECT_EQ(destroyed, 1);
  }
  EXPECT_EQ(destroyed, 2);
}

TEST(ZipMateBaseComponent, LoadingAndDesigningFlags) {
  TComponent c;
  EXPECT_FALSE(c.Loading());
  c.BeginLoading();
  EXPECT_TRUE(c.Loading());
  c.Loaded();
  EXPECT_FALSE(c.Loading());
  c.SetDesigning(true);
  EXPECT_TRUE(c.Designing());
  c.SetDesigning(false);
  EXPECT_EQ(c.ComponentState(), 0u);
}
