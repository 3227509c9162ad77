// The export's user-interface operations on Windows: owner-less message boxes, the
// simple message with the application's title, the shell's folder chooser and the
// end of the message loop.
#pragma once
#include "Win32Base.h"

#include <string>

#include "UiOps.h"

class TWin32UiOps : public UiOps {
 public:
  explicit TWin32UiOps(std::string title) : FTitle(std::move(title)) {}
  void SetMainWindow(HWND w) { FMain = w; }

  TUiAnswer ShowMessageBox(const std::string& text, const std::string& title, TUiIcon icon,
                           TUiButtons buttons) override;
  void ShowSimpleMessage(const std::string& text) override;
  std::string ChooseFolder(const TFolderRequest& request) override;
  void Terminate() override { ::PostQuitMessage(0); }

 private:
  std::string FTitle;
  HWND FMain = nullptr;
};

// Where the folder chooser goes: half the free width and height of the work area
// of the monitor that shows owner, counted from the screen origin.
POINT FolderChooserPosition(HWND owner, SIZE dialog);

// Disables the thread's enabled top-level windows (except keep) while alive.
class TDisabledWindows {
 public:
  explicit TDisabledWindows(HWND keep = nullptr);
  ~TDisabledWindows();
  TDisabledWindows(const TDisabledWindows&) = delete;
  TDisabledWindows& operator=(const TDisabledWindows&) = delete;

 private:
  static BOOL CALLBACK Collect(HWND w, LPARAM self);
  HWND FKeep;
  HWND FList[64];
  int FCount = 0;
};
