// Wildcard matching of file patterns, name comparison and name hashing.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// Whether name matches any of the patterns in patternList (separated by '|'
// or control characters). Case-insensitive; '/' and '\' are the same separator.
// Both strings are component 8-bit strings (UTF-8 or ANSI per the UTF-8 mode).
bool FileNameMatch(const std::string& patternList, const std::string& name);

// The same on UTF-16 text (already decoded; upper-cased here).
bool FileNameMatchWide(std::u16string patternList, std::u16string name);

// Case-insensitive comparison with '/' equal to '\': 0 when equal, negative when a
// sorts first, positive when b does.
int CompareNames(const std::string& a, const std::string& b);

// ELF (PJW) hash of the bytes; 0 for "".
uint32_t NameHash(std::string_view s);
// NameHash of the text with 'a'..'z' upper-cased.
uint32_t NameHashUpper(std::string_view s);

namespace zmmatch {
// The wildcard compare used by the matcher: '*' matches any run (also across
// separators), '?' any one character except the separator '\'. An empty name
// matches only an empty pattern or a pattern that is exactly "*". Exposed for tests.
bool WildCompare(const char16_t* pattern, size_t patternLen, const char16_t* name, size_t nameLen);
// The compare for a name part without stars: the first characters ('?' matches
// anything there), then the trailing characters while both sides last.
bool PlainCompare(const char16_t* pattern, size_t patternLen, const char16_t* name, size_t nameLen);
}  // namespace zmmatch
