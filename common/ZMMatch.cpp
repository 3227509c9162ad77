#include "ZMMatch.h"

#include <algorithm>

#include "ZMUTF8.h"

namespace {

constexpr char16_t kSep = u'\\';  // internal separator; '/' is rewritten to it

// Flags of a parsed specification (or name).
constexpr unsigned kHasName = 0x01;
constexpr unsigned kNameAllStars = 0x02;
constexpr unsigned kNameStars = 0x04;
constexpr unsigned kHasDot = 0x08;
constexpr unsigned kHasExt = 0x10;
constexpr unsigned kExtAllStars = 0x20;
constexpr unsigned kExtStars = 0x40;

struct TParsedSpec {
  size_t NameStart = 0, NameEnd = 0;  // [NameStart, NameEnd)
  size_t ExtStart = 0, ExtEnd = 0;    // [ExtStart, ExtEnd), empty when none
  size_t NameLen = 0, ExtLen = 0;
  unsigned Flags = 0;
};

// Splits s[b, e) into name part and extension. A dot in first position is an
// ordinary character; a separator or ':' ends any extension.
TParsedSpec Parse(const std::u16string& s, size_t b, size_t e) {
  size_t nameStars = 0, extStars = 0;
  bool inExt = false;
  size_t extStart = 0;
  for (size_t i = b; i < e; ++i) {
    const char16_t c = s[i];
    if (c == u'*') {
      ++(inExt ? extStars : nameStars);
    } else if (c == u'.' && i != b) {
      nameStars += extStars;
      extStars = 0;
      inExt = true;
      extStart = i + 1;
    } else if (c == kSep || c == u':') {
      nameStars += extStars;
      extStars = 0;
      inExt = false;
    }
  }
  TParsedSpec p;
  p.NameStart = b;
  p.NameEnd = e;
  if (inExt) {
    p.Flags |= kHasDot;
    p.NameEnd = extStart - 1;
    if (extStart < e) {
      p.ExtStart = extStart;
      p.ExtEnd = e;
      p.ExtLen = e - extStart;
      p.Flags |= kHasExt;
      if (extStars) {
        p.Flags |= kExtStars;
        if (extStars == p.ExtLen) p.Flags |= kExtAllStars;
      }
    } else {
      nameStars += extStars;  // always 0 here: an empty extension has no stars
    }
  }
  p.NameLen = p.NameEnd - p.NameStart;
  if (p.NameLen) {
    p.Flags |= kHasName;
    if (nameStars) {
      p.Flags |= kNameStars;
      if (nameStars == p.NameLen) p.Flags |= kNameAllStars;
    }
  }
  return p;
}

bool SpecMatches(const std::u16string& spec, const TParsedSpec& sp, const std::u16string& name,
                 const TParsedSpec& np) {
  const unsigned f = sp.Flags;
  if ((f & kNameAllStars) && ((f & kExtAllStars) || !(f & (kHasDot | kHasExt | kExtAllStars)))) return true;
  if ((f & kHasExt) && !(f & kExtStars) && sp.ExtLen != np.ExtLen) return false;
  if (!(f & kNameStars) && sp.NameLen != np.NameLen) return false;

  size_t rangeEnd = np.NameEnd;  // end of the name range for the name step
  if (f & kExtAllStars) {
    // extensions agree
  } else if ((f & kHasDot) && !(f & kHasExt)) {
    if (np.ExtLen) return false;
  } else if (f & kHasExt) {
    if (!np.ExtLen) return false;
    if (!zmmatch::WildCompare(spec.data() + sp.ExtStart, sp.ExtLen, name.data() + np.ExtStart, np.ExtLen))
      return false;
  } else if (np.ExtLen) {
    rangeEnd = np.ExtEnd;  // no dot: the whole name, extension included
  }

  if (f & kNameAllStars) return true;
  const char16_t* p = spec.data() + sp.NameStart;
  const char16_t* r = name.data() + np.NameStart;
  const size_t rLen = rangeEnd - np.NameStart;
  if (f & kNameStars) return zmmatch::WildCompare(p, sp.NameLen, r, rLen);
  return zmmatch::PlainCompare(p, sp.NameLen, r, rLen);
}

void Normalise(std::u16string& s) {
  UpperWide(s);
  std::replace(s.begin(), s.end(), u'/', kSep);
}

inline bool UnitMatches(char16_t spec, char16_t name) {
  return spec == name || (spec == u'?' && name != kSep);
}

}  // namespace

namespace zmmatch {

// Greedy matching with a return to the last star: the same answers as trying every
// split at each star, in time proportional to the product of the lengths at worst.
bool WildCompare(const char16_t* spec, size_t specLen, const char16_t* name, size_t nameLen) {
  if (specLen == 1 && spec[0] == u'*') return true;
  if (nameLen == 0) return specLen == 0;
  size_t si = 0, ni = 0;
  size_t starSpec = SIZE_MAX, starName = 0;
  while (ni < nameLen) {
    if (si < specLen && spec[si] == u'*') {
      starSpec = si++;
      starName = ni;
    } else if (si < specLen && UnitMatches(spec[si], name[ni])) {
      ++si;
      ++ni;
    } else if (starSpec != SIZE_MAX) {
      si = starSpec + 1;
      ni = ++starName;
    } else {
      return false;
    }
  }
  while (si < specLen && spec[si] == u'*') ++si;
  return si == specLen;
}

bool PlainCompare(const char16_t* spec, size_t specLen, const char16_t* name, size_t nameLen) {
  if (nameLen == 0 || specLen == 0) return false;
  if (spec[0] != name[0] && spec[0] != u'?') return false;
  size_t sb = specLen, nb = nameLen;  // one past the last unit still to compare
  while (sb > 1 && nb > 1) {
    --sb;
    --nb;
    if (!UnitMatches(spec[sb], name[nb])) return false;
  }
  return true;
}

}  // namespace zmmatch

bool FileNameMatchWide(std::u16string patterns, std::u16string name) {
  if (patterns.empty() != name.empty()) return false;
  Normalise(patterns);
  Normalise(name);
  size_t nb = 0;
  while (nb < name.size() && name[nb] <= 32) ++nb;
  if (nb == name.size()) return false;
  const TParsedSpec np = Parse(name, nb, name.size());

  size_t i = 0;
  const size_t n = patterns.size();
  while (true) {
    while (i < n && (patterns[i] <= 32 || patterns[i] == u'|')) ++i;
    if (i >= n) return false;
    const size_t b = i;
    while (i < n && patterns[i] >= 32 && patterns[i] != u'|') ++i;
    size_t e = i;
    while (e > b && patterns[e - 1] == u' ') --e;  // blanks before a terminator
    if (SpecMatches(patterns, Parse(patterns, b, e), name, np)) return true;
  }
}

bool FileNameMatch(const std::string& patternList, const std::string& name) {
  return FileNameMatchWide(WideFromModeString(patternList), WideFromModeString(name));
}

int CompareNames(const std::string& a, const std::string& b) {
  std::u16string wa = WideFromModeString(a);
  std::u16string wb = WideFromModeString(b);
  Normalise(wa);
  Normalise(wb);
  for (size_t i = 0; i < wa.size(); ++i) {
    if (i >= wb.size()) return wa[i] ? int(wa[i]) : 1;  // a is longer
    if (wa[i] != wb[i]) return int(wa[i]) - int(wb[i]);
  }
  return int(wa.size()) - int(wb.size());
}

uint32_t NameHash(std::string_view s) {
  uint32_t h = 0;
  for (unsigned char c : s) {
    h = (h << 4) + c;
    if (h >= 0x10000000u) h = (h ^ ((h >> 28) << 4)) & 0x0FFFFFFFu;
  }
  return h;
}

uint32_t NameHashUpper(std::string_view s) {
  uint32_t h = 0;
  for (unsigned char c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 32);
    h = (h << 4) + c;
    if (h >= 0x10000000u) h = (h ^ ((h >> 28) << 4)) & 0x0FFFFFFFu;
  }
  return h;
}
