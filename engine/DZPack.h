// The packing run of the add command: the files of a TDZPackJob are read and
// compressed on several threads, several files at a time (a large file in pieces that
// join into one deflate stream), and their data is written in the items' order through
// the stream callback, each item to the stream the caller opens for it.
#pragma once
#include "DZHost.h"

namespace dz {

// 1 when every item was written or skipped, else a negative engine error.
int RunPack(TDZHost& host);

}  // namespace dz
