#include "ZMUTF8.h"

#include <atomic>
#include <cstring>
#include <vector>

#include "PlatCodePage.h"
#include "PlatError.h"
#include "ZMStoredText.h"

namespace {

std::atomic<bool> gUTF8Mode{false};

int ClampLength(size_t size, int length) {
  if (length < 0 || size_t(length) > size) return int(size);
  return length;
}

}  // namespace

bool UTF8Mode() { return gUTF8Mode.load(); }

bool SetUTF8Mode(bool on) { return gUTF8Mode.exchange(on && plat::IsNTFamily()); }

unsigned ModeCodePage() { return UTF8Mode() ? plat::kCpUtf8 : plat::kCpAcp; }

std::u16string WideFromUtf8(const char* bytes, int length) {
  if (!bytes || length == 0) return {};
  if (length < 0 && bytes[0] == '\0') return {};
  std::u16string out = zm::WideFromUtf8Text(bytes, length < 0 ? -1 : length);
  if (length < 0 && !out.empty()) out.pop_back();  // the converted terminator
  return out;
}

std::u16string WideFromUtf8String(const std::string& s, int length) {
  return WideFromUtf8(s.data(), ClampLength(s.size(), length));
}

std::u16string WideFromModeString(const std::string& s) {
  return UTF8Mode() ? WideFromUtf8String(s) : WideFromCodePage(s, plat::kCpAcp);
}

std::string ModeStringFromWide(const std::u16string& s) {
  return UTF8Mode() ? Utf8FromWideString(s) : AnsiFromWide(s);
}

void UpperWide(std::u16string& s) {
  if (plat::OsMajorVersion() < 5) {
    for (auto& c : s)
      if (c >= u'a' && c <= u'z') c = char16_t(c - 32);
    return;
  }
  plat::UpperCaseWide(s);
}

std::string AnsiFromUtf8(const char* bytes, int length) { return AnsiFromWide(WideFromUtf8(bytes, length)); }

std::string AnsiFromWide(const std::u16string& s) {
  if (s.empty()) return {};
  return zm::MultiByteFromWide(plat::kCpAcp, 0, s.data(), int(s.size()));
}

std::string Utf8FromWide(const char16_t* chars, int length) {
  if (length < 0) length = -1;
  if (length == 0) return {};
  int size = plat::WideToMultiByte(plat::kCpUtf8, 0, chars, length, nullptr, 0, nullptr, nullptr);
  if (size < 1) plat::RaiseLastError();
  std::string out(size_t(size), '\0');
  int got = plat::WideToMultiByte(plat::kCpUtf8, 0, chars, length, out.data(), size, nullptr, nullptr);
  if (got < 1) return {};
  out.resize(size_t(got));
  if (length == -1 && !out.empty() && out.back() == '\0') out.pop_back();
  return out;
}

std::string Utf8FromWideString(const std::u16string& s, int length) {
  return Utf8FromWide(s.data(), ClampLength(s.size(), length));
}

std::string Utf8FromAnsi(const std::string& s) {
  if (s.empty()) return {};
  return Utf8FromWideString(zm::WideFromMultiByte(plat::kCpAcp, 0, s.data(), int(s.size())));
}

std::u16string WideFromCodePage(const std::string& s, unsigned codePage, int length) {
  return zm::WideFromCodePageText(s.data(), ClampLength(s.size(), length), codePage);
}

std::string Utf8FromCodePage(const std::string& s, unsigned codePage, int length) {
  return Utf8FromAnsi(AnsiFromWide(WideFromCodePage(s, codePage, length)));
}

int Utf8SequenceLength(uint8_t first) { return zm::Utf8SequenceLength(first); }

int CountUtf8SequencesRaw(const char* bytes, int length) {
  if (!bytes || length <= 0) return 0;
  return zm::CountUtf8Sequences(bytes, size_t(length));
}

int CountUtf8Sequences(const std::string& s, int length) {
  return CountUtf8SequencesRaw(s.data(), ClampLength(s.size(), length));
}

std::string EnsureUtf8(const std::string& s) {
  if (CountUtf8Sequences(s) >= 0) return s;
  return Utf8FromAnsi(s);
}

std::string NarrowWithEscapes(const std::u16string& s, bool oem) {
  if (s.empty()) return {};
  const unsigned cp = oem ? plat::kCpOemCp : plat::kCpAcp;
  const char defChar[2] = {'\x1B', '\0'};
  bool used = false;
  std::string conv =
      zm::MultiByteFromWide(cp, plat::kWcNoBestFitChars, s.data(), int(s.size()), defChar, &used);
  if (conv.empty() || !used) return conv;
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  size_t j = 0;  // position in the UTF-16 input
  for (size_t i = 0; i < conv.size();) {
    int len = plat::CharLength(cp, conv.data() + i, int(conv.size() - i));
    if (len < 1) len = 1;
    char16_t unit = j < s.size() ? s[j] : u'\x1B';
    if (len == 1 && conv[i] == '\x1B') {
      out += "#$";
      for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(unit >> shift) & 0xF]);
      ++j;
    } else {
      out.append(conv, i, size_t(len));
      // A surrogate pair that converted gives one character for two units.
      bool pair =
          unit >= 0xD800 && unit <= 0xDBFF && j + 1 < s.size() && s[j + 1] >= 0xDC00 && s[j + 1] <= 0xDFFF;
      j += pair ? 2 : 1;
    }
    i += size_t(len);
  }
  return out;
}

std::string Utf8ToNarrowWithEscapes(const std::string& utf8, bool oem) {
  return NarrowWithEscapes(WideFromUtf8String(utf8), oem);
}

std::string ToOemString(const std::string& s) {
  if (s.empty()) return {};
  std::u16string w = zm::WideFromMultiByte(plat::kCpAcp, 0, s.data(), int(s.size()));
  std::string out =
      w.empty() ? std::string() : zm::MultiByteFromWide(plat::kCpOemCp, 0, w.data(), int(w.size()));
  if (out.size() > s.size() + 3) out.resize(s.size() + 3);
  size_t z = out.find('\0');
  if (z != std::string::npos) out.resize(z);
  return out;
}
