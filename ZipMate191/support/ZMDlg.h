// The component's own prompt dialog: an icon, a word-wrapped message, a row of
// buttons and, for password requests, a masked entry field. The layout is computed
// here from the dialog font's average character size and drawn by the current user
// interface (PlatUi.h).
#pragma once
#include <cstdint>
#include <string>

#include "PlatUi.h"
#include "ZMBase.h"

// Dialog kinds carried in bits 16-20 of a request's context.
inline constexpr uint32_t ZMDlgKindMask = 0x1F0000;
inline constexpr uint32_t ZMDlgPassword = 0x140000;
inline constexpr uint32_t ZMDlgError = 0x120000;
// Longest password the entry field accepts.
inline constexpr int ZMDlgMaxPassword = 80;

class TZipDialogBox {
 public:
  explicit TZipDialogBox(uint32_t context);

  // Creates the controls and sizes and places the form. title and msg are in the
  // component's 8-bit form; an empty title gives the application's title.
  void BuildLayout(const std::string& title, const std::string& msg, TMsgDlgButtons btns);
  // Shows the dialog modally; returns the modal result (0 to 10, 2 when closed).
  int ShowModal();
  // The entry field's text in the component's 8-bit form; empty without a field.
  std::string EnteredText() const;

  uint32_t Context() const { return FContext; }
  // 0 exclamation, 1 error, 2 information, 3 question, 4 none.
  int Kind() const { return FKind; }
  bool IsPassword() const { return (FContext & ZMDlgKindMask) == ZMDlgPassword; }
  plat::TUiSize CharSize() const { return FCharSize; }
  const plat::TDlgForm& Form() const { return FForm; }

 private:
  uint32_t FContext;
  int FKind;
  plat::TDlgIcon FIconId;
  bool FBeep;
  plat::TUiSize FCharSize;
  plat::TDlgForm FForm;
  bool FHasEdit = false;
  std::u16string FEntered;
};

// The kind of a context: bits 16-18, where 5 to 7 count as 4.
int ZMDlgKindOf(uint32_t context);
// a * b / c rounded half away from zero, as layout measures are computed; -1 for c = 0.
int MulDiv(int a, int b, int c);
