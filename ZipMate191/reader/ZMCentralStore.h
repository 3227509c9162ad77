// Bulk storage for the records of a loaded directory: slots cut from one block instead
// of one heap allocation per record, so that a directory of many entries is built and
// freed quickly, and behind the slots an area of bytes the records keep their stored
// names and extra fields in. The block is shared by the directory and by the records cut
// from it, and goes back to the system when both have let go.
#pragma once
#include <cstddef>
#include <cstdint>

class TZMRecordBlock {
 public:
  // Blocks of at least this many bytes come from the system's bulk memory (large pages
  // where offered); smaller ones from the heap.
  static constexpr size_t kBulkMin = size_t(1) << 20;

  // A block of count slots of slotSize bytes each (rounded up to 16) and an area of
  // byteRoom bytes, or null when count or slotSize is 0 or there is no memory for it.
  // Memory of a bulk block costs only the pages that are used. The caller holds it.
  static TZMRecordBlock* Create(size_t slotSize, size_t count, size_t byteRoom = 0);

  TZMRecordBlock(const TZMRecordBlock&) = delete;
  TZMRecordBlock& operator=(const TZMRecordBlock&) = delete;

  // The next unused slot, or null when the block is full or size exceeds a slot.
  void* Take(size_t size);
  // n bytes of the area, or null when fewer are left. They last as long as the block;
  // only a record cut from this block may keep them.
  char* TakeBytes(size_t n);
  // A slot taken from this block is free again (slots are not reused).
  void Give();
  // Every slot and byte is unused again, for new records; false (nothing changed) while
  // a slot is still live.
  bool Rewind();
  // The holder lets go; the block is freed now or when its last slot is given back.
  void Release();

  size_t SlotSize() const { return FSlotSize; }
  size_t Slots() const { return FSlots; }
  size_t Used() const { return FUsed; }
  size_t Live() const { return FLive; }
  bool Bulk() const { return FBulk; }
  // True when p lies inside this block's slots.
  bool Holds(const void* p) const;

 private:
  TZMRecordBlock() = default;
  ~TZMRecordBlock();
  void FreeIfUnused();

  uint8_t* FMem = nullptr;
  size_t FMemSize = 0;
  size_t FSlotSize = 0;
  size_t FSlots = 0;
  size_t FUsed = 0;
  size_t FLive = 0;
  char* FBytesNext = nullptr;  // the unused part of the byte area
  char* FBytesEnd = nullptr;
  bool FBulk = false;
  bool FHeld = true;
};

// Lets a holder keep a block in a std::unique_ptr.
struct TZMRecordBlockRelease {
  void operator()(TZMRecordBlock* b) const {
    if (b) b->Release();
  }
};
