// The commands that write archives: create, add, update, freshen and delete. Paths
// are stored as given below the current folder; each file skipped is named with its
// cause, and a closing line counts what was written.
#pragma once
#include "Options.h"
#include "ZipMate191/ZipMate.h"

namespace zmtool {

class TPasswords;
class TProgressBar;

// Runs the writing command of o; the exit status.
int RunWriting(TZipMate& zm, const TOptions& o, TPasswords& passwords, TProgressBar& bar);

// "10m", "650k", "2g" or a byte count as bytes; 0 when the text is no size.
int64_t ParseSize(const std::string& text);

}  // namespace zmtool
