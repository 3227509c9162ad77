// zm_embed OUTPUT.cpp NAME TYPE FILE [NAME TYPE FILE ...]
//
// Writes a C++ source that holds the files' bytes and registers them as raw-data
// resources when the program starts. A NAME of digits (optionally after "#") is a
// numbered resource. The output is rewritten only when its text changes.
//
// On ELF systems the bytes are pulled in by the assembler (.incbin), so a library of
// several megabytes (a sanitizer build's engine) costs no compile time; the symbol of
// each file carries a fingerprint of its content, so that a changed file still changes
// the source. Elsewhere the bytes are written out as an array.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool ReadFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool ParseId(const std::string& name, long& id) {
  std::string digits = (!name.empty() && name[0] == '#') ? name.substr(1) : name;
  if (digits.empty() || digits.size() > 5) return false;
  for (char c : digits)
    if (c < '0' || c > '9') return false;
  id = std::stol(digits);
  return id <= 65535;
}

std::string CString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(char(c));
    } else if (c < 0x20 || c >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", c);
      out += buf;
    } else {
      out.push_back(char(c));
    }
  }
  return out + "\"";
}

// FNV-1a, 64 bits: a fingerprint of a file's content and a tag for symbol names.
uint64_t Fnv64(const std::string& s) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : s) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return h;
}

std::string Hex64(uint64_t v) {
  char buf[20];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
  return buf;
}

#if defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))
constexpr bool kIncbin = true;
#else
constexpr bool kIncbin = false;
#endif

// A path as an assembler string's content; false for names it cannot hold.
bool AsmPath(const std::string& path, std::string& out) {
  out.clear();
  for (char c : path) {
    if (c == '\n' || c == '\r' || c == '\0') return false;
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5 || (argc - 2) % 3 != 0) {
    std::cerr << "usage: zm_embed OUTPUT.cpp NAME TYPE FILE [NAME TYPE FILE ...]\n";
    return 2;
  }
  std::ostringstream head;  // assembler-embedded files, outside the unnamed namespace
  std::ostringstream src;
  std::ostringstream table;
  int count = 0;
  for (int a = 2; a + 2 < argc; a += 3, ++count) {
    std::string name = argv[a];
    std::string typeText = argv[a + 1];
    std::string path = argv[a + 2];
    long type = 0;
    if (!ParseId(typeText, type) || type == 0) {
      std::cerr << "zm_embed: bad resource type '" << typeText << "'\n";
      return 1;
    }
    std::string data;
    if (!ReadFile(path, data)) {
      std::cerr << "zm_embed: cannot read '" << path << "'\n";
      return 1;
    }
    if (name.empty()) {
      std::cerr << "zm_embed: empty resource name\n";
      return 1;
    }
    if (kIncbin) {
      std::string asmPath;
      if (!AsmPath(path, asmPath)) {
        std::cerr << "zm_embed: unusable file name '" << path << "'\n";
        return 1;
      }
      // Unique in the program (output file and index) and naming the content, so that
      // compiler caches, which see the source but not the file, never reuse old bytes.
      const std::string sym =
          "zm_embed_" + Hex64(Fnv64(argv[1])) + "_" + std::to_string(count) + "_" + Hex64(Fnv64(data));
      const std::string text = ".pushsection .rodata.zm_embed,\"a\",@progbits\n.balign 16\n.globl " + sym +
                               "\n.hidden " + sym + "\n" + sym + ":\n.incbin \"" + asmPath +
                               "\"\n.byte 0\n.popsection\n";
      head << "// " << CString(path) << ": " << data.size() << " bytes\n"
           << "extern \"C\" __attribute__((visibility(\"hidden\"))) const unsigned char " << sym
           << "[];\n__asm__(" << CString(text) << ");\n";
      src << "constexpr const unsigned char* kData" << count << " = " << sym << ";\n";
    } else {
      src << "alignas(16) const unsigned char kData" << count << "[] = {";
      for (size_t i = 0; i < data.size(); ++i) {
        if (i % 20 == 0) src << "\n   ";
        src << ' ' << unsigned(static_cast<unsigned char>(data[i])) << ',';
      }
      if (data.empty()) src << "0";
      src << "\n};\n";
    }
    long id = 0;
    bool numeric = ParseId(name, id);
    table << "    {" << (numeric ? std::string("\"\"") : CString(name)) << ", " << id << ", " << type
          << ", kData" << count << ", " << data.size() << "},\n";
  }
  src << "\nconst plat::TResourceEntry kEntries[] = {\n"
      << table.str() << "};\n\n"
      << "struct TRegister {\n  TRegister() { plat::RegisterResources(kEntries, " << count
      << "); }\n} gRegister;\n\n}  // namespace\n";

  std::string text = "// Generated by zm_embed; do not edit.\n#include \"PlatResource.h\"\n\n" + head.str() +
                     "\nnamespace {\n" + src.str();
  std::string old;
  if (ReadFile(argv[1], old) && old == text) return 0;
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    std::cerr << "zm_embed: cannot write '" << argv[1] << "'\n";
    return 1;
  }
  return 0;
}
