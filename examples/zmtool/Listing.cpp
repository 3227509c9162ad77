#include "Listing.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <map>

#include "Console.h"
#include "Metadata.h"
#include "Opening.h"
#include "Streams.h"
#include "TermText.h"

namespace zmtool {

namespace {

constexpr uint16_t kAesTag = 0x9901;
constexpr uint16_t kAesMethod = 99;

const char* PlainMethodName(unsigned m) {
  switch (m) {
    case 0: return "stored";
    case 1: return "shrunk";
    case 2:
    case 3:
    case 4:
    case 5: return "reduced";
    case 6: return "imploded";
    case 7: return "tokenized";
    case 8: return "deflated";
    case 9: return "deflate64";
    case 10: return "dcl-imploded";
    case 12: return "bzip2";
    case 14: return "lzma";
    case 16: return "ibm-cmpsc";
    case 18: return "ibm-terse";
    case 19: return "lz77";
    case 20:
    case 93: return "zstd";
    case 94: return "mp3";
    case 95: return "xz";
    case 96: return "jpeg";
    case 97: return "wavpack";
    case 98: return "ppmd";
    default: return nullptr;
  }
}

// The entry's name as listed: '/' between folders, and a folder's name ends in '/'.
std::string ListedName(const TZMDirEntry& e) {
  std::string name = Slashed(e.FileName());
  if (IsFolder(e, name) && (name.empty() || name.back() != '/')) name += '/';
  return name;
}

// The listed name made safe for a terminal, without a copy when it already is.
void AddListedName(TOutput& out, const TZMDirEntry& e) {
  const std::string name = ListedName(e);
  if (IsPlainPrintable(name))
    out.Add(name);
  else
    out.Add(TerminalSafe(name));
}

// Two decimal digits of v (below 100) at p; the position after them.
char* PutTwo(char* p, unsigned v) {
  p[0] = char('0' + v / 10);
  p[1] = char('0' + v % 10);
  return p + 2;
}

// A DOS date and time (date in the high word) as YYYY-MM-DD HH:MM:SS (or without the
// seconds), at p; the position after it.
char* PutDosText(char* p, uint32_t dos, bool seconds) {
  const unsigned year = 1980 + (dos >> 25);
  p = PutTwo(p, year / 100);
  p = PutTwo(p, year % 100);
  *p++ = '-';
  p = PutTwo(p, (dos >> 21) & 15);
  *p++ = '-';
  p = PutTwo(p, (dos >> 16) & 31);
  *p++ = ' ';
  p = PutTwo(p, (dos >> 11) & 31);
  *p++ = ':';
  p = PutTwo(p, (dos >> 5) & 63);
  if (seconds) {
    *p++ = ':';
    p = PutTwo(p, (dos & 31) * 2);
  }
  return p;
}

void AddDosText(TOutput& out, uint32_t dos, bool seconds = true) {
  char text[20];
  out.Add(text, size_t(PutDosText(text, dos, seconds) - text));
}

void AddJsonText(TOutput& out, const std::string& s) {
  static const char kHex[] = "0123456789abcdef";
  out.Add('"');
  for (unsigned char c : s) {
    switch (c) {
      case '"': out.Add("\\\""); break;
      case '\\': out.Add("\\\\"); break;
      case '\n': out.Add("\\n"); break;
      case '\r': out.Add("\\r"); break;
      case '\t': out.Add("\\t"); break;
      default:
        if (c < 0x20)
          out.Add("\\u00").Add(kHex[c >> 4]).Add(kHex[c & 15]);
        else
          out.Add(char(c));
    }
  }
  out.Add('"');
}

// The saved space in percent, as the peers show it (0% for an empty entry).
std::string Ratio(int64_t size, int64_t packed) {
  if (size <= 0) return "0%";
  const int64_t r = (size - packed) * 1000 / size;
  const int64_t rounded = r >= 0 ? (r + 5) / 10 : -((-r + 5) / 10);
  return std::to_string(rounded) + "%";
}

// The entries to list with their positions, in stored order: read from the archive
// without being kept, or from the listing the component holds. False when the
// directory could not be read.
using TVisit = std::function<void(int index, const TZMDirEntry& e)>;
using TEntries = std::function<bool(const TVisit& visit)>;

bool PrintPlain(const TEntries& entries) {
  TOutput out;
  return entries([&](int, const TZMDirEntry& e) {
    AddListedName(out, e);
    // The fields after the name are laid out in one piece.
    char fields[96];
    char* p = fields;
    *p++ = '\t';
    p = std::to_chars(p, fields + 24, e.UncompressedSize()).ptr;
    *p++ = '\t';
    p = std::to_chars(p, fields + 48, e.CompressedSize()).ptr;
    *p++ = '\t';
    out.Add(fields, size_t(p - fields)).Add(MethodName(e));
    p = fields;
    *p++ = '\t';
    p = PutHex8(p, e.CRC32());
    *p++ = '\t';
    p = PutDosText(p, e.DateTime(), true);
    *p++ = '\n';
    out.Add(fields, size_t(p - fields)).FlushIfFull();
  });
}

bool PrintJson(const TEntries& entries, const std::map<int, std::string>& links) {
  TOutput out;
  bool any = false;
  out.Add('[');
  const bool read = entries([&](int i, const TZMDirEntry& e) {
    out.Add(any ? ",\n  {\"name\": " : "\n  {\"name\": ");
    any = true;
    AddJsonText(out, ListedName(e));
    out.Add(", \"size\": ").Dec(e.UncompressedSize()).Add(", \"compressed\": ").Dec(e.CompressedSize());
    out.Add(", \"method\": \"").Add(MethodName(e));
    out.Add("\", \"crc\": \"").Hex8(e.CRC32()).Add("\", \"time\": \"");
    AddDosText(out, e.DateTime());
    out.Add("\", \"comment\": ");
    AddJsonText(out, e.FileComment());
    out.Add(", \"dir\": ").Add(IsFolder(e) ? "true" : "false");
    out.Add(", \"encrypted\": ").Add(e.Encrypted() ? "true" : "false");
    out.Add(", \"mode\": ");
    if (const uint32_t mode = UnixMode(e)) {
      const char digits[] = {char('0' + (mode >> 9 & 7)), char('0' + (mode >> 6 & 7)),
                             char('0' + (mode >> 3 & 7)), char('0' + (mode & 7)), 0};
      out.Add('"').Add(digits).Add('"');
    } else {
      out.Add("null");
    }
    out.Add(", \"link\": ");
    auto link = links.find(i);
    if (link != links.end())
      AddJsonText(out, link->second);
    else
      out.Add("null");
    out.Add('}').FlushIfFull();
  });
  out.Add(any ? "\n]\n" : "]\n");
  return read;
}

// What the table needs to know of all entries before its first line.
struct TTableFacts {
  size_t MethodWidth = 6;
  bool AnyEncrypted = false;
  bool AnyLink = false;

  void Take(const TZMDirEntry& e) {
    MethodWidth = std::max(MethodWidth, MethodName(e, true).size());
    AnyEncrypted = AnyEncrypted || e.Encrypted();
    AnyLink = AnyLink || IsSymLink(e);
  }
};

bool PrintLong(const TEntries& entries, const TTableFacts& facts, const std::map<int, std::string>& links) {
  const size_t methodWidth = facts.MethodWidth;
  TOutput out;
  auto method = [&](const std::string& m) { out.Add(m).Add(std::string(methodWidth - m.size(), ' ')); };
  out.Right("Size", 12).Add(' ').Right("Compressed", 12).Add(' ').Right("Ratio", 5).Add("  ");
  method("Method");
  out.Add("  Date       Time   CRC-32     Name\n");
  const std::string rule12(12, '-');
  out.Add(rule12).Add(' ').Add(rule12).Add(" -----  ").Add(std::string(methodWidth, '-'));
  out.Add("  ---------- -----  --------   ----\n");
  int64_t size = 0, packed = 0;
  int count = 0;
  const bool read = entries([&](int i, const TZMDirEntry& e) {
    ++count;
    size += e.UncompressedSize();
    packed += e.CompressedSize();
    out.Right(std::to_string(e.UncompressedSize()), 12)
        .Add(' ')
        .Right(std::to_string(e.CompressedSize()), 12);
    out.Add(' ').Right(Ratio(e.UncompressedSize(), e.CompressedSize()), 5).Add("  ");
    method(MethodName(e, true));
    out.Add("  ");
    AddDosText(out, e.DateTime(), false);
    out.Add("  ").Hex8(e.CRC32()).Add(e.Encrypted() ? " * " : "   ");
    AddListedName(out, e);
    auto link = links.find(i);
    if (link != links.end()) out.Add(" -> ").Add(TerminalSafe(link->second));
    out.Add('\n').FlushIfFull();
  });
  out.Add(rule12).Add(' ').Add(rule12).Add(" -----").Add(std::string(methodWidth + 33, ' ')).Add("----\n");
  out.Right(std::to_string(size), 12)
      .Add(' ')
      .Right(std::to_string(packed), 12)
      .Add(' ')
      .Right(Ratio(size, packed), 5);
  out.Add(std::string(methodWidth + 33, ' ')).Dec(count).Add(count == 1 ? " entry" : " entries");
  if (facts.AnyEncrypted) out.Add(" (* encrypted)");
  out.Add('\n');
  return read;
}

}  // namespace

std::string MethodName(const TZMDirEntry& e, bool table) {
  unsigned m = e.CompressionMethod();
  if (m == kAesMethod) {
    // The AES field: version (2 bytes), vendor "AE", key strength, the method inside.
    const std::string aes = e.ExtraData(kAesTag);
    if (aes.size() >= 7) {
      static const char* const kBits[] = {"AES", "AES-128", "AES-192", "AES-256"};
      const unsigned strength = static_cast<unsigned char>(aes[4]);
      const unsigned inner = static_cast<unsigned char>(aes[5]) | static_cast<unsigned char>(aes[6]) << 8;
      const char* name = PlainMethodName(inner);
      const std::string method = name ? name : "method " + std::to_string(inner);
      const std::string bits = kBits[strength <= 3 ? strength : 0];
      return table ? bits + " (" + method + ")" : bits + ", " + method;
    }
    return "AES";
  }
  const char* name = PlainMethodName(m);
  return name ? name : "method " + std::to_string(m);
}

int PrintListing(TZipMate& zm, const std::string& archive, const std::string& shown, const TOptions& o) {
  // The warnings of reading a directory are given before its first record is read, and
  // are told before the first line.
  bool warned = false;
  auto warnOnce = [&] {
    if (!warned && zm.ErrCode() != 0) Warn(zm, shown);
    warned = true;
  };
  // The directory read entry by entry: memory stays the same however many entries there
  // are.
  const TEntries scanned = [&](const TVisit& visit) {
    int i = 0;
    return zm.ScanArchive(archive, [&](const TZMDirEntry& e) {
      warnOnce();
      visit(i++, e);
      return true;
    });
  };
  if (!o.Json && !o.Long) {
    // Lines for scripts are printed as the directory is read: one that breaks part way
    // is listed up to there, then the error is told and the status says so.
    if (!PrintPlain(scanned)) return Unreadable(zm, shown);
    warnOnce();
    return esDone;
  }
  // The table and JSON: a first reading finds whether the directory reads whole (nothing
  // is printed for one that does not) and what the table needs to know first.
  TTableFacts facts;
  if (!zm.ScanArchive(archive, [&](const TZMDirEntry& e) {
        facts.Take(e);
        return true;
      }))
    return Unreadable(zm, shown);
  warnOnce();
  TEntries entries = scanned;
  std::map<int, std::string> links;
  if (facts.AnyLink) {
    // Link targets are read through the engine, which works on a listing: the archive
    // is listed and the entries come from there.
    zm.SetZipFileName(archive);
    if (!zm.ListingValid()) return Unreadable(zm, shown);
    links = ReadLinkTargets(zm);
    entries = [&zm](const TVisit& visit) {
      for (int i = 0; i < zm.Count(); ++i)
        if (auto e = zm.DirEntry(i)) visit(i, *e);
      return true;
    };
  }
  // The messages of the directory were shown by the first reading.
  const TZMMessageEvent shownMessages = zm.OnMessage;
  zm.OnMessage = nullptr;
  const bool read = o.Json ? PrintJson(entries, links) : PrintLong(entries, facts, links);
  zm.OnMessage = shownMessages;
  // Only an archive that changed since the first reading fails here.
  return read ? esDone : Unreadable(zm, shown);
}

}  // namespace zmtool
