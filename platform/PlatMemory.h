// Memory for large tables that live as long as a loaded archive directory: taken from
// the system in one piece and backed by large pages where the system offers them, so
// that filling it costs a few page faults instead of one per 4 KiB.
#pragma once
#include <cstddef>

namespace plat {

// Zero-filled memory of at least size bytes, or null when the system has none. size is
// raised to what was reserved; pass the same value to FreeBulk.
void* AllocBulk(size_t& size);
void FreeBulk(void* p, size_t size);

}  // namespace plat
