// The extract and test commands: the component's events turned into zmtool's
// behaviour. Folders are kept unless -j; a file that exists is replaced, kept or
// renamed as the options or the answer on the terminal say, and without a terminal it
// is kept and named; two entries that would land on one file are a conflict reported
// for the second; every entry not done is named with its cause, and a closing line
// counts them. Unix modes and symbolic links are restored at the end.
#pragma once
#include <string>

#include "Options.h"
#include "ZipMate191/ZipMate.h"

namespace zmtool {

class TPasswords;
class TProgressBar;

// Runs the command of o (extract or test) on the listed archive; the exit status.
int RunExtraction(TZipMate& zm, const TOptions& o, TPasswords& passwords, TProgressBar& bar);
// Tests the archive (shown as shown in messages) without listing it: its directory is
// read once entry by entry to learn that it reads, then by the engine; the exit status.
int RunTest(TZipMate& zm, const std::string& archive, const std::string& shown, const TOptions& o,
            TPasswords& passwords, TProgressBar& bar);

}  // namespace zmtool
