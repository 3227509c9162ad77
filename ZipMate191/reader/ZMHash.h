// The name hash table of a loaded directory: one flat array of slots, each holding an
// entry's index and the key of its name, probed linearly from the key's home slot. Names
// are hashed with a keyed hash whose key is drawn once per process, so that no set of
// names, however chosen, makes the probe runs long; the table is sized to the entry
// count and kept at most two thirds full.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

class TZMZipFile;
class TZMZRec;

class TZMDirHashList {
 public:
  // One slot: the entry's index + 1 (0: empty) and the key of its name (KeyOf), so that
  // a probe run is walked without visiting the records.
  struct TSlot {
    uint32_t IndexPlus1;
    uint32_t Key;
  };
  static constexpr int64_t kMinSlots = 64;
  // Above the largest entry count, so that a full table still has an empty slot.
  static constexpr int64_t kMaxSlots = int64_t(1) << 31;
  static constexpr int64_t kDefaultSlots = 2048;

  explicit TZMDirHashList(TZMZipFile* owner);
  ~TZMDirHashList();
  TZMDirHashList(const TZMDirHashList&) = delete;
  TZMDirHashList& operator=(const TZMDirHashList&) = delete;

  // Enters the entry at index; returns the (last) record with the same name already
  // entered, or null. Without addDuplicate a duplicate is not entered.
  TZMZRec* Add(int index, bool addDuplicate);
  // Index of the first entry with this name (case-insensitive; '/' equals '\'), or -1.
  // Without includeMarked entries with status bit 128 are passed over.
  int Find(const std::string& name, bool includeMarked) const;
  // Empty table with the slot count suited to n entries (SizeFor).
  void SetSizeFor(int n);
  // Empty table of at least n slots (a power of two, kMinSlots..kMaxSlots); 0 turns the
  // list off.
  void SetSize(int64_t n);
  // The entered entries moved into the slot count suited to n entries, each name's
  // entries kept in the order they were entered; nothing happens to a table that is off.
  void ResizeFor(int n);
  void Clear();
  int64_t SlotCount() const { return FSlots ? int64_t(FMask) + 1 : 0; }
  // Entries entered.
  int Count() const { return FCount; }

  // The slot count SetSizeFor would choose: the smallest power of two that holds n
  // entries at most two thirds full.
  static int64_t SizeFor(int n);
  // The key of a name: the same for names equal but for the case of ASCII letters (as
  // NameHashUpper), otherwise as good as random.
  static uint32_t KeyOf(std::string_view name);

 private:
  struct TFree {
    void operator()(TSlot* p) const { std::free(p); }
  };
  // Slots of a fresh table: zero-filled memory, so that a large table costs only the
  // pages it touches.
  static TSlot* NewSlots(size_t n);
  // The smallest power of two of at least n slots, within kMinSlots..kMaxSlots.
  static int64_t SlotsFor(int64_t n);
  bool Matches(const TSlot& slot, uint32_t key, std::string_view name) const;
  // Puts the entry into the first empty slot of its run (past all entered ones).
  void Place(uint32_t indexPlus1, uint32_t key);

  TZMZipFile* FOwner;
  std::unique_ptr<TSlot[], TFree> FSlots;
  uint32_t FMask = 0;  // slot count - 1
  int FCount = 0;
};
