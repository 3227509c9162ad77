// The file-system path separator of this platform. Names stored in archives always
// use '/'; the component's decoded names and file-system paths use PathDelim.
#pragma once

namespace plat {
#ifdef _WIN32
inline constexpr char PathDelim = '\\';
inline constexpr char16_t PathDelimW = u'\\';
inline constexpr const char* PathDelimStr = "\\";
#else
inline constexpr char PathDelim = '/';
inline constexpr char16_t PathDelimW = u'/';
inline constexpr const char* PathDelimStr = "/";
#endif
}  // namespace plat
