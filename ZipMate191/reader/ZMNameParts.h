// The parts of an archive's file name as the volume layers take it apart: '/', '\' and
// ':' end folders; the extension starts at the last '.' of the last part.
#pragma once
#include <string>

namespace zmname {

// Whether c ends a folder.
bool IsDelim(char c);
// The extension with its '.', or empty.
std::string ExtOf(const std::string& name);
// The name without its extension.
std::string WithoutExt(const std::string& name);
// The folder with its closing delimiter, or empty.
std::string FolderOf(const std::string& name);
// The name without its folder.
std::string NameOnly(const std::string& name);
// The name in upper case (ASCII letters only).
std::string Upper(std::string s);
// The last three digits of v, as a part number is written ("001").
std::string ThreeDigits(int v);

}  // namespace zmname
