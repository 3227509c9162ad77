#include "ZMCentralStore.h"

#include <new>

#include "PlatMemory.h"

TZMRecordBlock* TZMRecordBlock::Create(size_t slotSize, size_t count, size_t byteRoom) {
  if (slotSize == 0 || count == 0) return nullptr;
  slotSize = (slotSize + 15) & ~size_t(15);
  if (count > (~size_t(0)) / slotSize || byteRoom > (~size_t(0)) - slotSize * count) return nullptr;
  size_t bytes = slotSize * count + byteRoom;
  auto* b = new (std::nothrow) TZMRecordBlock();
  if (!b) return nullptr;
  if (bytes >= kBulkMin) {
    b->FMem = static_cast<uint8_t*>(plat::AllocBulk(bytes));
    b->FBulk = b->FMem != nullptr;
  }
  if (!b->FMem) b->FMem = static_cast<uint8_t*>(::operator new(bytes, std::nothrow));
  if (!b->FMem) {
    delete b;
    return nullptr;
  }
  b->FMemSize = bytes;
  b->FSlotSize = slotSize;
  b->FSlots = count;
  b->FBytesNext = reinterpret_cast<char*>(b->FMem + slotSize * count);
  b->FBytesEnd = b->FBytesNext + byteRoom;
  return b;
}

TZMRecordBlock::~TZMRecordBlock() {
  if (FBulk)
    plat::FreeBulk(FMem, FMemSize);
  else
    ::operator delete(FMem);
}

void* TZMRecordBlock::Take(size_t size) {
  if (size > FSlotSize || FUsed >= FSlots) return nullptr;
  void* p = FMem + FUsed * FSlotSize;
  ++FUsed;
  ++FLive;
  return p;
}

char* TZMRecordBlock::TakeBytes(size_t n) {
  if (n > size_t(FBytesEnd - FBytesNext)) return nullptr;
  char* p = FBytesNext;
  FBytesNext += n;
  return p;
}

void TZMRecordBlock::Give() {
  if (FLive > 0) --FLive;
  FreeIfUnused();
}

bool TZMRecordBlock::Rewind() {
  if (FLive > 0) return false;
  FUsed = 0;
  FBytesNext = reinterpret_cast<char*>(FMem + FSlotSize * FSlots);
  return true;
}

void TZMRecordBlock::Release() {
  FHeld = false;
  FreeIfUnused();
}

bool TZMRecordBlock::Holds(const void* p) const {
  const auto* b = static_cast<const uint8_t*>(p);
  return b >= FMem && b < FMem + FSlots * FSlotSize;
}

void TZMRecordBlock::FreeIfUnused() {
  if (!FHeld && FLive == 0) delete this;
}
