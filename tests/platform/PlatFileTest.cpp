// Creating only new files, files without a name, and reading and writing at an offset,
// on both systems.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "PlatError.h"
#include "PlatFile.h"
#include "PlatFileSys.h"

using namespace plat;
namespace fs = std::filesystem;

namespace {

struct PlatFile : ::testing::Test {
  fs::path Dir;
  void SetUp() override {
    Dir = fs::temp_directory_path() /
          ("zm-platfile-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Dir);
    fs::create_directories(Dir);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }
  std::string Name(const char* leaf) const { return (Dir / leaf).string(); }
  static std::string Contents(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST_F(PlatFile, CreateNewRefusesEveryTakenName) {
  const std::string fresh = Name("fresh.tmp");
  THandle h = FileCreateNew(fresh);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(FileWrite(h, "new", 3), 3);
  EXPECT_TRUE(FileClose(h));
  EXPECT_EQ(Contents(fresh), "new");

  // An existing file is neither opened nor truncated.
  EXPECT_EQ(FileCreateNew(fresh), kInvalidHandle);
  EXPECT_EQ(GetLastError(), kErrFileExists);
  EXPECT_EQ(Contents(fresh), "new");
  EXPECT_EQ(FileCreateNewW(WideName(fresh)), kInvalidHandle);
  EXPECT_EQ(GetLastError(), kErrFileExists);

  fs::create_directory(Dir / "folder");
  EXPECT_EQ(FileCreateNew(Name("folder")), kInvalidHandle);
  EXPECT_EQ(GetLastError(), kErrFileExists);

  // A dangling link is not followed to create its target.
  std::error_code ec;
  fs::create_symlink(Dir / "target", Dir / "link", ec);
  if (!ec) {
    EXPECT_EQ(FileCreateNew(Name("link")), kInvalidHandle);
    EXPECT_FALSE(fs::exists(Dir / "target"));
  }

  // A missing folder is not a taken name.
  EXPECT_EQ(FileCreateNew(Name("missing/x")), kInvalidHandle);
  EXPECT_NE(GetLastError(), kErrFileExists);
}

TEST_F(PlatFile, ReadAtReadsItsRangeAndStopsAtTheEnd) {
  const std::string name = Name("data.bin");
  std::string data(300000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = char((i * 7 + i / 251) & 0xFF);
  std::ofstream(name, std::ios::binary) << data;

  THandle h = FileOpen(name, fmOpenRead | fmShareDenyNone);
  ASSERT_NE(h, kInvalidHandle);
  char buf[100];
  EXPECT_EQ(FileRead(h, buf, 10), 10);
  EXPECT_EQ(std::string(buf, 10), data.substr(0, 10));

  EXPECT_EQ(FileReadAt(h, buf, 100, 123456), 100);
  EXPECT_EQ(std::string(buf, 100), data.substr(123456, 100));
  EXPECT_EQ(FileReadAt(h, buf, 10, 3), 10);
  EXPECT_EQ(std::string(buf, 10), data.substr(3, 10));

  EXPECT_EQ(FileReadAt(h, buf, 100, data.size() - 40), 40);
  EXPECT_EQ(std::string(buf, 40), data.substr(data.size() - 40));
  EXPECT_EQ(FileReadAt(h, buf, 100, data.size()), 0);
  EXPECT_EQ(FileReadAt(h, buf, 100, data.size() + 5000), 0);
  EXPECT_EQ(FileReadAt(kInvalidHandle, buf, 100, 0), -1);

  // Two threads reading one handle each get their own ranges.
  std::vector<std::string> got(2);
  auto reader = [&](int t) {
    std::string mine;
    std::vector<char> chunk(4096);
    for (uint64_t off = uint64_t(t) * 4096; off < data.size(); off += 2 * 4096) {
      int n = FileReadAt(h, chunk.data(), int(chunk.size()), off);
      if (n < 0) return;
      mine.append(chunk.data(), size_t(n));
    }
    got[size_t(t)] = mine;
  };
  std::thread a(reader, 0), b(reader, 1);
  a.join();
  b.join();
  std::string expect0, expect1;
  for (size_t off = 0; off < data.size(); off += 2 * 4096) {
    expect0 += data.substr(off, 4096);
    if (off + 4096 < data.size()) expect1 += data.substr(off + 4096, 4096);
  }
  EXPECT_EQ(got[0], expect0);
  EXPECT_EQ(got[1], expect1);
  EXPECT_TRUE(FileClose(h));
}

TEST_F(PlatFile, WriteAtFromTwoThreadsPutsEachRangeInItsPlace) {
  const std::string name = Name("written.bin");
  THandle h = FileCreateNew(name);
  ASSERT_NE(h, kInvalidHandle);
  std::string expect(256 * 1024, '\0');
  for (size_t i = 0; i < expect.size(); ++i) expect[i] = char((i * 13 + i / 4093) & 0xFF);
  // Interleaved 4 KiB blocks, the far ones first, so that the file grows with holes.
  auto writer = [&](int t) {
    for (size_t off = expect.size() - 4096 * size_t(2 - t); off < expect.size(); off -= 2 * 4096) {
      ASSERT_EQ(FileWriteAt(h, expect.data() + off, 4096, off), 4096);
      if (off < 2 * 4096) break;
    }
  };
  std::thread a(writer, 0), b(writer, 1);
  a.join();
  b.join();
  EXPECT_EQ(FileWriteAt(kInvalidHandle, "x", 1, 0), -1);
  EXPECT_TRUE(FileClose(h));
  EXPECT_EQ(Contents(name), expect);
}

TEST_F(PlatFile, UnnamedFileAppearsOnlyWhenLinked) {
  THandle h = FileCreateUnnamed(Dir.string());
  if (h == kInvalidHandle) {
    ASSERT_EQ(GetLastError(), kErrNotSupported);
    GTEST_SKIP() << "no files without a name here";
  }
  EXPECT_EQ(FileWrite(h, "labour rates", 12), 12);
  EXPECT_TRUE(fs::is_empty(Dir));
  // A taken name is refused and left as it was, a link included.
  std::ofstream(Name("taken.dbf"), std::ios::binary) << "old";
  EXPECT_FALSE(FileLinkUnnamed(h, Name("taken.dbf")));
  EXPECT_EQ(GetLastError(), kErrFileExists);
  EXPECT_EQ(Contents(Name("taken.dbf")), "old");
  std::error_code ec;
  fs::create_symlink(Name("nowhere"), Name("dangling"), ec);
  if (!ec) {
    EXPECT_FALSE(FileLinkUnnamed(h, Name("dangling")));
    EXPECT_FALSE(fs::exists(Name("nowhere")));
  }
  // Linked, it has a name while the handle stays open for more data.
  ASSERT_TRUE(FileLinkUnnamed(h, Name("rates.dbf")));
  EXPECT_EQ(FileWriteAt(h, "!", 1, 12), 1);
  EXPECT_TRUE(FileClose(h));
  EXPECT_EQ(Contents(Name("rates.dbf")), "labour rates!");

  // Closed without a name, it leaves nothing behind.
  const auto before = std::distance(fs::directory_iterator(Dir), fs::directory_iterator());
  h = FileCreateUnnamed(Dir.string());
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(FileWrite(h, "draft", 5), 5);
  EXPECT_TRUE(FileClose(h));
  EXPECT_EQ(std::distance(fs::directory_iterator(Dir), fs::directory_iterator()), before);
  EXPECT_EQ(FileCreateUnnamed(Name("no such folder")), kInvalidHandle);
}

}  // namespace
