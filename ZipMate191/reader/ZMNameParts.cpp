#include "ZMNameParts.h"

#include <cctype>

namespace zmname {

bool IsDelim(char c) { return c == '/' || c == '\\' || c == ':'; }

namespace {

// Index of the extension's '.', or npos.
size_t ExtPos(const std::string& name) {
  for (size_t i = name.size(); i > 0; --i) {
    const char c = name[i - 1];
    if (c == '.') return i - 1;
    if (IsDelim(c)) break;
  }
  return std::string::npos;
}

}  // namespace

std::string ExtOf(const std::string& name) {
  const size_t p = ExtPos(name);
  return p == std::string::npos ? std::string() : name.substr(p);
}

std::string WithoutExt(const std::string& name) {
  const size_t p = ExtPos(name);
  return p == std::string::npos ? name : name.substr(0, p);
}

std::string FolderOf(const std::string& name) {
  for (size_t i = name.size(); i > 0; --i)
    if (IsDelim(name[i - 1])) return name.substr(0, i);
  return std::string();
}

std::string NameOnly(const std::string& name) { return name.substr(FolderOf(name).size()); }

std::string Upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string ThreeDigits(int v) {
  const std::string s = std::to_string(1000 + (v % 1000 + 1000) % 1000);
  return s.substr(s.size() - 3);
}

}  // namespace zmname
