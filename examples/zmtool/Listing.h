// The list command: one tab-separated line per entry for scripts (name, size,
// compressed size, method, CRC-32, date and time), a table for people (-l, as the
// peers' verbose listings: header, totals, encrypted entries marked, links shown as
// "name -> target"), or JSON with every field. Folder entries end in '/'.
#pragma once
#include <cstdint>
#include <string>

#include "Options.h"
#include "ZipMate191/ZipMate.h"

namespace zmtool {

// The name of an entry's compression method ("stored", "deflated", ...), never a bare
// number; entries encrypted with AES name the strength and the method inside, as
// "AES-256, deflated" in the lines for scripts and "AES-256 (deflated)" in the table.
std::string MethodName(const TZMDirEntry& e, bool table = false);

// Prints the listing of the archive (shown as shown in messages), read through zm; the
// exit status. The directory is read entry by entry and not kept, unless the table or
// JSON needs the targets of links, which are read through a listing. Lines for scripts
// are printed as they are read; the table and JSON only for a directory that reads
// whole.
int PrintListing(TZipMate& zm, const std::string& archive, const std::string& shown, const TOptions& o);

}  // namespace zmtool
