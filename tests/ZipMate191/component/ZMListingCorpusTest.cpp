// Every archive of the shared corpus either lists or fails with one of the reader's
// messages; none crashes or hangs, and reading its directory without keeping it has
// the same outcome. The outcome of each file is printed as a table.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>

#include "ZMListingTestKit.h"

using namespace zmlist;

namespace {

// Messages a damaged or unsupported archive may end with.
const std::set<int> kArchiveMessages = {
    20,   // warning: error in the zip structure (the listing goes on)
    119,  // a central header signature is wrong
    123,  // input file does not exist (a part of a set that is missing)
    127,  // not a valid zip archive
    128,  // unknown or unsupported
    151,  // comment length wrong
    152,  // central directory damaged
    154,  // zip64 records damaged
    158,  // entry header unreadable
    161,  // seek failed
    164,  // could not be opened
    176,  // read failed
    181,  // multi-disk archive
    196,  // changed
    204,  // central directory offset wrong
};

bool IsDocument(const fs::path& p) {
  const std::string n = p.filename().string();
  return n == "README.md" || n == "LICENSE" || n == "COPYING" || p.extension() == ".md" ||
         p.extension() == ".txt";
}

std::string OneLine(std::string s) {
  std::replace(s.begin(), s.end(), '\n', ' ');
  std::replace(s.begin(), s.end(), '\r', ' ');
  return s.size() > 70 ? s.substr(0, 70) + "..." : s;
}

// The entry's fields as one line, for comparing two ways of reading it.
std::string Fields(const TZMDirEntry& e) {
  return e.FileName() + "|" + std::to_string(e.UncompressedSize()) + "|" +
         std::to_string(e.CompressedSize()) + "|" + std::to_string(e.CRC32()) + "|" +
         std::to_string(e.RelOffLocalHdr()) + "|" + std::to_string(e.StatusBits() & zsbDirOnly) + "|" +
         e.ExtraField() + "|" + e.FileComment();
}

// Reading the directory without keeping it gives what the listing holds, with the same
// outcome and messages.
void ExpectScanMatchesListing(const fs::path& f, TListingProbe& listed) {
  TListingProbe p;
  p.Z.SetUseDirOnlyEntries(true);
  std::vector<std::string> scanned;
  const bool read = p.Z.ScanArchive(f.string(), [&](const TZMDirEntry& e) {
    scanned.push_back(Fields(e));
    return true;
  });
  EXPECT_EQ(read, listed.Z.ListingValid());
  EXPECT_EQ(p.Z.ErrCode(), listed.Z.ErrCode());
  EXPECT_EQ(p.Z.ErrMsg(), listed.Z.ErrMsg());
  EXPECT_EQ(p.Messages, listed.Messages);
  EXPECT_EQ(p.Z.Count(), 0);
  EXPECT_TRUE(p.NewNames.empty());
  if (!read) return;
  ASSERT_EQ(int(scanned.size()), listed.Z.Count());
  for (int i = 0; i < listed.Z.Count(); ++i)
    EXPECT_EQ(scanned[size_t(i)], Fields(*listed.Z.DirEntry(i))) << i;
}

}  // namespace

TEST(ZMListingCorpus, EveryArchiveListsOrFailsWithAMessage) {
  const fs::path root = ZM_CORPUS_DIR;
  if (!fs::is_directory(root)) GTEST_SKIP() << "no corpus at " << root;
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file() && !IsDocument(e.path())) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());

  int listed = 0, failed = 0;
  std::printf("\n%-58s %8s  %s\n", "archive", "entries", "outcome");
  for (const fs::path& f : files) {
    const std::string rel = fs::relative(f, root).string();
    SCOPED_TRACE(rel);
    TListingProbe p;
    p.Z.SetUseDirOnlyEntries(true);
    const auto start = std::chrono::steady_clock::now();
    p.Z.SetZipFileName(f.string());
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(secs, 20.0) << "listing took too long";
    // Every entry of a listing is readable.
    int64_t total = 0;
    for (int i = 0; i < p.Z.Count(); ++i) {
      auto d = p.Z.DirEntry(i);
      ASSERT_TRUE(d);
      total += int64_t(d->FileName().size()) + int64_t(d->ExtraData(1).size());
    }
    (void)total;
    const int err = p.Z.ErrCode();
    std::string outcome;
    if (err == 0 || p.Z.Count() > 0) {
      ++listed;
      outcome = "listed";
      if (err != 0) outcome += " after message " + std::to_string(err) + ": " + OneLine(p.Z.ErrMsg());
    } else {
      ++failed;
      outcome = "refused, message " + std::to_string(err) + ": " + OneLine(p.Z.ErrMsg());
    }
    if (err != 0) {
      EXPECT_TRUE(kArchiveMessages.count(err)) << "unexpected message " << err << " " << p.Z.ErrMsg();
      EXPECT_FALSE(p.Z.ErrMsg().empty());
    }
    ExpectScanMatchesListing(f, p);
    std::printf("%-58s %8d  %s\n", rel.c_str(), p.Z.Count(), outcome.c_str());
  }
  std::printf("%zu files: %d listed, %d refused with a message\n", files.size(), listed, failed);
  EXPECT_GT(listed, int(files.size()) / 2);
}
