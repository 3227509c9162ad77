// Build-time generator of the labour-rate table ROB216.dbf.
//
//   zm_ratetable <rates.csv> <out.dbf> --date YYYY-MM-DD [--crc 0xXXXXXXXX]
//
// The CSV (UTF-8, comma-separated, optional double quotes) starts with the header row
//   SYM_ETO,REGION,RODZAJ_ROB,TYP,JM,NAZWA,MIN,SR,MAX,WOJEWODZTWO
// followed by the 204 records in their stored order: kind of work 1..6, then the
// regions in the fixed order below, then type B before N. WOJEWODZTWO names the
// region for the reader of the CSV and is not stored in the table. Every "#S" row
// must summarise its kind's sixteen regional rows of the same type: the smallest MIN,
// the mean of SR rounded to cents (halves upwards) and the largest MAX.
//
// The table is a dBase III file: 32-byte header, nine field descriptors, 0x0D, the
// records of 82 bytes, text in code page 852, no end-of-file marker. Header byte 29
// is the code page 852 language driver. With --crc, header bytes 16..19 (reserved
// for multi-user dBase) are chosen so that the CRC-32 of the whole file is that value.
// Any fault in the CSV stops the tool with the line that holds it.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "ToolArgs.h"
#include "ZMCrc32.h"

namespace {

using zmgen::ParseHex32;

struct TFieldDef {
  const char* Name;
  char Type;
  uint8_t Length;
  uint8_t Decimals;
};

// The table's fields, in stored order.
constexpr std::array<TFieldDef, 9> kFields{{
    {"SYM_ETO", 'C', 3, 0},
    {"REGION", 'C', 3, 0},
    {"RODZAJ_ROB", 'C', 2, 0},
    {"TYP", 'C', 1, 0},
    {"JM", 'C', 3, 0},
    {"NAZWA", 'C', 42, 0},
    {"MIN", 'N', 9, 2},
    {"SR", 'N', 9, 2},
    {"MAX", 'N', 9, 2},
}};
constexpr size_t kFieldRegion = 1, kFieldKind = 2, kFieldType = 3, kFieldName = 5;
constexpr size_t kFieldMin = 6, kFieldSr = 7;  // then MAX
constexpr const char* kRegionNameColumn = "WOJEWODZTWO";

constexpr std::array<const char*, 17> kRegions{"DS", "KP", "LU", "LB", "LD", "MP", "MZ", "OP", "PK",
                                               "PL", "PM", "SL", "SK", "WM", "WP", "ZP", "#S"};
constexpr size_t kSummaryRegion = 16;
constexpr int kKinds = 6;
constexpr std::array<char, 2> kTypes{'B', 'N'};
constexpr size_t kRecordCount = kKinds * kRegions.size() * kTypes.size();  // 204

constexpr size_t kHeaderLength = 32 + 32 * kFields.size() + 1;  // 321
constexpr size_t kRecordLength = [] {
  size_t n = 1;  // deletion flag
  for (const auto& f : kFields) n += f.Length;
  return n;
}();
static_assert(kHeaderLength == 321 && kRecordLength == 82 && kRecordCount == 204);

constexpr uint8_t kLanguageDriver852 = 0x64;
constexpr size_t kLanguageDriverOffset = 29;
constexpr size_t kCrcPatchOffset = 16;

// Code page 852, bytes 0x80..0xFF as Unicode.
constexpr uint16_t kCp852High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x016F, 0x0107, 0x00E7,  // 80
    0x0142, 0x00EB, 0x0150, 0x0151, 0x00EE, 0x0179, 0x00C4, 0x0106,  // 88
    0x00C9, 0x0139, 0x013A, 0x00F4, 0x00F6, 0x013D, 0x013E, 0x015A,  // 90
    0x015B, 0x00D6, 0x00DC, 0x0164, 0x0165, 0x0141, 0x00D7, 0x010D,  // 98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x0104, 0x0105, 0x017D, 0x017E,  // A0
    0x0118, 0x0119, 0x00AC, 0x017A, 0x010C, 0x015F, 0x00AB, 0x00BB,  // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x011A,  // B0
    0x015E, 0x2563, 0x2551, 0x2557, 0x255D, 0x017B, 0x017C, 0x2510,  // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x0102, 0x0103,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,  // C8
    0x0111, 0x0110, 0x010E, 0x00CB, 0x010F, 0x0147, 0x00CD, 0x00CE,  // D0
    0x011B, 0x2518, 0x250C, 0x2588, 0x2584, 0x0162, 0x016E, 0x2580,  // D8
    0x00D3, 0x00DF, 0x00D4, 0x0143, 0x0144, 0x0148, 0x0160, 0x0161,  // E0
    0x0154, 0x00DA, 0x0155, 0x0170, 0x00FD, 0x00DD, 0x0163, 0x00B4,  // E8
    0x00AD, 0x02DD, 0x02DB, 0x02C7, 0x02D8, 0x00A7, 0x00F7, 0x00B8,  // F0
    0x00B0, 0x00A8, 0x02D9, 0x0171, 0x0158, 0x0159, 0x25A0, 0x00A0,  // F8
};

// A fault in the input, reported with its line (0: the file as a whole).
class ECsvError : public std::runtime_error {
 public:
  ECsvError(size_t line, const std::string& msg) : std::runtime_error(msg), Line(line) {}
  size_t Line;
};

// Decodes UTF-8 into code points; invalid sequences are a fault.
std::vector<uint32_t> DecodeUtf8(const std::string& s, size_t line) {
  std::vector<uint32_t> out;
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<uint8_t>(s[i]);
    size_t n;
    uint32_t cp;
    if (b < 0x80) {
      n = 1, cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      n = 2, cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      n = 3, cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      n = 4, cp = b & 0x07;
    } else {
      throw ECsvError(line, "invalid UTF-8");
    }
    if (i + n > s.size()) throw ECsvError(line, "invalid UTF-8 (truncated character)");
    for (size_t k = 1; k < n; ++k) {
      const auto c = static_cast<uint8_t>(s[i + k]);
      if ((c & 0xC0) != 0x80) throw ECsvError(line, "invalid UTF-8");
      cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr uint32_t kMinForLength[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMinForLength[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      throw ECsvError(line, "invalid UTF-8");
    out.push_back(cp);
    i += n;
  }
  return out;
}

// UTF-8 text to code page 852; characters outside it, and control characters, are faults.
std::string ToCp852(const std::string& utf8, size_t line, const char* field) {
  std::string out;
  for (uint32_t cp : DecodeUtf8(utf8, line)) {
    if (cp >= 0x20 && cp < 0x7F) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    int found = -1;
    for (int k = 0; k < 128 && found < 0; ++k)
      if (kCp852High[k] == cp) found = k;
    if (found < 0) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
      throw ECsvError(
          line, std::string("field ") + field + ": character " + buf + " cannot be stored in code page 852");
    }
    out.push_back(static_cast<char>(0x80 + found));
  }
  return out;
}

// Splits one CSV line; double-quoted fields may hold commas and doubled quotes.
std::vector<std::string> SplitCsvLine(const std::string& text, size_t line) {
  std::vector<std::string> fields(1);
  bool quoted = false, wasQuoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c != '"') {
        fields.back().push_back(c);
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        fields.back().push_back('"');
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == ',') {
      fields.emplace_back();
      wasQuoted = false;
    } else if (c == '"') {
      if (!fields.back().empty() || wasQuoted) throw ECsvError(line, "quote inside an unquoted field");
      quoted = wasQuoted = true;
    } else {
      if (wasQuoted) throw ECsvError(line, "text after a closing quote");
      fields.back().push_back(c);
    }
  }
  if (quoted) throw ECsvError(line, "unterminated quoted field");
  return fields;
}

// "12", "12.3" or "12.34" as cents; the result must fit the field.
int64_t ParseAmount(const std::string& s, const TFieldDef& f, size_t line) {
  const auto bad = [&](const std::string& why) {
    return ECsvError(line, std::string("field ") + f.Name + ": \"" + s + "\" " + why);
  };
  const size_t dot = s.find('.');
  const std::string whole = s.substr(0, dot);
  const std::string frac = dot == std::string::npos ? "" : s.substr(dot + 1);
  const auto digits = [](const std::string& t) {
    for (char c : t)
      if (c < '0' || c > '9') return false;
    return true;
  };
  if (whole.empty() || !digits(whole) || !digits(frac) || (dot != std::string::npos && frac.empty()))
    throw bad("is not an amount (digits, optionally a full stop and up to two decimals)");
  if (frac.size() > f.Decimals) throw bad("has more than two decimals");
  // Integer digits available: length minus the point and the decimals.
  const size_t room = f.Length - 1u - f.Decimals;
  size_t lead = 0;
  while (lead + 1 < whole.size() && whole[lead] == '0') ++lead;
  if (whole.size() - lead > room)
    throw bad("does not fit " + std::to_string(f.Length) + " characters with two decimals");
  int64_t v = std::stoll(whole) * 100;
  if (!frac.empty()) v += std::stoll(frac) * (frac.size() == 1 ? 10 : 1);
  return v;
}

// An amount as written in the CSV, e.g. "19.20".
std::string PlainAmount(int64_t cents) {
  return std::to_string(cents / 100) + "." + (cents % 100 < 10 ? "0" : "") + std::to_string(cents % 100);
}

// Right-aligned in the field's width; amounts were checked to fit when read.
std::string FormatAmount(int64_t cents, const TFieldDef& f) {
  std::string s = PlainAmount(cents);
  if (s.size() < f.Length) s.insert(0, f.Length - s.size(), ' ');
  return s;
}

struct TRecord {
  size_t Line = 0;
  std::array<std::string, 9> Text;  // character fields, code page 852, unpadded
  int64_t Min = 0, Sr = 0, Max = 0;
};

// Reads and checks the CSV; the records come back in stored order.
std::vector<TRecord> ReadRates(const std::string& content) {
  std::vector<TRecord> records;
  std::map<std::string, std::string> regionNames;   // code -> name
  std::map<std::string, std::string> regionOfName;  // name -> code
  std::array<std::string, kKinds> kindNames;
  bool headerSeen = false;
  size_t lineNo = 0;
  size_t pos = 0;
  if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;  // byte order mark
  while (pos < content.size()) {
    size_t end = content.find('\n', pos);
    if (end == std::string::npos) end = content.size();
    std::string text = content.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.find_first_not_of(" \t") == std::string::npos) continue;  // blank line

    std::vector<std::string> cols = SplitCsvLine(text, lineNo);
    if (!headerSeen) {
      std::string want;
      for (const auto& f : kFields) want += std::string(f.Name) + ",";
      want += kRegionNameColumn;
      std::string got;
      for (size_t i = 0; i < cols.size(); ++i) got += (i ? "," : "") + cols[i];
      if (got != want) throw ECsvError(lineNo, "the header row must read: " + want);
      headerSeen = true;
      continue;
    }
    if (cols.size() != kFields.size() + 1)
      throw ECsvError(lineNo, "expected " + std::to_string(kFields.size() + 1) + " fields, found " +
                                  std::to_string(cols.size()));
    if (records.size() == kRecordCount)
      throw ECsvError(lineNo, "more than " + std::to_string(kRecordCount) + " records");

    const size_t index = records.size();
    const int kind = static_cast<int>(index / (kRegions.size() * kTypes.size())) + 1;
    const size_t region = index / kTypes.size() % kRegions.size();
    const char type = kTypes[index % kTypes.size()];

    TRecord r;
    r.Line = lineNo;
    for (size_t i = 0; i < kFields.size(); ++i) {
      const TFieldDef& f = kFields[i];
      if (f.Type == 'N') {
        const int64_t v = ParseAmount(cols[i], f, lineNo);
        (i == kFieldMin ? r.Min : i == kFieldSr ? r.Sr : r.Max) = v;
        continue;
      }
      std::string s = ToCp852(cols[i], lineNo, f.Name);
      while (!s.empty() && s.back() == ' ') s.pop_back();
      if (s.size() > f.Length)
        throw ECsvError(lineNo, std::string("field ") + f.Name + ": \"" + cols[i] + "\" is longer than " +
                                    std::to_string(f.Length) + " characters");
      if (s.empty()) throw ECsvError(lineNo, std::string("field ") + f.Name + " is empty");
      r.Text[i] = s;
    }

    const auto expect = [&](size_t field, const std::string& want) {
      if (r.Text[field] != want)
        throw ECsvError(lineNo, std::string("field ") + kFields[field].Name + ": expected \"" + want +
                                    "\" at this position of the stored order, found \"" + cols[field] + "\"");
    };
    expect(kFieldKind, std::to_string(kind));
    expect(kFieldRegion, kRegions[region]);
    expect(kFieldType, std::string(1, type));
    if (kindNames[kind - 1].empty())
      kindNames[kind - 1] = r.Text[kFieldName];
    else if (r.Text[kFieldName] != kindNames[kind - 1])
      throw ECsvError(lineNo, "field NAZWA differs from the first record of kind " + std::to_string(kind));
    if (!(r.Min <= r.Sr && r.Sr <= r.Max)) throw ECsvError(lineNo, "MIN <= SR <= MAX does not hold");

    const std::string& name = cols[kFields.size()];
    DecodeUtf8(name, lineNo);
    if (name.empty()) throw ECsvError(lineNo, std::string("field ") + kRegionNameColumn + " is empty");
    const std::string code = kRegions[region];
    auto [it, fresh] = regionNames.emplace(code, name);
    if (!fresh && it->second != name)
      throw ECsvError(lineNo, std::string("field ") + kRegionNameColumn + ": region " + code +
                                  " was named \"" + it->second + "\" before");
    auto [jt, freshName] = regionOfName.emplace(name, code);
    if (!freshName && jt->second != code)
      throw ECsvError(lineNo, std::string("field ") + kRegionNameColumn + ": \"" + name +
                                  "\" already names region " + jt->second);
    records.push_back(std::move(r));
  }
  if (!headerSeen) throw ECsvError(0, "the file is empty");
  if (records.size() != kRecordCount)
    throw ECsvError(lineNo, "the file ends after " + std::to_string(records.size()) +
                                " records; the table has " + std::to_string(kRecordCount));

  // Summary rows.
  for (int kind = 1; kind <= kKinds; ++kind) {
    for (size_t t = 0; t < kTypes.size(); ++t) {
      const size_t base = (kind - 1) * kRegions.size() * kTypes.size() + t;
      int64_t mn = INT64_MAX, mx = INT64_MIN, sum = 0;
      for (size_t reg = 0; reg < kSummaryRegion; ++reg) {
        const TRecord& r = records[base + reg * kTypes.size()];
        mn = std::min(mn, r.Min);
        mx = std::max(mx, r.Max);
        sum += r.Sr;
      }
      const int64_t n = static_cast<int64_t>(kSummaryRegion);
      const int64_t mean = (2 * sum + n) / (2 * n);  // halves round upwards
      const TRecord& s = records[base + kSummaryRegion * kTypes.size()];
      if (s.Min != mn || s.Sr != mean || s.Max != mx)
        throw ECsvError(s.Line, "summary row does not match its regional rows: expected MIN " +
                                    PlainAmount(mn) + ", SR " + PlainAmount(mean) + ", MAX " +
                                    PlainAmount(mx));
    }
  }
  return records;
}

void PutLe(std::vector<uint8_t>& b, size_t at, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> BuildTable(const std::vector<TRecord>& records, int year, int month, int day) {
  std::vector<uint8_t> b(kHeaderLength, 0);
  b[0] = 0x03;  // dBase III without memo
  b[1] = static_cast<uint8_t>(year - 1900);
  b[2] = static_cast<uint8_t>(month);
  b[3] = static_cast<uint8_t>(day);
  PutLe(b, 4, static_cast<uint32_t>(records.size()), 4);
  PutLe(b, 8, kHeaderLength, 2);
  PutLe(b, 10, kRecordLength, 2);
  b[kLanguageDriverOffset] = kLanguageDriver852;
  for (size_t i = 0; i < kFields.size(); ++i) {
    uint8_t* d = &b[32 + 32 * i];
    std::memcpy(d, kFields[i].Name, std::strlen(kFields[i].Name));
    d[11] = static_cast<uint8_t>(kFields[i].Type);
    d[16] = kFields[i].Length;
    d[17] = kFields[i].Decimals;
  }
  b[kHeaderLength - 1] = 0x0D;

  for (const TRecord& r : records) {
    std::string rec = " ";  // not deleted
    for (size_t i = 0; i < kFields.size(); ++i) {
      const TFieldDef& f = kFields[i];
      if (f.Type == 'N') {
        rec += FormatAmount(i == kFieldMin ? r.Min : i == kFieldSr ? r.Sr : r.Max, f);
      } else {
        rec += r.Text[i];
        rec.append(f.Length - r.Text[i].size(), ' ');
      }
    }
    if (rec.size() != kRecordLength) throw std::logic_error("record length");
    b.insert(b.end(), rec.begin(), rec.end());
  }
  return b;
}

// Chooses the four bytes at `at` so that the CRC-32 of `data` becomes `target`.
// CRC-32 is linear: run the register backwards from the wanted final value over the
// bytes after the patch, and forwards over the bytes before it; the four table
// indices that lead from one to the other fix the patch bytes.
void ForceCrc(std::vector<uint8_t>& data, size_t at, uint32_t target) {
  if (at + 4 > data.size()) throw std::logic_error("patch outside the data");
  // Index of the table entry with a given top byte (unique for this polynomial).
  std::array<uint8_t, 256> byTop{};
  for (int i = 0; i < 256; ++i) byTop[zm::Crc32Table[i] >> 24] = static_cast<uint8_t>(i);

  const uint32_t before = zm::Crc32UpdateBytewise(0xFFFFFFFFu, data.data(), at);
  uint32_t reg = ~target;  // register after the last byte
  for (size_t i = data.size(); i > at + 4; --i) {
    const uint8_t idx = byTop[reg >> 24];
    reg = ((reg ^ zm::Crc32Table[idx]) << 8) | static_cast<uint8_t>(idx ^ data[i - 1]);
  }
  // reg is now the register wanted after the patch. Step back over the four patch
  // bytes taken as zero; each patch byte then lands unchanged in its own byte.
  for (int k = 0; k < 4; ++k) {
    const uint8_t idx = byTop[reg >> 24];
    reg = ((reg ^ zm::Crc32Table[idx]) << 8) | idx;
  }
  const uint32_t patch = reg ^ before;
  PutLe(data, at, patch, 4);
  if (~zm::Crc32UpdateFast(0xFFFFFFFFu, data.data(), data.size()) != target)
    throw std::logic_error("CRC-32 patch did not reach its target");
}

bool ParseDate(const std::string& s, int& y, int& m, int& d) {
  if (std::sscanf(s.c_str(), "%4d-%2d-%2d", &y, &m, &d) != 3 || s.size() != 10) return false;
  return y >= 1900 && y <= 2155 && m >= 1 && m <= 12 && d >= 1 && d <= 31;
}

int Usage() {
  std::fprintf(stderr, "usage: zm_ratetable <rates.csv> <out.dbf> --date YYYY-MM-DD [--crc 0xXXXXXXXX]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> pos;
  std::string date;
  bool haveCrc = false;
  uint32_t crc = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--date" && i + 1 < argc) {
      date = argv[++i];
    } else if (a == "--crc" && i + 1 < argc) {
      if (!ParseHex32(argv[++i], crc)) return Usage();
      haveCrc = true;
    } else if (a.rfind("--", 0) == 0) {
      return Usage();
    } else {
      pos.push_back(a);
    }
  }
  int year, month, day;
  if (pos.size() != 2 || !ParseDate(date, year, month, day)) return Usage();
  const std::string& csvPath = pos[0];
  const std::string& outPath = pos[1];

  std::ifstream in(csvPath, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "zm_ratetable: cannot read %s\n", csvPath.c_str());
    return 1;
  }
  const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};

  std::vector<uint8_t> table;
  try {
    table = BuildTable(ReadRates(content), year, month, day);
    if (haveCrc) ForceCrc(table, kCrcPatchOffset, crc);
  } catch (const ECsvError& e) {
    if (e.Line)
      std::fprintf(stderr, "%s:%zu: error: %s\n", csvPath.c_str(), e.Line, e.what());
    else
      std::fprintf(stderr, "%s: error: %s\n", csvPath.c_str(), e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zm_ratetable: internal error: %s\n", e.what());
    return 1;
  }

  // Written beside the target and renamed, so a failed run leaves no partial table.
  const std::string tmp = outPath + ".part";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(table.data()), static_cast<std::streamsize>(table.size()));
    if (!out.flush()) {
      std::fprintf(stderr, "zm_ratetable: cannot write %s\n", tmp.c_str());
      std::remove(tmp.c_str());
      return 1;
    }
  }
  std::error_code renamed;  // replaces an existing file on Windows too
  std::filesystem::rename(tmp, outPath, renamed);
  if (renamed) {
    std::fprintf(stderr, "zm_ratetable: cannot create %s\n", outPath.c_str());
    std::remove(tmp.c_str());
    return 1;
  }
  const uint32_t got = ~zm::Crc32UpdateFast(0xFFFFFFFFu, table.data(), table.size());
  std::printf("%s: %zu records, %zu bytes, CRC-32 %08X\n", outPath.c_str(), kRecordCount, table.size(),
              static_cast<unsigned>(got));
  return 0;
}
