// The archive payload ROB_2KW2016: its records field by field, and real archivers
// (Info-ZIP unzip, 7-Zip, Python's zipfile) reading it back to the table.
#include <gtest/gtest.h>
#include <zlib.h>

#include "RateTableTestSupport.h"

using namespace ratetest;

namespace {

class RatePayload : public ::testing::Test {
 protected:
  void SetUp() override {
    Zip = ReadFile(ZM_RATE_PAYLOAD_FILE);
    Table = ReadFile(ZM_RATE_TABLE_FILE);
    ASSERT_EQ(Table.size(), kTableSize);
    ASSERT_GT(Zip.size(), 40u + 46u + 22u + 20u);
    Dir =
        std::string(ZM_TEST_TMP_DIR) + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    RunCommand("rm -rf " + Quote(Dir) + " && mkdir -p " + Quote(Dir));
  }
  void TearDown() override { RunCommand("rm -rf " + Quote(Dir)); }

  std::string Zip, Table, Dir;
};

TEST_F(RatePayload, RecordsCarryTheListedValues) {
  const uint32_t csize = Le32(Zip, 18);
  ASSERT_EQ(Zip.size(), 40 + csize + 56 + 22) << "compressed size " << csize;
  // Local header.
  EXPECT_EQ(Le32(Zip, 0), 0x04034B50u);
  EXPECT_EQ(Le16(Zip, 4), 20u);
  EXPECT_EQ(Le16(Zip, 6), 0x0002u);
  EXPECT_EQ(Le16(Zip, 8), 8u);
  EXPECT_EQ(Le16(Zip, 10), 0x4581u);
  EXPECT_EQ(Le16(Zip, 12), 0x48C7u);
  EXPECT_EQ(Le32(Zip, 14), kTableCrc);
  EXPECT_EQ(Le32(Zip, 22), kTableSize);
  EXPECT_EQ(Le16(Zip, 26), 10u);
  EXPECT_EQ(Le16(Zip, 28), 0u);
  EXPECT_EQ(Zip.substr(30, 10), "ROB216.dbf");
  // Central directory header.
  const size_t c = 40 + csize;
  EXPECT_EQ(Le32(Zip, c), 0x02014B50u);
  EXPECT_EQ(Le16(Zip, c + 4), 20u);  // made by: 2.0 on MS-DOS
  EXPECT_EQ(Le16(Zip, c + 6), 20u);
  EXPECT_EQ(Le16(Zip, c + 8), 0x0002u);
  EXPECT_EQ(Le16(Zip, c + 10), 8u);
  EXPECT_EQ(Zip.substr(c + 12, 4), Zip.substr(10, 4));
  EXPECT_EQ(Le32(Zip, c + 16), kTableCrc);
  EXPECT_EQ(Le32(Zip, c + 20), csize);
  EXPECT_EQ(Le32(Zip, c + 24), kTableSize);
  EXPECT_EQ(Le16(Zip, c + 28), 10u);
  EXPECT_EQ(Le16(Zip, c + 30), 0u);
  EXPECT_EQ(Le16(Zip, c + 32), 0u);
  EXPECT_EQ(Le16(Zip, c + 34), 0u);
  EXPECT_EQ(Le16(Zip, c + 36), 0u);
  EXPECT_EQ(Le32(Zip, c + 38), 0x20u);
  EXPECT_EQ(Le32(Zip, c + 42), 0u);
  EXPECT_EQ(Zip.substr(c + 46, 10), "ROB216.dbf");
  // End of central directory.
  const size_t e = c + 56;
  EXPECT_EQ(Le32(Zip, e), 0x06054B50u);
  EXPECT_EQ(Le16(Zip, e + 4), 0u);
  EXPECT_EQ(Le16(Zip, e + 6), 0u);
  EXPECT_EQ(Le16(Zip, e + 8), 1u);
  EXPECT_EQ(Le16(Zip, e + 10), 1u);
  EXPECT_EQ(Le32(Zip, e + 12), 56u);
  EXPECT_EQ(Le32(Zip, e + 16), c);
  EXPECT_EQ(Le16(Zip, e + 20), 0u);
}

TEST_F(RatePayload, DataInflatesToTheTable) {
  const uint32_t csize = Le32(Zip, 18);
  z_stream z{};
  ASSERT_EQ(inflateInit2(&z, -MAX_WBITS), Z_OK);
  std::string out(kTableSize + 1, '\0');
  z.next_in = reinterpret_cast<Bytef*>(Zip.data() + 40);
  z.avail_in = csize;
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_FINISH);
  EXPECT_EQ(rc, Z_STREAM_END);
  EXPECT_EQ(z.avail_in, 0u);  // the stream uses exactly the stored size
  out.resize(z.total_out);
  inflateEnd(&z);
  EXPECT_EQ(out, Table);
}

TEST_F(RatePayload, InfoZipUnzip) {
  if (!HaveProgram("unzip")) GTEST_SKIP() << "unzip is not installed";
  const TRun t = RunCommand("unzip -t " + Quote(ZM_RATE_PAYLOAD_FILE));
  EXPECT_EQ(t.Exit, 0) << t.Output;
  EXPECT_NE(t.Output.find("No errors detected"), std::string::npos) << t.Output;
  const TRun v = RunCommand("TZ=UTC unzip -Zl " + Quote(ZM_RATE_PAYLOAD_FILE));
  EXPECT_NE(v.Output.find("17049"), std::string::npos) << v.Output;
  EXPECT_NE(v.Output.find("defX"), std::string::npos) << v.Output;  // maximum deflation
  const TRun x = RunCommand("cd " + Quote(Dir) + " && unzip -q " + Quote(ZM_RATE_PAYLOAD_FILE));
  ASSERT_EQ(x.Exit, 0) << x.Output;
  EXPECT_EQ(ReadFile(Dir + "/ROB216.dbf"), Table);
  EXPECT_EQ(RunCommand("ls -A " + Quote(Dir)).Output, "ROB216.dbf\n");
}

TEST_F(RatePayload, SevenZip) {
  if (!HaveProgram("7z")) GTEST_SKIP() << "7z is not installed";
  const TRun t = RunCommand("7z t " + Quote(ZM_RATE_PAYLOAD_FILE));
  EXPECT_EQ(t.Exit, 0) << t.Output;
  EXPECT_NE(t.Output.find("Everything is Ok"), std::string::npos) << t.Output;
}

TEST_F(RatePayload, PythonZipfile) {
  if (!HaveProgram("python3")) GTEST_SKIP() << "python3 is not installed";
  const std::string script =
      R"(import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
assert z.testzip() is None
(i,) = z.infolist()
print(i.filename, i.date_time, i.compress_type, i.flag_bits, hex(i.external_attr),
      i.create_system, i.create_version, i.extract_version, hex(i.CRC),
      i.file_size, len(i.extra), len(i.comment), len(z.comment))
sys.stdout.flush()
open(sys.argv[2], 'wb').write(z.read(i))
)";
  WriteFile(Dir + "/check.py", script);
  const TRun r = RunCommand("python3 " + Quote(Dir + "/check.py") + " " + Quote(ZM_RATE_PAYLOAD_FILE) + " " +
                            Quote(Dir + "/out.dbf"));
  ASSERT_EQ(r.Exit, 0) << r.Output;
  EXPECT_EQ(r.Output, "ROB216.dbf (2016, 6, 7, 8, 44, 2) 8 2 0x20 0 20 20 0x9cdff06e 17049 0 0 0\n");
  EXPECT_EQ(ReadFile(Dir + "/out.dbf"), Table);
}

TEST_F(RatePayload, PackerRefusesAChangedTable) {
  const std::string tool = Quote(ZM_PAYLOAD_TOOL);
  const std::string out = Dir + "/p.zip";
  std::string changed = Table;
  changed[kHeaderLength + 60] ^= 1;
  WriteFile(Dir + "/t.dbf", changed);
  const std::string args = " --name ROB216.dbf --mtime 2016-06-07T08:44:02 --crc 0x9CDFF06E";
  const TRun r = RunCommand(tool + " " + Quote(Dir + "/t.dbf") + " " + Quote(out) + args);
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Output.find("expected 9CDFF06E"), std::string::npos) << r.Output;
  EXPECT_FALSE(FileExists(out));
  // The unchanged table packs to the shipped payload.
  const TRun ok = RunCommand(tool + " " + Quote(ZM_RATE_TABLE_FILE) + " " + Quote(out) + args);
  ASSERT_EQ(ok.Exit, 0) << ok.Output;
  EXPECT_EQ(ReadFile(out), Zip);
  // MS-DOS times have two-second steps; an odd second is refused, as are bad names.
  EXPECT_EQ(RunCommand(tool + " " + Quote(ZM_RATE_TABLE_FILE) + " " + Quote(out) +
                       " --name ROB216.dbf --mtime 2016-06-07T08:44:03")
                .Exit,
            2);
  EXPECT_EQ(RunCommand(tool + " " + Quote(ZM_RATE_TABLE_FILE) + " " + Quote(out) +
                       " --name ../ROB216.dbf --mtime 2016-06-07T08:44:02")
                .Exit,
            2);
}

}  // namespace
