// How zmtool tells of the archive it opened: one that cannot be read at all, or one
// whose directory was read after a warning (a wrong directory offset, bytes before or
// after the archive), which is then used.
#pragma once
#include <string>

#include "ZipMate191/ZipMate.h"

namespace zmtool {

// The component's error, told as "SHOWN: TEXT (error N)"; the exit status for it.
int Unreadable(TZipMate& zm, const std::string& shown);
// The component's warning, told as "warning: SHOWN: TEXT (warning N)".
void Warn(TZipMate& zm, const std::string& shown);

}  // namespace zmtool
