// The component's user-interface hooks on Windows: the message pump, the hourglass
// cursor, message boxes and the prompt dialog drawn with real controls from the
// portable layout.
#pragma once
#include "Win32Base.h"

#include "PlatUi.h"
#include "WindowUserInterface.h"

class TWin32UserInterface : public TWindowUserInterface<HWND> {
 public:
  explicit TWin32UserInterface(std::string title);
  ~TWin32UserInterface() override;

  void SetMainWindow(HWND w) { FMain = w; }
  // Whether WM_QUIT was met while pending messages were processed.
  bool QuitSeen() const { return FQuitSeen; }

  void ProcessMessages() override;
  int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) override;
  int ShowModalDialog(const plat::TDlgForm& form, std::u16string& entered) override;
  bool RightToLeft() override { return false; }
  plat::TUiSize TextExtent(const std::u16string& text) override;
  plat::TUiSize WrappedTextExtent(const std::u16string& text, int maxWidth) override;
  plat::TUiSize ScreenSize() override;

  // The cursor that a window under the mouse shows: the hourglass while busy.
  HCURSOR CurrentCursor() const;
  // The dialog font: the system's message font.
  HFONT DialogFont() const { return FDialogFont; }

 private:
  // The cursor of the window under the mouse, shown at once.
  void ApplyCursor() override;
  plat::TUiSize Measure(const std::u16string& text, UINT flags, int maxWidth);
  bool FQuitSeen = false;
  HFONT FDialogFont = nullptr;
};

// Pumps one message to its window, with dialog keys for dialog-like windows.
void DispatchWithDialogKeys(MSG& msg);
