// The component's user-interface hooks on Windows: the message pump, the hourglass
// cursor, message boxes and the prompt dialog drawn with real controls from the
// portable layout.
#pragma once
#include "Win32Base.h"

#include "PlatUi.h"

class TWin32UserInterface : public plat::TUserInterface {
 public:
  explicit TWin32UserInterface(std::string title);
  ~TWin32UserInterface() override;
  TWin32UserInterface(const TWin32UserInterface&) = delete;
  TWin32UserInterface& operator=(const TWin32UserInterface&) = delete;

  void SetMainWindow(HWND w) { FMain = w; }
  // Whether WM_QUIT was met while pending messages were processed.
  bool QuitSeen() const { return FQuitSeen; }

  void ProcessMessages() override;
  int ScreenCursor() override { return FCursor; }
  void SetScreenCursor(int cursor) override;
  int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) override;
  int ShowModalDialog(const plat::TDlgForm& form, std::u16string& entered) override;
  std::string ApplicationTitle() override { return FTitle; }
  intptr_t MainWindow() override { return reinterpret_cast<intptr_t>(FMain); }
  bool RightToLeft() override { return false; }
  plat::TUiSize TextExtent(const std::u16string& text) override;
  plat::TUiSize WrappedTextExtent(const std::u16string& text, int maxWidth) override;
  plat::TUiSize ScreenSize() override;

  // The cursor that a window under the mouse shows: the hourglass while busy.
  HCURSOR CurrentCursor() const;
  // The dialog font: the system's message font.
  HFONT DialogFont() const { return FDialogFont; }

 private:
  plat::TUiSize Measure(const std::u16string& text, UINT flags, int maxWidth);
  std::string FTitle;
  HWND FMain = nullptr;
  int FCursor = plat::crDefault;
  bool FQuitSeen = false;
  HFONT FDialogFont = nullptr;
};

// Pumps one message to its window, with dialog keys for dialog-like windows.
void DispatchWithDialogKeys(MSG& msg);
