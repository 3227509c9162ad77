// How the stored name and comment of an archive entry are read: the kind of encoding
// they are stored in, the Unicode path and comment fields (0x7075, 0x6375) checked
// against the stored text, the decoding into UTF-8, and the conversion of separators
// that never splits a double-byte character. The component and the engine both decode
// with this unit, so that a name is listed exactly as it is extracted.
//
// The rules, in order: the UTF-8 flag (bit 11) says UTF-8; otherwise a Unicode path or
// comment field whose CRC matches the stored text says "Unicode field"; otherwise an
// entry made on MS-DOS or OS/2 (host 0 or 6, or version made by 0x0B32) is in the OEM
// code page; otherwise in the native code page given by the caller (0: the ANSI code
// page). A caller's explicit encoding replaces the entry's own. Stored text without
// bytes above 126 or below 31 is taken as it is, except for the Unicode field kind.
// Text that cannot be converted stays as stored.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zm {

// Kinds of stored text: the numbering of the component's Encoding option.
enum TStoredKind : int { skAuto = 0, skNative = 1, skOEM = 2, skUTF8 = 3, skUnicodeField = 4 };

inline constexpr uint16_t kUnicodePathTag = 0x7075;
inline constexpr uint16_t kUnicodeCommentTag = 0x6375;

// What an entry's central header stores about its texts.
struct TStoredText {
  std::string_view Name, Comment, Extra;
  uint16_t Flag = 0, VersionMadeBy = 0;
};

// The block with the tag in an extra field, walking from the first block while 5 bytes
// or more remain: its data position and length. False when absent or when the block
// runs past the field.
bool FindExtraBlock(std::string_view extra, uint16_t tag, size_t& pos, size_t& len);

// Length (1 to 6) of the UTF-8 sequence that starts with this byte, or -1.
int Utf8SequenceLength(uint8_t first);
// Number of multi-byte UTF-8 sequences (0 for 7-bit text), -1 when not valid UTF-8.
int CountUtf8Sequences(const char* bytes, size_t length);
// Any byte above 126 or below 31.
bool HasNonPlainBytes(std::string_view s);

// The UTF-8 text of the Unicode path (comment false) or comment field, when it has
// version 1, the CRC-32 of the stored text and valid, non-empty UTF-8; else empty.
std::string UnicodeFieldText(const TStoredText& e, bool comment);
// The kind the entry's texts are stored in (1 to 4).
int StoredKind(const TStoredText& e);

struct TDecodedText {
  std::string Text;        // UTF-8 when Converted; otherwise the stored bytes
  bool Converted = false;  // false: plain text, or nothing could be converted
};
// Decodes the name (comment false) or comment stored in kind (1 to 4); nameCodePage is
// the native code page (0: the ANSI code page), oemCodePage the OEM one (0: the user's).
TDecodedText DecodeStoredText(const TStoredText& e, bool comment, int kind, unsigned nameCodePage,
                              unsigned oemCodePage = 0);

// Text in a code page to UTF-16 (sizing first; invalid input with the strict flag
// gives an empty result), and UTF-16 to a code page; empty on failure.
std::u16string WideFromMultiByte(unsigned codePage, uint32_t flags, const char* p, int n);
std::string MultiByteFromWide(unsigned codePage, uint32_t flags, const char16_t* p, int n,
                              const char* defaultChar = nullptr, bool* usedDefault = nullptr);
// Text in a code page to UTF-16; text the code page cannot even size is read in the
// ANSI code page instead.
std::u16string WideFromCodePageText(const char* p, int n, unsigned codePage);
// UTF-8 to UTF-16, strictly; input that is no valid UTF-8 is read in the ANSI code page
// (strictly too). n -1: up to and with the terminating zero.
std::u16string WideFromUtf8Text(const char* p, int n);

// Byte length of the character at s[i] in codePage (1 for bytes below 0x80).
size_t CharSizeAt(std::string_view s, size_t i, unsigned codePage);
// Every from becomes to, except bytes inside a multi-byte character of codePage (the
// trail byte 0x5C of a double-byte character is no separator).
std::string ReplaceSeparators(std::string s, char from, char to, unsigned codePage);
// Whether the last character (not the last byte) of s in codePage is c.
bool EndsWithChar(std::string_view s, char c, unsigned codePage);

}  // namespace zm
