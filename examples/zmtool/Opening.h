// How zmtool tells of the component's errors: an operation that failed, an archive that
// cannot be read at all, or one whose directory was read after a warning (a wrong
// directory offset, bytes before or after the archive), which is then used.
#pragma once
#include <string>

#include "ZipMate191/ZipMate.h"

namespace zmtool {

// The component's error, told as "WHATTEXT (error N)"; the exit status of an operation
// that failed.
int Failed(TZipMate& zm, const std::string& what);
// The component's error about an archive it could not read, told as "SHOWN: TEXT
// (error N)"; the exit status for it.
int Unreadable(TZipMate& zm, const std::string& shown);
// The component's warning, told as "warning: SHOWN: TEXT (warning N)".
void Warn(TZipMate& zm, const std::string& shown);

}  // namespace zmtool
