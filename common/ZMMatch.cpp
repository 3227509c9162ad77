#include "ZMMatch.h"

#include <algorithm>

#include "ZMUTF8.h"

namespace {

constexpr char16_t kSep = u'\\';  // internal separator; '/' is rewritten to it

// Flags of a parsed pattern (or name).
constexpr unsigned kHasName = 0x01;
constexpr unsigned kNameAllStars = 0x02;
constexpr unsigned kNameStars = 0x04;
constexpr unsigned kHasDot = 0x08;
constexpr unsigned kHasExt = 0x10;
constexpr unsigned kExtAllStars = 0x20;
constexpr unsigned kExtStars = 0x40;

struct TParsedPattern {
  size_t NameStart = 0, NameEnd = 0;  // [NameStart, NameEnd)
  size_t ExtStart = 0, ExtEnd = 0;    // [ExtStart, ExtEnd), empty when none
  size_t NameLen = 0, ExtLen = 0;
  unsigned Flags = 0;
};

// Splits s[b, e) into name part and extension. A dot in first position is an
// ordinary character; a separator or ':' ends any extension.
TParsedPattern Parse(const std::u16string& s, size_t b, size_t e) {
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
  TParsedPattern p;
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

bool PatternMatches(const std::u16string& pattern, const TParsedPattern& pp, const std::u16string& name,
                    const TParsedPattern& np) {
  const unsigned f = pp.Flags;
  if ((f & kNameAllStars) && ((f & kExtAllStars) || !(f & (kHasDot | kHasExt | kExtAllStars)))) return true;
  if ((f & kHasExt) && !(f & kExtStars) && pp.ExtLen != np.ExtLen) return false;
  if (!(f & kNameStars) && pp.NameLen != np.NameLen) return false;

  size_t rangeEnd = np.NameEnd;  // end of the name range for the name step
  if (f & kExtAllStars) {
    // extensions agree
  } else if ((f & kHasDot) && !(f & kHasExt)) {
    if (np.ExtLen) return false;
  } else if (f & kHasExt) {
    if (!np.ExtLen) return false;
    if (!zmmatch::WildCompare(pattern.data() + pp.ExtStart, pp.ExtLen, name.data() + np.ExtStart, np.ExtLen))
      return false;
  } else if (np.ExtLen) {
    rangeEnd = np.ExtEnd;  // no dot: the whole name, extension included
  }

  if (f & kNameAllStars) return true;
  const char16_t* p = pattern.data() + pp.NameStart;
  const char16_t* r = name.data() + np.NameStart;
  const size_t rLen = rangeEnd - np.NameStart;
  if (f & kNameStars) return zmmatch::WildCompare(p, pp.NameLen, r, rLen);
  return zmmatch::PlainCompare(p, pp.NameLen, r, rLen);
}

void Normalise(std::u16string& s) {
  UpperWide(s);
  std::replace(s.begin(), s.end(), u'/', kSep);
}

inline bool UnitMatches(char16_t pattern, char16_t name) {
  return pattern == name || (pattern == u'?' && name != kSep);
}

}  // namespace

namespace zmmatch {

// Greedy matching with a return to the last star: the same answers as trying every
// split at each star, in time proportional to the product of the lengths at worst.
bool WildCompare(const char16_t* pattern, size_t patternLen, const char16_t* name, size_t nameLen) {
  if (patternLen == 1 && pattern[0] == u'*') return true;
  if (nameLen == 0) return patternLen == 0;
  size_t si = 0, ni = 0;
  size_t starPattern = SIZE_MAX, starName = 0;
  while (ni < nameLen) {
    if (si < patternLen && pattern[si] == u'*') {
      starPattern = si++;
      starName = ni;
    } else if (si < patternLen && UnitMatches(pattern[si], name[ni])) {
      ++si;
      ++ni;
    } else if (starPattern != SIZE_MAX) {
      si = starPattern + 1;
      ni = ++starName;
    } else {
      return false;
    }
  }
  while (si < patternLen && pattern[si] == u'*') ++si;
  return si == patternLen;
}

bool PlainCompare(const char16_t* pattern, size_t patternLen, const char16_t* name, size_t nameLen) {
  if (nameLen == 0 || patternLen == 0) return false;
  if (pattern[0] != name[0] && pattern[0] != u'?') return false;
  size_t sb = patternLen, nb = nameLen;  // one past the last unit still to compare
  while (sb > 1 && nb > 1) {
    --sb;
    --nb;
    if (!UnitMatches(pattern[sb], name[nb])) return false;
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
  const TParsedPattern np = Parse(name, nb, name.size());

  size_t i = 0;
  const size_t n = patterns.size();
  while (true) {
    while (i < n && (patterns[i] <= 32 || patterns[i] == u'|')) ++i;
    if (i >= n) return false;
    const size_t b = i;
    while (i < n && patterns[i] >= 32 && patterns[i] != u'|') ++i;
    size_t e = i;
    while (e > b && patterns[e - 1] == u' ') --e;  // blanks before a terminator
    if (PatternMatches(patterns, Parse(patterns, b, e), name, np)) return true;
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
