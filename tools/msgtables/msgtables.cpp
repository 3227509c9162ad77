// Build-time generator of the component's message tables.
//
// Reads message text files (assets/messages/<CODE>.txt) and writes compressed
// language blocks: an 8-byte header (language identifier, data size, code), the
// CRC-32 of the table, then the table as raw deflate data.
//
//   zm_msgtables block    <in.txt> <out.bin>
//   zm_msgtables inc      <in.txt> <out.inc>                 (block as C array initialiser)
//   zm_msgtables resource <blocks.txt> <dir> <reference.txt> <out.bin>
//
// The resource form concatenates the blocks listed in blocks.txt (files <dir>/<CODE>.txt)
// and checks every translation's format placeholders against the reference (English) file.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kEnglishMagic = 0x409E4CAA;   // value at offset 2 of the built-in table
constexpr uint32_t kResourceMagic = 0x413C5E1D;  // the same for the resource tables
constexpr size_t kMaxTable = 20000;              // a decompressed table must stay below this
constexpr size_t kMinTable = 50;                 // shorter tables count as holding no texts
constexpr int kMaxNumber = 511;

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct MessageFile {
  std::string Path;
  std::string Code;
  uint32_t Id = 0;
  bool HaveId = false;
  bool Wide = false;  // utf16 texts
  bool HaveKind = false;
  std::map<int, std::string> Texts;  // UTF-8 (or raw bytes from \x escapes in ansi files)
  std::map<int, int> Lines;
};

[[noreturn]] void Fail(const std::string& path, int line, const std::string& what) {
  std::ostringstream s;
  s << path;
  if (line > 0) s << ':' << line;
  s << ": " << what;
  throw Failure(s.str());
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw Failure(path + ": cannot open");
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes UTF-8 into code points; false for malformed input.
bool DecodeUtf8(const std::string& s, std::vector<uint32_t>& out) {
  out.clear();
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<uint8_t>(s[i]);
    uint32_t cp;
    int extra;
    if (b < 0x80) {
      cp = b;
      extra = 0;
    } else if (b >= 0xC2 && b <= 0xDF) {
      cp = b & 0x1F;
      extra = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      cp = b & 0x0F;
      extra = 2;
    } else if (b >= 0xF0 && b <= 0xF4) {
      cp = b & 0x07;
      extra = 3;
    } else {
      return false;
    }
    if (extra > 0 && i + size_t(extra) >= s.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      const auto c = static_cast<uint8_t>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    out.push_back(cp);
    i += size_t(extra) + 1;
  }
  return true;
}

std::string Trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t' || s[a] == '\r')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r')) --b;
  return s.substr(a, b - a);
}

// Parses the quoted text starting at s[pos] == '"'. \xHH becomes the raw byte HH in
// ansi files and the character U+00HH (UTF-8 encoded) in utf16 files.
std::string ParseQuoted(const MessageFile& mf, int lineNo, const std::string& s, size_t pos) {
  std::string out;
  size_t i = pos + 1;
  for (;;) {
    if (i >= s.size()) Fail(mf.Path, lineNo, "text has no closing quote");
    const char c = s[i];
    if (c == '"') break;
    if (c != '\\') {
      if (!mf.Wide && static_cast<uint8_t>(c) >= 0x80)
        Fail(mf.Path, lineNo, "ansi texts must be ASCII (use \\xHH for code-page bytes)");
      out += c;
      ++i;
      continue;
    }
    if (i + 1 >= s.size()) Fail(mf.Path, lineNo, "lone backslash at end of line");
    const char e = s[i + 1];
    i += 2;
    switch (e) {
      case 'r': out += '\r'; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case '"': out += '"'; break;
      case '\\': out += '\\'; break;
      case 'x': {
        const int h = i + 1 < s.size() ? HexValue(s[i]) : -1;
        const int l = i + 1 < s.size() ? HexValue(s[i + 1]) : -1;
        if (h < 0 || l < 0) Fail(mf.Path, lineNo, "\\x needs two hex digits");
        i += 2;
        const int v = h * 16 + l;
        if (v == 0) Fail(mf.Path, lineNo, "a text cannot contain a zero character");
        if (mf.Wide && v >= 0x80) {
          out += char(0xC0 | (v >> 6));
          out += char(0x80 | (v & 0x3F));
        } else {
          out += char(v);
        }
        break;
      }
      default: Fail(mf.Path, lineNo, std::string("unknown escape \\") + e);
    }
  }
  if (!Trim(s.substr(i + 1)).empty()) Fail(mf.Path, lineNo, "characters after the closing quote");
  return out;
}

MessageFile ParseMessageFile(const std::string& path) {
  MessageFile mf;
  mf.Path = path;
  std::string data = ReadFile(path);
  if (data.size() >= 3 && data.compare(0, 3, "\xEF\xBB\xBF") == 0) data.erase(0, 3);
  std::istringstream in(data);
  std::string raw;
  int lineNo = 0;
  while (std::getline(in, raw)) {
    ++lineNo;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '@') {
      const size_t sp = line.find_first_of(" \t");
      const std::string key = line.substr(0, sp);
      const std::string val = sp == std::string::npos ? "" : Trim(line.substr(sp));
      if (key == "@code") {
        if (val.empty() || val.size() > 4) Fail(path, lineNo, "@code needs 1 to 4 characters");
        for (char c : val)
          if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            Fail(path, lineNo, "@code allows A-Z and 0-9 only");
        mf.Code = val;
      } else if (key == "@id") {
        char* end = nullptr;
        const unsigned long v = std::strtoul(val.c_str(), &end, 16);
        if (val.empty() || *end != 0 || v == 0 || v > 0xFFFF)
          Fail(path, lineNo, "@id needs a hex identifier 0x0001..0xFFFF");
        mf.Id = uint32_t(v);
        mf.HaveId = true;
      } else if (key == "@kind") {
        if (val == "utf16")
          mf.Wide = true;
        else if (val == "ansi")
          mf.Wide = false;
        else
          Fail(path, lineNo, "@kind is utf16 or ansi");
        mf.HaveKind = true;
      } else {
        Fail(path, lineNo, "unknown header " + key);
      }
      continue;
    }
    size_t p = 0;
    while (p < line.size() && line[p] >= '0' && line[p] <= '9') ++p;
    if (p == 0 || p > 3 || p >= line.size() || line[p] != ' ' || p + 1 >= line.size() || line[p + 1] != '"')
      Fail(path, lineNo, "expected: <number> \"<text>\"");
    const int n = std::stoi(line.substr(0, p));
    if (n < 1 || n > kMaxNumber) Fail(path, lineNo, "message number out of 1..511");
    if (mf.Texts.count(n)) Fail(path, lineNo, "message " + std::to_string(n) + " given twice");
    std::string text = ParseQuoted(mf, lineNo, line, p + 1);
    std::vector<uint32_t> cps;
    if (!DecodeUtf8(text, cps) && mf.Wide) Fail(path, lineNo, "text is not valid UTF-8");
    mf.Texts[n] = std::move(text);
    mf.Lines[n] = lineNo;
  }
  if (mf.Code.empty() || !mf.HaveId || !mf.HaveKind) Fail(path, 0, "needs @code, @id and @kind");
  if (mf.Texts.empty()) Fail(path, 0, "has no texts");
  return mf;
}

void PutWord(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}

// Builds the decompressed table: header, range entries, offset words, texts.
std::vector<uint8_t> BuildTable(const MessageFile& mf) {
  // Ranges: runs of numbers; gaps of up to two holes are bridged with zero offsets,
  // which costs less than a new range entry.
  struct Range {
    int First, Last;
  };
  std::vector<Range> ranges;
  for (const auto& [n, text] : mf.Texts) {
    (void)text;
    if (!ranges.empty() && n - ranges.back().Last <= 3)
      ranges.back().Last = n;
    else
      ranges.push_back({n, n});
  }
  size_t words = 0;
  for (const auto& r : ranges) words += size_t(r.Last - r.First + 1);
  const size_t rangeAt = 8;
  const size_t offsetsAt = rangeAt + 6 * ranges.size() + 2;
  const size_t textsAt = offsetsAt + 2 * words;
  std::vector<uint8_t> t(textsAt, 0);
  PutWord(t, 0, 0);
  const uint32_t magic = mf.Wide ? kResourceMagic : kEnglishMagic;
  PutWord(t, 2, magic & 0xFFFF);
  PutWord(t, 4, magic >> 16);
  PutWord(t, 6, mf.Wide ? 1 : 0);
  size_t wordIndex = offsetsAt / 2;
  for (size_t i = 0; i < ranges.size(); ++i) {
    PutWord(t, rangeAt + 6 * i, uint32_t(ranges[i].Last));
    PutWord(t, rangeAt + 6 * i + 2, uint32_t(ranges[i].First));
    PutWord(t, rangeAt + 6 * i + 4, uint32_t(wordIndex));
    wordIndex += size_t(ranges[i].Last - ranges[i].First + 1);
  }
  PutWord(t, rangeAt + 6 * ranges.size(), 0xFFFF);
  size_t slot = offsetsAt;
  for (const auto& r : ranges) {
    for (int n = r.First; n <= r.Last; ++n, slot += 2) {
      auto it = mf.Texts.find(n);
      if (it == mf.Texts.end()) continue;  // hole: offset 0
      const size_t at = t.size();
      const size_t offset = mf.Wide ? at / 2 : at;
      if (offset > 0xFFFF) Fail(mf.Path, 0, "texts too long for 16-bit offsets");
      PutWord(t, slot, uint32_t(offset));
      if (mf.Wide) {
        std::vector<uint32_t> cps;
        DecodeUtf8(it->second, cps);
        for (uint32_t cp : cps) {
          if (cp >= 0x10000) {
            cp -= 0x10000;
            const uint32_t hi = 0xD800 + (cp >> 10), lo = 0xDC00 + (cp & 0x3FF);
            t.push_back(uint8_t(hi));
            t.push_back(uint8_t(hi >> 8));
            t.push_back(uint8_t(lo));
            t.push_back(uint8_t(lo >> 8));
          } else {
            t.push_back(uint8_t(cp));
            t.push_back(uint8_t(cp >> 8));
          }
        }
        t.push_back(0);
        t.push_back(0);
      } else {
        t.insert(t.end(), it->second.begin(), it->second.end());
        t.push_back(0);
      }
    }
  }
  // Readers take tables shorter than this for empty ones.
  if (t.size() < kMinTable) t.resize(kMinTable, 0);
  if (t.size() >= kMaxTable)
    Fail(mf.Path, 0,
         "table of " + std::to_string(t.size()) + " bytes; it must stay below " + std::to_string(kMaxTable));
  return t;
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& in) {
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
    throw Failure("deflateInit2 failed");
  std::vector<uint8_t> out(deflateBound(&z, uLong(in.size())) + 16);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = uInt(in.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  const int r = deflate(&z, Z_FINISH);
  const size_t produced = out.size() - z.avail_out;
  deflateEnd(&z);
  if (r != Z_STREAM_END) throw Failure("deflate failed");
  out.resize(produced);
  return out;
}

std::vector<uint8_t> BuildBlock(const MessageFile& mf) {
  const std::vector<uint8_t> table = BuildTable(mf);
  const std::vector<uint8_t> packed = Deflate(table);
  const size_t d = packed.size() + 4;
  if (d > 0xFFFF) Fail(mf.Path, 0, "compressed block too large");
  const uint32_t crc = uint32_t(crc32(0, table.data(), uInt(table.size())));
  std::vector<uint8_t> b(12, 0);
  PutWord(b, 0, mf.Id);
  PutWord(b, 2, uint32_t(d));
  for (size_t i = 0; i < mf.Code.size(); ++i) b[4 + i] = uint8_t(mf.Code[i]);
  PutWord(b, 8, crc & 0xFFFF);
  PutWord(b, 10, crc >> 16);
  b.insert(b.end(), packed.begin(), packed.end());
  return b;
}

// The argument-consuming conversions of a printf-style format, e.g. "s", ".*s", "d".
std::vector<std::string> Placeholders(const std::string& s) {
  std::vector<std::string> out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') continue;
    size_t j = i + 1;
    if (j < s.size() && s[j] == '%') {
      i = j;
      continue;
    }
    std::string stars;
    while (j < s.size() && std::strchr("-+ #0123456789.*", s[j])) {
      if (s[j] == '*') stars += '*';
      ++j;
    }
    while (j < s.size() && std::strchr("hlLqjzt", s[j])) ++j;
    out.push_back(stars + (j < s.size() ? std::string(1, s[j]) : std::string("?")));
    i = j;
  }
  return out;
}

void CheckPlaceholders(const MessageFile& tr, const MessageFile& ref) {
  for (const auto& [n, text] : tr.Texts) {
    auto it = ref.Texts.find(n);
    if (it == ref.Texts.end()) continue;
    if (Placeholders(text) != Placeholders(it->second))
      Fail(tr.Path, tr.Lines.at(n),
           "message " + std::to_string(n) + ": format placeholders differ from " + ref.Path);
  }
}

void WriteFile(const std::string& path, const std::string& data) {
  // Write to a temporary name and rename, so that a failed run leaves no half file.
  const std::string tmp = path + ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    if (!f) throw Failure(tmp + ": cannot create");
    f.write(data.data(), std::streamsize(data.size()));
    if (!f) throw Failure(tmp + ": write failed");
  }
  // Replaces an existing file on every platform (std::rename does not on Windows).
  std::error_code ec;
  std::filesystem::rename(tmp, path, ec);
  if (ec) throw Failure(path + ": cannot rename");
}

std::string AsString(const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); }

std::string AsInitialiser(const std::vector<uint8_t>& b, const MessageFile& mf) {
  std::ostringstream s;
  s << "// Generated from " << mf.Path << "; do not edit.\n";
  for (size_t i = 0; i < b.size(); ++i) {
    s << unsigned(b[i]) << ',';
    if (i % 20 == 19) s << '\n';
  }
  s << '\n';
  return s.str();
}

std::vector<std::string> ReadBlockList(const std::string& path) {
  std::vector<std::string> codes;
  std::istringstream in(ReadFile(path));
  std::string line;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    codes.push_back(line);
  }
  if (codes.empty()) throw Failure(path + ": lists no blocks");
  return codes;
}

int Usage() {
  std::fprintf(stderr,
               "usage: zm_msgtables block <in.txt> <out.bin>\n"
               "       zm_msgtables inc <in.txt> <out.inc>\n"
               "       zm_msgtables resource <blocks.txt> <dir> <reference.txt> <out.bin>\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string mode = argc > 1 ? argv[1] : "";
    if ((mode == "block" || mode == "inc") && argc == 4) {
      const MessageFile mf = ParseMessageFile(argv[2]);
      const std::vector<uint8_t> block = BuildBlock(mf);
      WriteFile(argv[3], mode == "block" ? AsString(block) : AsInitialiser(block, mf));
      return 0;
    }
    if (mode == "resource" && argc == 6) {
      const MessageFile ref = ParseMessageFile(argv[4]);
      std::string out;
      std::map<std::string, bool> seen;
      for (const std::string& code : ReadBlockList(argv[2])) {
        const MessageFile mf = ParseMessageFile(std::string(argv[3]) + "/" + code + ".txt");
        if (mf.Code != code) Fail(mf.Path, 0, "@code " + mf.Code + " does not match its listing");
        if (seen[code]) throw Failure(code + " listed twice in " + std::string(argv[2]));
        seen[code] = true;
        if (!mf.Wide) Fail(mf.Path, 0, "resource blocks hold utf16 texts");
        CheckPlaceholders(mf, ref);
        out += AsString(BuildBlock(mf));
      }
      WriteFile(argv[5], out);
      return 0;
    }
    return Usage();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zm_msgtables: %s\n", e.what());
    return 1;
  }
}
