// The table generator run on edited copies of the CSV: faults stop it with the line that
// holds them, and its checksum patch reaches any target.
#include <gtest/gtest.h>
#include <zlib.h>

#include "RateTableTestSupport.h"

using namespace ratetest;

namespace {

class RateTableTool : public ::testing::Test {
 protected:
  void SetUp() override {
    Source = ReadFile(ZM_RATE_CSV_FILE);
    ASSERT_FALSE(Source.empty());
    size_t pos = 0;
    while (pos < Source.size()) {
      size_t end = Source.find('\n', pos);
      Lines.push_back(Source.substr(pos, end - pos));
      pos = end == std::string::npos ? Source.size() : end + 1;
    }
    Dir =
        std::string(ZM_TEST_TMP_DIR) + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    RunCommand("rm -rf " + Quote(Dir) + " && mkdir -p " + Quote(Dir));
    Csv = Dir + "/ROB216.csv";
    Out = Dir + "/ROB216.dbf";
  }
  void TearDown() override { RunCommand("rm -rf " + Quote(Dir)); }

  std::string Joined() const {
    std::string s;
    for (const auto& l : Lines) s += l + "\n";
    return s;
  }
  TRun Build(const std::string& csv, const std::string& extra = "--crc 0x9CDFF06E") {
    WriteFile(Csv, csv);
    return RunCommand(Quote(ZM_RATETABLE_TOOL) + " " + Quote(Csv) + " " + Quote(Out) + " --date 2016-06-07 " +
                      extra);
  }
  // Replaces one comma-separated field of a 1-based line.
  void SetField(size_t line, size_t field, const std::string& value) {
    std::string& l = Lines[line - 1];
    size_t from = 0;
    for (size_t i = 0; i < field; ++i) from = l.find(',', from) + 1;
    const size_t to = l.find(',', from);
    l.replace(from, to == std::string::npos ? std::string::npos : to - from, value);
  }
  // The run must fail, name the line and say why, and leave no table behind.
  void ExpectFault(size_t line, const std::string& words) {
    const TRun r = Build(Joined());
    EXPECT_NE(r.Exit, 0) << r.Output;
    EXPECT_NE(r.Output.find("ROB216.csv:" + std::to_string(line) + ":"), std::string::npos) << r.Output;
    EXPECT_NE(r.Output.find(words), std::string::npos) << r.Output;
    EXPECT_FALSE(FileExists(Out));
  }

  // ExpectFault with one field of the source changed; faultLine 0 means the field's line.
  void ExpectFieldFault(size_t line, size_t field, const std::string& value, const std::string& words,
                        size_t faultLine = 0) {
    const std::vector<std::string> saved = Lines;
    SetField(line, field, value);
    ExpectFault(faultLine ? faultLine : line, words);
    Lines = saved;
  }

  std::string Source, Dir, Csv, Out;
  std::vector<std::string> Lines;
};

TEST_F(RateTableTool, RebuildsTheShippedTable) {
  const TRun r = Build(Source);
  ASSERT_EQ(r.Exit, 0) << r.Output;
  EXPECT_EQ(ReadFile(Out), ReadFile(ZM_RATE_TABLE_FILE));
}

TEST_F(RateTableTool, AcceptsByteOrderMarkCrLfAndQuotes) {
  SetField(4, 5, "\"Roboty og\xC3\xB3lnobudowlane - inwestycyjne\"");
  SetField(4, 9, "\"kujawsko-pomorskie\"");
  std::string csv = "\xEF\xBB\xBF";
  for (const auto& l : Lines) csv += l + "\r\n";
  const TRun r = Build(csv + "\r\n");
  ASSERT_EQ(r.Exit, 0) << r.Output;
  EXPECT_EQ(ReadFile(Out), ReadFile(ZM_RATE_TABLE_FILE));
}

TEST_F(RateTableTool, ChecksumPatchReachesAnyTarget) {
  const std::string shipped = ReadFile(ZM_RATE_TABLE_FILE);
  for (uint32_t target : {0x00000000u, 0xFFFFFFFFu, 0x12345678u, 0x9CDFF06Eu ^ 1u}) {
    char arg[32];
    std::snprintf(arg, sizeof arg, "--crc 0x%08X", target);
    const TRun r = Build(Source, arg);
    ASSERT_EQ(r.Exit, 0) << r.Output;
    const std::string t = ReadFile(Out);
    ASSERT_EQ(t.size(), shipped.size());
    EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>(t.data()), static_cast<uInt>(t.size())), target);
    // Only the four reserved bytes differ.
    for (size_t i = 0; i < t.size(); ++i) {
      if (i >= 16 && i <= 19) continue;
      ASSERT_EQ(t[i], shipped[i]) << "byte " << i;
    }
  }
  // Without a target the reserved bytes stay zero.
  const TRun r = Build(Source, "");
  ASSERT_EQ(r.Exit, 0) << r.Output;
  EXPECT_EQ(ReadFile(Out).substr(16, 4), std::string(4, '\0'));
}

TEST_F(RateTableTool, FieldFaults) {
  const std::vector<std::string> saved = Lines;
  Lines[4] = Lines[4].substr(0, Lines[4].rfind(','));  // drop the region name
  ExpectFault(5, "expected 10 fields, found 9");
  Lines = saved;
  ExpectFieldFault(3, 6, "1234567.00", "does not fit 9 characters");
  ExpectFieldFault(7, 7, "12,50", "expected 10 fields, found 11");
  ExpectFieldFault(7, 7, "12.5O", "is not an amount");
  ExpectFieldFault(8, 8, "40.125", "more than two decimals");
  ExpectFieldFault(9, 0, "9999", "SYM_ETO");
  ExpectFieldFault(10, 5, "Roboty og\xC3\xB3lnobudowlane - inwestycyjne i remontowe", "longer than 42");
  ExpectFieldFault(11, 5, "Roboty \xE2\x82\xAC", "U+20AC");  // the euro sign has no code page 852 byte
  ExpectFieldFault(12, 5, "Roboty og\xF3lnobudowlane", "invalid UTF-8");  // Latin-1, not UTF-8
  ExpectFieldFault(13, 6, "30.00", "MIN <= SR <= MAX");                   // MIN above SR
  ExpectFieldFault(14, 5, "Roboty inne", "NAZWA differs");
}

TEST_F(RateTableTool, OrderAndCountFaults) {
  const std::vector<std::string> saved = Lines;
  Lines[0] = "SYM_ETO,REGION,RODZAJ,TYP,JM,NAZWA,MIN,SR,MAX,WOJEWODZTWO";
  ExpectFault(1, "header row");
  Lines = saved;
  std::swap(Lines[3], Lines[5]);  // KP before LU, swapped
  ExpectFault(4, "expected \"KP\"");
  Lines = saved;
  std::swap(Lines[1], Lines[2]);  // N before B
  ExpectFault(2, "expected \"B\"");
  Lines = saved;
  // One name for two regions, then a second name for one region.
  ExpectFieldFault(4, 9, "dolno\xC5\x9Bl\xC4\x85skie", "already names region DS");
  ExpectFieldFault(7, 9, "lubelskie ", "was named \"lubelskie\" before");
  Lines.insert(Lines.begin() + 205, saved[204]);  // one record too many
  ExpectFault(206, "more than 204 records");
  Lines = saved;
  Lines.resize(200);
  ExpectFault(200, "ends after 199 records");
}

TEST_F(RateTableTool, SummaryFaultNamesTheSummaryRow) {
  // LU 1 B: the mean moves from 26.38 to 26.39.
  ExpectFieldFault(6, 7, "24.71", "expected MIN 18.00, SR 26.39, MAX 37.90", 34);
  ExpectFieldFault(14, 8, "38.00", "MAX 38.00", 34);  // MZ 1 B above the summary's maximum
  ExpectFieldFault(35, 7, "14.66", "SR 14.65");       // the summary row itself edited
}

TEST_F(RateTableTool, BadArgumentsAreRefused) {
  WriteFile(Csv, Source);
  const std::string tool = Quote(ZM_RATETABLE_TOOL);
  EXPECT_EQ(RunCommand(tool + " " + Quote(Csv) + " " + Quote(Out)).Exit, 2);  // no date
  EXPECT_EQ(RunCommand(tool + " " + Quote(Csv) + " " + Quote(Out) + " --date 2016-13-01").Exit, 2);
  EXPECT_EQ(RunCommand(tool + " " + Quote(Csv) + " " + Quote(Out) + " --date 2016-06-07 --crc 9C").Exit, 2);
  const TRun missing =
      RunCommand(tool + " " + Quote(Dir + "/none.csv") + " " + Quote(Out) + " --date 2016-06-07");
  EXPECT_EQ(missing.Exit, 1);
  EXPECT_NE(missing.Output.find("cannot read"), std::string::npos);
  EXPECT_FALSE(FileExists(Out));
}

}  // namespace
