// The user-interface hooks the component uses: pending-message processing, the busy
// cursor, message boxes, the drawing of its own prompt dialog from a portable layout,
// the application's title and window, and text measuring. One implementation is
// current for the process; the console one serves until a front end installs its own.
#pragma once
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <vector>

// <windows.h> defines MessageBox and the MB_ names as macros. They are set aside
// here, so this header reads the same whichever comes first; see TUserInterface for
// calls written after <windows.h>.
#pragma push_macro("MessageBox")
#pragma push_macro("MB_OK")
#pragma push_macro("MB_OKCANCEL")
#pragma push_macro("MB_YESNO")
#pragma push_macro("MB_ICONHAND")
#pragma push_macro("MB_ICONQUESTION")
#pragma push_macro("MB_ICONEXCLAMATION")
#pragma push_macro("MB_ICONASTERISK")
#undef MessageBox
#undef MB_OK
#undef MB_OKCANCEL
#undef MB_YESNO
#undef MB_ICONHAND
#undef MB_ICONQUESTION
#undef MB_ICONEXCLAMATION
#undef MB_ICONASTERISK

namespace plat {

struct TUiSize {
  int cx = 0;
  int cy = 0;
  bool operator==(const TUiSize&) const = default;
};

// Screen cursors.
inline constexpr int crDefault = 0;
inline constexpr int crHourGlass = -11;

// Icon and sound of a dialog; the values follow the dialog kinds 0 to 3.
enum TDlgIcon : int { diNone = -1, diExclamation = 0, diError = 1, diInformation = 2, diQuestion = 3 };

enum class TDlgControlKind : uint8_t { Image, Label, Edit, Button };

// One control of a prompt dialog, placed in client coordinates.
struct TDlgControl {
  TDlgControlKind Kind = TDlgControlKind::Label;
  std::string Name;
  std::u16string Caption;  // label text, button caption
  int Left = 0, Top = 0, Width = 0, Height = 0;
  int ModalResult = 0;   // buttons
  bool Default = false;  // buttons: pressed by Enter
  bool Cancel = false;   // buttons: pressed by Escape
  bool TabStop = false;
  int TabOrder = -1;
  bool WordWrap = false;      // labels
  int MaxLength = 0;          // edits: 0 = no limit
  char16_t PasswordChar = 0;  // edits: shown for every typed character
};

// A complete prompt dialog as the portable layout code built it.
struct TDlgForm {
  std::u16string Caption;
  int Left = 0, Top = 0;
  int ClientWidth = 0, ClientHeight = 0;
  bool RightToLeft = false;
  TDlgIcon Icon = diNone;
  bool Beep = false;  // play the icon's sound when shown
  std::vector<TDlgControl> Controls;
  int ActiveControl = -1;  // index into Controls

  // The control of that name, or null.
  const TDlgControl* Find(const std::string& name) const;
};

// Message box flags (a subset, with the platform's values).
inline constexpr uint32_t MB_OK = 0x0;
inline constexpr uint32_t MB_OKCANCEL = 0x1;
inline constexpr uint32_t MB_YESNO = 0x4;
inline constexpr uint32_t MB_ICONHAND = 0x10;
inline constexpr uint32_t MB_ICONQUESTION = 0x20;
inline constexpr uint32_t MB_ICONEXCLAMATION = 0x30;
inline constexpr uint32_t MB_ICONASTERISK = 0x40;

class TUserInterface {
 public:
  virtual ~TUserInterface() = default;
  // Lets the application handle its pending window messages.
  virtual void ProcessMessages() = 0;
  virtual int ScreenCursor() = 0;
  virtual void SetScreenCursor(int cursor) = 0;
  // Text (UTF-8) and caption; returns the pressed button's modal result.
  virtual int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) = 0;
  // Where <windows.h> turns a call of MessageBox into MessageBoxW or MessageBoxA, the
  // call still lands on MessageBox. (Its MB_ macros have the values of the constants.)
  int MessageBoxW(const std::string& text, const std::string& caption, uint32_t flags) {
    return MessageBox(text, caption, flags);
  }
  int MessageBoxA(const std::string& text, const std::string& caption, uint32_t flags) {
    return MessageBox(text, caption, flags);
  }
  // Shows the dialog modally. Returns its modal result (2 when closed); entered
  // receives the entry field's text.
  virtual int ShowModalDialog(const TDlgForm& form, std::u16string& entered) = 0;
  // The application's title (UTF-8) and main window handle (0 when none).
  virtual std::string ApplicationTitle() = 0;
  virtual intptr_t MainWindow() = 0;
  virtual bool RightToLeft() = 0;
  // Measures in the dialog font: a text's single-line extent, and a text wrapped to
  // maxWidth with tabs expanded.
  virtual TUiSize TextExtent(const std::u16string& text) = 0;
  virtual TUiSize WrappedTextExtent(const std::u16string& text, int maxWidth) = 0;
  virtual TUiSize ScreenSize() = 0;
};

// The current implementation (the console one unless another was installed).
TUserInterface& Ui();
// Installs ui as the current implementation (null restores the console one) and
// returns the previous one. The caller keeps ownership.
TUserInterface* SetUi(TUserInterface* ui);

// Terminal implementation: prompts on standard output, answers from standard input.
// An empty answer or the end of input cancels.
class TConsoleUi : public TUserInterface {
 public:
  TConsoleUi();
  void ProcessMessages() override {}
  int ScreenCursor() override { return FCursor; }
  void SetScreenCursor(int cursor) override { FCursor = cursor; }
  int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) override;
  int ShowModalDialog(const TDlgForm& form, std::u16string& entered) override;
  std::string ApplicationTitle() override { return FTitle; }
  void SetApplicationTitle(const std::string& t) { FTitle = t; }
  intptr_t MainWindow() override { return 0; }
  bool RightToLeft() override { return false; }
  // A character cell counts as 8 by 16 pixels; the screen as 80 by 25 cells.
  TUiSize TextExtent(const std::u16string& text) override;
  TUiSize WrappedTextExtent(const std::u16string& text, int maxWidth) override;
  TUiSize ScreenSize() override { return {80 * 8, 25 * 16}; }

  // Streams used for the prompts (standard input and output by default).
  void SetStreams(std::FILE* in, std::FILE* out);

 private:
  bool ReadLine(std::string& line, bool secret);
  int FCursor = crDefault;
  std::string FTitle;
  std::FILE* FIn;
  std::FILE* FOut;
};

// Turns off the echo of typed characters on in when it is a terminal (console) and
// returns what turns it on again; returns an empty function for other input.
std::function<void()> HideConsoleEcho(std::FILE* in);

// Scripted implementation for tests: records what was shown and answers from a queue.
class TScriptedUi : public TUserInterface {
 public:
  struct TAnswer {
    int ModalResult;
    std::u16string Entered;
  };
  // Answers for the next dialogs or message boxes, in order; with none queued a
  // dialog is closed (result 2) and a message box gives 1.
  std::deque<TAnswer> Answers;
  std::vector<TDlgForm> Dialogs;
  struct TBox {
    std::string Text, Caption;
    uint32_t Flags;
  };
  std::vector<TBox> Boxes;
  int ProcessCount = 0;
  std::vector<int> CursorHistory;  // every cursor set, in order
  std::string Title = "ScriptedApp";
  intptr_t Window = 0;
  bool RTL = false;
  TUiSize CharCell{7, 15};  // the average character's size
  TUiSize Screen{1280, 1024};

  void ProcessMessages() override { ++ProcessCount; }
  int ScreenCursor() override { return FCursor; }
  void SetScreenCursor(int cursor) override;
  int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) override;
  int ShowModalDialog(const TDlgForm& form, std::u16string& entered) override;
  std::string ApplicationTitle() override { return Title; }
  intptr_t MainWindow() override { return Window; }
  bool RightToLeft() override { return RTL; }
  // Every character is CharCell wide; wrapping breaks at blanks or mid-word.
  TUiSize TextExtent(const std::u16string& text) override;
  TUiSize WrappedTextExtent(const std::u16string& text, int maxWidth) override;
  TUiSize ScreenSize() override { return Screen; }

 private:
  int FCursor = crDefault;
};

// Lays text out in fixed-size character cells: lines split at line breaks, tabs
// expanded to 8 columns, wrapping at blanks (or inside a word longer than a line)
// when maxCols is above 0. Shared by the console and scripted measures.
std::vector<std::u16string> WrapTextCells(const std::u16string& text, int maxCols);

}  // namespace plat

#pragma pop_macro("MB_ICONASTERISK")
#pragma pop_macro("MB_ICONEXCLAMATION")
#pragma pop_macro("MB_ICONQUESTION")
#pragma pop_macro("MB_ICONHAND")
#pragma pop_macro("MB_YESNO")
#pragma pop_macro("MB_OKCANCEL")
#pragma pop_macro("MB_OK")
#pragma pop_macro("MessageBox")
