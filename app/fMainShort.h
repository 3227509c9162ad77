// The utility's main window as data and behaviour, independent of any toolkit: its
// caption, metrics, font, controls and texts, the zip component it owns, and the
// click handler. A front end (GTK, Win32, console) draws it from these values and
// routes the button's click to cxButtonEksportujClick.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "UiOps.h"
#include "ZipMate191/ZipMate.h"

// Position and size of a control in client coordinates (pixels at 96 dpi).
struct TControlGeom {
  int Left, Top, Width, Height;
  int TabOrder;
};

class TFormMainShort : public TComponent {
 public:
  // Window attributes.
  static constexpr const char* kCaption = "Informacje Tarnix/Tarnix-MAX 2 kw 2016 - poprawka";
  static constexpr int kClientWidth = 423;
  static constexpr int kClientHeight = 132;
  static constexpr const char* kFontName = "Tahoma";
  static constexpr int kFontHeight = 11;  // pixels: 8 points at 96 dpi
  static constexpr TControlGeom kMemoGeom{8, 8, 407, 81, 2};
  static constexpr TControlGeom kButtonGeom{8, 95, 407, 25, 0};
  static constexpr const char* kButtonCaption = "Zapisz plik ROB216.dbf";

  // Builds the window's members and the component with its stored values, through
  // the component's loading path (so its deferred start-up work runs). ui stays owned
  // by the caller and must outlive the form.
  explicit TFormMainShort(UiOps& ui, TComponent* owner = nullptr);
  ~TFormMainShort() override;

  // The memo's four lines, exactly as shown (lines 1 to 3 end with a blank).
  const std::vector<std::string>& cxMemo1() const { return FMemoLines; }
  // The memo's text with CR LF between lines.
  std::string MemoText() const;
  TZipMate& ZipMate() { return *FZipMate; }
  UiOps& Ui() { return FUi; }

  // The button's click: runs the export, shows the result box and asks the front end
  // to terminate. An unexpected error (a missing payload, a staged file that cannot
  // be written) propagates to the caller, whose default handling shows its text.
  void cxButtonEksportujClick();

 private:
  UiOps& FUi;
  std::vector<std::string> FMemoLines;
  TZipMate* FZipMate = nullptr;  // owned through the component tree
};

// The single instance, set while the application runs.
extern TFormMainShort* FormMainShort;
