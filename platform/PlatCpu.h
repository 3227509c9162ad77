// The processors this process may run on.
#pragma once

namespace plat {

// How many processors the process may use: those of its affinity mask (so that a
// process bound to one processor gets 1), at least 1.
unsigned UsableProcessors();

}  // namespace plat
