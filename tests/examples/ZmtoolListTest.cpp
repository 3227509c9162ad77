// zmtool list: folders, the table for people (-l) and the JSON fields of the metadata.
#include "TestZip.h"
#include "ZmtoolTestKit.h"

using namespace zmt;

namespace {

// The AES field of an entry: version 2, vendor "AE", key strength, the method inside.
std::string AesField(uint8_t strength, uint16_t method) {
  std::string f = "\x01\x99\x07";
  f += '\0';
  f += "\x02";
  f += '\0';
  f += "AE";
  f += char(strength);
  f += char(method & 0xFF);
  f += char(method >> 8);
  return f;
}

}  // namespace

TEST_F(TZmtoolFixture, LongListingNamesEveryMethod) {
  std::vector<testzip::TEntrySpec> entries = {
      {.Name = "docs/", .Data = "", .Method = 0, .ExtAttr = 040755u << 16},
      {.Name = "docs/plain.txt", .Data = std::string(1000, 'p'), .ExtAttr = 0100644u << 16},
      {.Name = "docs/link", .Data = "plain.txt", .Method = 0, .ExtAttr = 0120777u << 16},
      {.Name = "secret.txt", .Data = "hidden", .Method = 0, .Password = "pw"},
      {.Name = "aes.bin", .Data = "x", .Method = 99, .Extra = AesField(3, 8)},
  };
  const std::pair<uint16_t, const char*> methods[] = {
      {1, "shrunk"}, {3, "reduced"}, {6, "imploded"}, {9, "deflate64"}, {12, "bzip2"},
      {14, "lzma"},  {93, "zstd"},   {95, "xz"},      {98, "ppmd"},     {77, "method 77"}};
  for (const auto& [m, name] : methods)
    entries.push_back({.Name = std::string("m") + std::to_string(m), .Data = "d", .Method = m});
  WriteAll(Tmp.Path / "all.zip", testzip::BuildZip(entries));
  TRun r = Run("list -l all.zip");
  ASSERT_EQ(r.Status, 0) << r.Err;
  std::istringstream lines(r.Out);
  std::string header, rule, line;
  std::getline(lines, header);
  std::getline(lines, rule);
  EXPECT_EQ(header, "        Size   Compressed Ratio  Method              Date       Time   CRC-32     Name");
  EXPECT_EQ(rule.size(), header.size());
  std::vector<std::string> rows;
  while (std::getline(lines, line)) rows.push_back(line);
  ASSERT_EQ(rows.size(), entries.size() + 2);
  EXPECT_EQ(rows[0].substr(rows[0].size() - 8), "   docs/");
  EXPECT_NE(rows[1].find("  1000  "), std::string::npos) << rows[1];
  EXPECT_NE(rows[1].find(" deflated "), std::string::npos) << rows[1];
  EXPECT_EQ(rows[2].substr(rows[2].size() - 25), "   docs/link -> plain.txt");
  EXPECT_EQ(rows[3].substr(rows[3].size() - 13), " * secret.txt");
  EXPECT_NE(rows[4].find(" AES-256 (deflated) "), std::string::npos) << rows[4];
  for (size_t i = 0; i < std::size(methods); ++i)
    EXPECT_NE(rows[5 + i].find(std::string(" ") + methods[i].second + " "), std::string::npos) << rows[5 + i];
  EXPECT_EQ(rows.back().substr(rows.back().size() - 25), " 15 entries (* encrypted)");

  // The plain listing names folders with a '/' too; JSON carries the metadata.
  r = Run("list all.zip");
  EXPECT_EQ(r.Out.rfind("docs/\t0\t0\tstored\t00000000\t", 0), 0u) << r.Out;
  r = Run("list --json all.zip");
  EXPECT_NE(
      r.Out.find("\"name\": \"docs/\", \"size\": 0, \"compressed\": 0, \"method\": \"stored\", \"crc\": "
                 "\"00000000\", \"time\": \"2025-01-11 12:00:00\", \"comment\": \"\", \"dir\": true, "
                 "\"encrypted\": false, \"mode\": \"0755\", \"link\": null}"),
      std::string::npos)
      << r.Out;
  EXPECT_NE(r.Out.find("\"dir\": false, \"encrypted\": false, \"mode\": \"0777\", \"link\": \"plain.txt\"}"),
            std::string::npos)
      << r.Out;
  EXPECT_NE(r.Out.find("\"name\": \"secret.txt\""), std::string::npos);
  EXPECT_NE(r.Out.find("\"encrypted\": true, \"mode\": null"), std::string::npos) << r.Out;
}

TEST_F(TZmtoolFixture, LongListingOfPeerArchives) {
  if (!Have("zip")) GTEST_SKIP() << "zip is not installed";
  fs::create_symlink("readme.txt", Src / "link");
  ASSERT_EQ(Shell("zip -qry -Z bzip2 ../b.zip .", Src).Status, 0);
  TRun r = Run("list -l b.zip");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find(" bzip2 "), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("   link -> readme.txt\n"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("   data/deep/\n"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find(" 9 entries\n"), std::string::npos) << r.Out;
}
