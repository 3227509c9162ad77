// The built ROB216.dbf, checked byte by byte against the table's layout and rules.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <map>
#include <set>

#include "RateTableTestSupport.h"

using namespace ratetest;

namespace {

const char* const kRegions[17] = {"DS", "KP", "LU", "LB", "LD", "MP", "MZ", "OP", "PK",
                                  "PL", "PM", "SL", "SK", "WM", "WP", "ZP", "#S"};
// Names of the kinds of work, code page 852.
const char* const kKindNames[6] = {"Roboty og\xA2lnobudowlane - inwestycyjne",
                                   "Roboty og\xA2lnobudowlane - remontowe",
                                   "Roboty instalacji sanitarnych",
                                   "Roboty instalacji elektrycznych",
                                   "Roboty in\xBEynieryjne",
                                   "Roboty wyko\xE4\x63zeniowe-wysoki standard"};

class RateTable : public ::testing::Test {
 protected:
  void SetUp() override {
    Table = ReadFile(ZM_RATE_TABLE_FILE);
    ASSERT_EQ(Table.size(), kTableSize) << ZM_RATE_TABLE_FILE;
  }
  std::string Table;
};

TEST_F(RateTable, HeaderDescribesTheTable) {
  EXPECT_EQ(uint8_t(Table[0]), 0x03);
  EXPECT_EQ(uint8_t(Table[1]), 116);
  EXPECT_EQ(uint8_t(Table[2]), 6);
  EXPECT_EQ(uint8_t(Table[3]), 7);
  EXPECT_EQ(Le32(Table, 4), kRecords);
  EXPECT_EQ(Le16(Table, 8), kHeaderLength);
  EXPECT_EQ(Le16(Table, 10), kRecordLength);
  EXPECT_EQ(uint8_t(Table[29]), 0x64);  // code page 852 language driver
  EXPECT_EQ(uint8_t(Table[320]), 0x0D);
  EXPECT_EQ(kHeaderLength + kRecords * kRecordLength, Table.size());
  // The file ends with the last record's final digit, no end-of-file marker.
  EXPECT_TRUE(Table.back() >= '0' && Table.back() <= '9');
  // Header bytes other than the CRC patch, the language driver and the fixed values are zero.
  for (size_t i = 12; i < 32; ++i) {
    if (i >= 16 && i <= 19) continue;
    EXPECT_EQ(Table[i], i == 29 ? '\x64' : '\0') << "byte " << i;
  }
}

TEST_F(RateTable, FieldDescriptors) {
  const int decimals[9] = {0, 0, 0, 0, 0, 0, 2, 2, 2};
  for (size_t i = 0; i < 9; ++i) {
    const std::string d = Table.substr(32 + 32 * i, 32);
    std::string name = d.substr(0, 11);
    EXPECT_EQ(name,
              std::string(kFields[i].Name) + std::string(11 - std::string(kFields[i].Name).size(), '\0'));
    EXPECT_EQ(d[11], kFields[i].Type) << kFields[i].Name;
    EXPECT_EQ(d.substr(12, 4), std::string(4, '\0'));
    EXPECT_EQ(uint8_t(d[16]), kFields[i].Length) << kFields[i].Name;
    EXPECT_EQ(uint8_t(d[17]), decimals[i]) << kFields[i].Name;
    EXPECT_EQ(d.substr(18), std::string(14, '\0'));
  }
  size_t sum = 1;
  for (const auto& f : kFields) sum += f.Length;
  EXPECT_EQ(sum, kRecordLength);
}

TEST_F(RateTable, RecordsFollowTheStoredOrder) {
  for (size_t i = 0; i < kRecords; ++i) {
    SCOPED_TRACE("record " + std::to_string(i + 1));
    const std::string r = Record(Table, i);
    const size_t kind = i / 34, region = i / 2 % 17;
    EXPECT_EQ(r[0], ' ');
    EXPECT_EQ(Field(r, 0), "999");
    EXPECT_EQ(Field(r, 1), std::string(kRegions[region]) + " ");
    EXPECT_EQ(Field(r, 2), std::to_string(kind + 1) + " ");
    EXPECT_EQ(Field(r, 3), i % 2 ? "N" : "B");
    EXPECT_EQ(Field(r, 4), "149");
    std::string name = kKindNames[kind];
    EXPECT_EQ(Field(r, 5), name + std::string(42 - name.size(), ' '));
    long v[3];
    for (int k = 0; k < 3; ++k) {
      v[k] = Cents(Field(r, 6 + k));
      EXPECT_GE(v[k], 0) << "field " << kFields[6 + k].Name << " \"" << Field(r, 6 + k) << "\"";
    }
    EXPECT_LE(v[0], v[1]);
    EXPECT_LE(v[1], v[2]);
    // Plausible hourly labour rates in PLN.
    EXPECT_GE(v[0], 800);
    EXPECT_LE(v[2], 6000);
  }
}

TEST_F(RateTable, OnlyThreeLettersBeyondAscii) {
  std::set<uint8_t> high;
  for (size_t i = kHeaderLength; i < Table.size(); ++i)
    if (uint8_t(Table[i]) >= 0x80) high.insert(uint8_t(Table[i]));
  EXPECT_EQ(high, (std::set<uint8_t>{0xA2, 0xBE, 0xE4}));
}

TEST_F(RateTable, TellingRows) {
  const auto row = [](const char* region, const char* kind, char type, const char* name,
                      const char* amounts) {
    std::string r = std::string(" 999") + region + " " + kind + " " + type + "149" + name;
    r.append(55 - r.size(), ' ');
    return r + amounts;
  };
  const std::string k1 = kKindNames[0], k6 = kKindNames[5];
  EXPECT_EQ(Record(Table, 0), row("DS", "1", 'B', k1.c_str(), "    19.20    25.30    31.00"));
  EXPECT_EQ(Record(Table, 1), row("DS", "1", 'N', k1.c_str(), "    11.10    13.51    15.90"));
  EXPECT_EQ(Record(Table, 32), row("#S", "1", 'B', k1.c_str(), "    18.00    26.38    37.90"));
  EXPECT_EQ(Record(Table, 33), row("#S", "1", 'N', k1.c_str(), "    10.00    14.65    27.00"));
  EXPECT_EQ(Record(Table, 203), row("#S", "6", 'N', k6.c_str(), "    10.00    16.36    29.00"));
}

TEST_F(RateTable, SummaryRowsFollowFromTheRegions) {
  for (size_t kind = 0; kind < 6; ++kind) {
    for (size_t type = 0; type < 2; ++type) {
      long mn = 1L << 30, mx = -1, sum = 0;
      for (size_t region = 0; region < 16; ++region) {
        const std::string r = Record(Table, kind * 34 + region * 2 + type);
        mn = std::min(mn, Cents(Field(r, 6)));
        sum += Cents(Field(r, 7));
        mx = std::max(mx, Cents(Field(r, 8)));
      }
      const std::string s = Record(Table, kind * 34 + 32 + type);
      SCOPED_TRACE("kind " + std::to_string(kind + 1) + (type ? " N" : " B"));
      ASSERT_EQ(Field(s, 1), "#S ");
      EXPECT_EQ(Cents(Field(s, 6)), mn);
      EXPECT_EQ(Cents(Field(s, 8)), mx);
      // Mean in cents, rounded to the nearest cent; no sum sits exactly half-way.
      EXPECT_NE(sum % 16, 8);
      EXPECT_EQ(Cents(Field(s, 7)), (sum + 8) / 16);
    }
  }
}

TEST_F(RateTable, Crc32) {
  const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(Table.data()),
                          static_cast<uInt>(Table.size()));
  EXPECT_EQ(crc, kTableCrc);
}

TEST_F(RateTable, RecordsCarryTheCsvValues) {
  const std::vector<TCsvRow> rows = ReadCsvRows(ZM_RATE_CSV_FILE);
  ASSERT_EQ(rows.size(), kRecords);
  std::map<std::string, std::set<std::string>> regionNames;
  for (size_t i = 0; i < kRecords; ++i) {
    SCOPED_TRACE("CSV line " + std::to_string(i + 2));
    ASSERT_EQ(rows[i].Fields.size(), 10u);
    const std::string r = Record(Table, i);
    for (size_t f = 0; f < 6; ++f)
      EXPECT_EQ(TrimRight(Cp852ToUtf8(Field(r, f))), rows[i].Fields[f]) << kFields[f].Name;
    for (size_t f = 6; f < 9; ++f)
      EXPECT_EQ(Field(r, f), std::string(9 - rows[i].Fields[f].size(), ' ') + rows[i].Fields[f])
          << kFields[f].Name;
    regionNames[rows[i].Fields[1]].insert(rows[i].Fields[9]);
  }
  // The CSV names each region once, with its Polish name.
  ASSERT_EQ(regionNames.size(), 17u);
  for (const auto& [code, names] : regionNames) EXPECT_EQ(names.size(), 1u) << code;
  EXPECT_EQ(*regionNames["DS"].begin(), "dolno\xC5\x9Bl\xC4\x85skie");
  EXPECT_EQ(*regionNames["LD"].begin(), "\xC5\x82\xC3\xB3\x64zkie");
  EXPECT_EQ(*regionNames["SK"].begin(), "\xC5\x9Bwi\xC4\x99tokrzyskie");
}

}  // namespace
