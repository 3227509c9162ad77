// Helpers shared by the rate-table suites: files, child processes, the CSV source and
// the record layout of ROB216.dbf, written independently of the generator.
#pragma once
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace ratetest {

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

inline bool FileExists(const std::string& path) { return std::ifstream(path).good(); }

inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct TRun {
  int Exit = -1;
  std::string Output;  // standard output and error together
};

// Runs a shell command line and collects what it prints.
inline TRun RunCommand(const std::string& cmd) {
  TRun r;
  FILE* p = popen((cmd + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.Output.append(buf, n);
  const int st = pclose(p);
  r.Exit = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

inline bool HaveProgram(const std::string& name) {
  return RunCommand("command -v " + Quote(name) + " >/dev/null").Exit == 0;
}

inline uint32_t Le16(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8;
}
inline uint32_t Le32(const std::string& b, size_t at) { return Le16(b, at) | Le16(b, at + 2) << 16; }

// One row of the CSV source, fields as written there (UTF-8).
struct TCsvRow {
  std::vector<std::string> Fields;
};

// Plain comma splitting: the shipped CSV has no quoted fields.
inline std::vector<TCsvRow> ReadCsvRows(const std::string& path) {
  std::vector<TCsvRow> rows;
  std::string text = ReadFile(path);
  size_t pos = 0;
  bool header = true;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (header) {
      header = false;
      continue;
    }
    TCsvRow row;
    size_t from = 0;
    for (;;) {
      const size_t comma = line.find(',', from);
      row.Fields.push_back(line.substr(from, comma - from));
      if (comma == std::string::npos) break;
      from = comma + 1;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

// The table's layout.
inline constexpr size_t kTableSize = 17049;
inline constexpr size_t kHeaderLength = 321;
inline constexpr size_t kRecordLength = 82;
inline constexpr size_t kRecords = 204;
inline constexpr uint32_t kTableCrc = 0x9CDFF06E;

struct TField {
  const char* Name;
  char Type;
  size_t Offset;  // within the record, after the deletion flag
  size_t Length;
};
inline constexpr TField kFields[9] = {
    {"SYM_ETO", 'C', 1, 3}, {"REGION", 'C', 4, 3}, {"RODZAJ_ROB", 'C', 7, 2},
    {"TYP", 'C', 9, 1},     {"JM", 'C', 10, 3},    {"NAZWA", 'C', 13, 42},
    {"MIN", 'N', 55, 9},    {"SR", 'N', 64, 9},    {"MAX", 'N', 73, 9},
};

inline std::string Record(const std::string& table, size_t index) {
  return table.substr(kHeaderLength + index * kRecordLength, kRecordLength);
}
inline std::string Field(const std::string& record, size_t field) {
  return record.substr(kFields[field].Offset, kFields[field].Length);
}

// "    19.20" as 1920; -1 when the field is not a right-aligned amount with two decimals.
inline long Cents(const std::string& f) {
  size_t i = 0;
  while (i < f.size() && f[i] == ' ') ++i;
  const std::string v = f.substr(i);
  if (v.size() < 4 || v[v.size() - 3] != '.') return -1;
  long c = 0;
  for (size_t k = 0; k < v.size(); ++k) {
    if (k == v.size() - 3) continue;
    if (v[k] < '0' || v[k] > '9') return -1;
    c = c * 10 + (v[k] - '0');
  }
  return c;
}

// The only letters beyond ASCII that the table's text uses, code page 852 to UTF-8.
inline std::string Cp852ToUtf8(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == 0xA2)
      out += "\xC3\xB3";  // ó
    else if (c == 0xBE)
      out += "\xC5\xBC";  // ż
    else if (c == 0xE4)
      out += "\xC5\x84";  // ń
    else if (c < 0x80)
      out += static_cast<char>(c);
    else
      out += "?";
  }
  return out;
}

inline std::string TrimRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace ratetest
