// A real dBase reader (the Python "dbf" package) opens ROB216.dbf and returns the CSV's
// values, with the Polish letters decoded through the table's own code page mark.
#include <gtest/gtest.h>

#include "ExportRate.h"
#include "ExportTestSupport.h"
#include "RateTableTestSupport.h"
#include "fMainShort.h"

using namespace ratetest;

namespace {

// An interpreter that can import dbf (Debian installs it for the system python3).
std::string PythonWithDbf() {
  for (const char* py : {"python3", "/usr/bin/python3"})
    if (RunCommand(std::string(py) + " -W ignore -c 'import dbf' >/dev/null").Exit == 0) return py;
  return "";
}

// The reader opens table and returns every value of the CSV source.
void ExpectClientReadsCsvValues(const std::string& py, const std::string& table, const std::string& dir) {
  RunCommand("mkdir -p " + Quote(dir));
  const std::string script =
      "import sys, dbf\n"
      "t = dbf.Table(sys.argv[1])\n"
      "t.open(dbf.READ_ONLY)\n"
      "print(t.codepage.name, len(t), ','.join(t.field_names))\n"
      "for r in t:\n"
      "    print('|'.join(v if isinstance(v, str) else '%.2f' % v for v in r))\n"
      "t.close()\n";
  WriteFile(dir + "/read.py", script);
  const TRun r = RunCommand("PYTHONIOENCODING=utf-8 " + py + " -W ignore " + Quote(dir + "/read.py") + " " +
                            Quote(table));
  RunCommand("rm -f " + Quote(dir + "/read.py"));
  ASSERT_EQ(r.Exit, 0) << r.Output;

  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < r.Output.size()) {
    const size_t end = r.Output.find('\n', pos);
    lines.push_back(r.Output.substr(pos, end - pos));
    pos = end == std::string::npos ? r.Output.size() : end + 1;
  }
  ASSERT_EQ(lines.size(), kRecords + 1) << r.Output;
  EXPECT_EQ(lines[0], "cp852 204 sym_eto,region,rodzaj_rob,typ,jm,nazwa,min,sr,max");

  const std::vector<TCsvRow> rows = ReadCsvRows(ZM_RATE_CSV_FILE);
  ASSERT_EQ(rows.size(), kRecords);
  for (size_t i = 0; i < kRecords; ++i) {
    std::vector<std::string> got;
    size_t from = 0;
    for (;;) {
      const size_t bar = lines[i + 1].find('|', from);
      got.push_back(lines[i + 1].substr(from, bar - from));
      if (bar == std::string::npos) break;
      from = bar + 1;
    }
    ASSERT_EQ(got.size(), 9u) << lines[i + 1];
    for (size_t f = 0; f < 9; ++f)
      EXPECT_EQ(TrimRight(got[f]), rows[i].Fields[f]) << "record " << i + 1 << " field " << kFields[f].Name;
  }
}

TEST(RateTableDbfClient, ReadsTheCsvValues) {
  const std::string py = PythonWithDbf();
  if (py.empty()) GTEST_SKIP() << "the Python dbf module is missing (Debian: python3-dbf)";
  const std::string dir = std::string(ZM_TEST_TMP_DIR) + "/dbfclient";
  RunCommand("mkdir -p " + Quote(dir));
  ExpectClientReadsCsvValues(py, ZM_RATE_TABLE_FILE, dir);
  RunCommand("rm -rf " + Quote(dir));
}

// The table as the utility's export writes it, read by the same client.
class RateTableDbfClientExport : public exporttest::TExportFixture {};

TEST_F(RateTableDbfClientExport, ReadsTheExportedTable) {
  const std::string py = PythonWithDbf();
  if (py.empty()) GTEST_SKIP() << "the Python dbf module is missing (Debian: python3-dbf)";
  TFormMainShort form(Ops);
  Ops.Folders.push_back(Root + "/out");
  ASSERT_TRUE(ExportRateFile(form));
  ExpectClientReadsCsvValues(py, Root + "/out/ROB216.dbf", Root);
}

}  // namespace
