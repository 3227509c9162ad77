// The context model of method 98, PPMd variant I revision 1: contexts of up to 16
// preceding bytes, each with the symbols seen after it and their counts, linked to
// the context one byte shorter (its suffix) and reached from a symbol of the shorter
// one (its successor). Binary contexts (one symbol) are coded with adaptive bit
// probabilities, escapes from the others with secondary estimates; a new context
// inherits the count of its symbol from its suffix.
//
// Contexts and symbol lists live in a heap of the entry's declared size, carved in
// 12-byte units: the text of the bytes seen grows from its bottom, units are taken
// from the top and from the middle, and freed ones go on lists by size. When the heap
// is full the model starts afresh or cuts its deep branches off, as the entry's head
// asks. Coder and decoder run this very model, so every step here, down to which unit
// a list hands out, must be the one the compressor made.
//
// Everything the heap holds is the model's own (sizes and offsets it made itself);
// the data only pick symbols among those a context offers, so every offset is one
// the allocator handed out. The walks over the heap still stop at its ends (a guard
// unit lies past them), searches stop at the end of a context's list, and table
// indexes are masked to the tables' sizes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "DZPpmdRange.h"

namespace dz {

class TDZPpmdModel {
 public:
  static constexpr unsigned kMinOrder = 2, kMaxOrder = 16;
  // How the model goes on once the heap is full.
  static constexpr unsigned kRestart = 0, kCutOff = 1;
  // DecodeSymbol's results beside the bytes.
  static constexpr int kEndMark = -1, kBadData = -2;

  // Sets up a heap of size bytes; kept when the size is unchanged. False without the memory.
  bool Reserve(uint32_t size);
  // Starts the model afresh, for contexts of up to maxOrder bytes.
  void Start(unsigned maxOrder, unsigned restore);
  // The next byte, kEndMark when the escapes passed the shortest context (the
  // compressor's end mark), kBadData when the code fits no symbol.
  int DecodeSymbol(TDZPpmdRange& rc);

 private:
  static constexpr unsigned kUnit = 12;
  static constexpr unsigned kIndexes = 38;
  static constexpr unsigned kMaxFreq = 124;
  static constexpr unsigned kPeriodBits = 7;
  static constexpr uint32_t kBinScale = 1u << 14;
  static constexpr uint32_t kEmpty = 0xFFFFFFFFu;  // stamp of a free block

  struct TState {
    uint8_t Symbol, Freq;
    uint16_t SuccLow, SuccHigh;  // successor: a context, a place in the text, or 0
  };
  // With more than one symbol (NumStats is their number less one) the place of the
  // single symbol holds the total of the counts (Symbol: low byte, Freq: high byte)
  // and the offset of the symbol list (the successor's place).
  struct TContext {
    uint8_t NumStats, Flags;
    TState One;
    uint32_t Suffix;
  };
  // A secondary escape estimate.
  struct TSee {
    uint16_t Summ;
    uint8_t Shift, Count;
  };
  // A free block: its first unit.
  struct TNode {
    uint32_t Stamp, Next, NU;
  };
  static_assert(sizeof(TState) == 6 && sizeof(TContext) == kUnit && sizeof(TNode) == kUnit);

  // Flags of a context.
  static constexpr uint8_t kRescaled = 0x04, kSymbolHigh = 0x08, kPrevHigh = 0x10;
  static uint8_t HighFlag(uint8_t symbol) { return symbol >= 0x40 ? kSymbolHigh : 0; }

  static uint32_t Successor(const TState* s) { return s->SuccLow | uint32_t(s->SuccHigh) << 16; }
  static void SetSuccessor(TState* s, uint32_t v) {
    s->SuccLow = uint16_t(v);
    s->SuccHigh = uint16_t(v >> 16);
  }
  static unsigned SummFreq(const TContext* c) { return c->One.Symbol | unsigned(c->One.Freq) << 8; }
  static void SetSummFreq(TContext* c, unsigned v) {
    c->One.Symbol = uint8_t(v);
    c->One.Freq = uint8_t(v >> 8);
  }

  uint8_t* Ptr(uint32_t ref) const { return FBase + ref; }
  uint32_t Ref(const void* p) const { return uint32_t(static_cast<const uint8_t*>(p) - FBase); }
  TContext* Ctx(uint32_t ref) const { return reinterpret_cast<TContext*>(Ptr(ref)); }
  TState* Stats(const TContext* c) const { return reinterpret_cast<TState*>(Ptr(Successor(&c->One))); }
  void SetStats(TContext* c, const void* p) { SetSuccessor(&c->One, Ref(p)); }
  TContext* Suffix(const TContext* c) const { return Ctx(c->Suffix); }
  unsigned I2U(unsigned indx) const { return FIndx2Units[indx]; }
  unsigned U2I(unsigned nu) const { return FUnits2Indx[nu - 1]; }
  uint32_t Stamp(const uint8_t* p) const;

  // Sub-allocator.
  void InsertNode(uint8_t* p, unsigned indx);
  uint8_t* RemoveNode(unsigned indx);
  void SplitBlock(uint8_t* p, unsigned oldIndx, unsigned newIndx);
  void GlueFreeBlocks();
  uint8_t* AllocUnitsRare(unsigned indx);
  uint8_t* AllocUnits(unsigned indx);
  uint8_t* AllocContext();
  uint8_t* ShrinkUnits(uint8_t* p, unsigned oldNU, unsigned newNU);
  uint8_t* MoveUnitsUp(uint8_t* p, unsigned nu);
  void SpecialFreeUnit(uint8_t* p);
  void ExpandTextArea();
  uint32_t UsedMemory() const;

  // Model.
  // The state of sym in c, which a longer context's symbol always has.
  TState* Find(TContext* c, uint8_t sym);
  void Restart();
  void Rescale();
  void Refresh(TContext* c, unsigned oldNU, unsigned scale);
  uint32_t CutOff(TContext* c, unsigned order);
  void Restore(TContext* failed);
  TContext* CreateSuccessors(bool skip, TState* s1, TContext* c);
  TContext* ReduceOrder(TState* s1, TContext* c);
  void UpdateModel();
  void NextContext();
  void Update1();
  void Update1First();
  void Update2();
  void UpdateBin();
  TSee* MakeEscFreq(unsigned numMasked, uint32_t& escFreq);
  uint16_t& BinSumm();

  std::unique_ptr<uint8_t[]> FHeap;
  uint8_t* FBase = nullptr;
  uint32_t FSize = 0;
  uint8_t *FLoUnit = nullptr, *FHiUnit = nullptr, *FText = nullptr, *FUnitsStart = nullptr;
  uint32_t FGlueCount = 0;
  uint32_t FFreeList[kIndexes] = {};
  uint32_t FStamps[kIndexes] = {};  // blocks on each list

  TContext *FMinContext = nullptr, *FMaxContext = nullptr;
  TState* FFoundState = nullptr;
  unsigned FOrderFall = 0, FInitEsc = 0, FPrevSuccess = 0, FMaxOrder = 0, FRestore = 0;
  int32_t FRunLength = 0, FInitRL = 0;

  uint8_t FIndx2Units[kIndexes] = {};
  uint8_t FUnits2Indx[128] = {};
  uint8_t FNS2BSIndx[256] = {};
  uint8_t FNS2Indx[260] = {};
  TSee FDummySee = {};
  TSee FSee[24][32] = {};
  // Rows by the count of a binary context's symbol (through FNS2Indx, whose largest
  // value is 26), so that no count can index past them.
  uint16_t FBinSumm[27][64] = {};
  bool FTables = false;
  bool FBroken = false;  // a step found the model unsound: the entry's data are refused
};

}  // namespace dz
