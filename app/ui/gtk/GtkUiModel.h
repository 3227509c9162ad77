// Decisions of the GTK front end that need no toolkit: text conversions, mnemonic
// captions, the buttons and icon of a message box from its flags, the tab sequence
// and the Escape answer of a prompt dialog, and the style sheet of the main window.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "PlatUi.h"

namespace gtkui {

// UTF-16 to UTF-8 and back (unpaired surrogates and invalid bytes become U+FFFD).
std::string Utf8Of(const std::u16string& text);
std::u16string Utf16Of(const std::string& text);

// A caption with '&' marking the access key ("&&" is a literal '&') as a GTK
// mnemonic label: '&' becomes '_', a literal '_' is doubled.
std::string MnemonicOf(const std::u16string& caption);

// The look of a message box from the platform's flag bits.
enum class TBoxIcon { None, Error, Question, Warning, Information };
struct TBoxButton {
  const char* Label;  // mnemonic label, translated through GTK's own catalogue
  int Result;         // the platform's button identifier (1 OK, 2 Cancel, 6 Yes ...)
};
TBoxIcon BoxIconOf(uint32_t flags);
// The buttons, left to right; the first is the default one.
std::vector<TBoxButton> BoxButtonsOf(uint32_t flags);
// The answer when the box is closed without a button (window close or Escape).
int BoxCloseResultOf(uint32_t flags);

// Indices into form.Controls of the controls that take focus with Tab, in tab
// order (ties keep the order of the list).
std::vector<int> TabSequenceOf(const plat::TDlgForm& form);
// The control that Tab (forward) or Shift+Tab moves to from control current (an
// index into form.Controls; -1 or a control outside the sequence starts at an end).
// -1 when nothing takes focus.
int NextTabStop(const plat::TDlgForm& form, int current, bool forward);
// The control that gets focus when the dialog opens: the active control when it
// can take focus, else the first of the tab sequence; -1 for none.
int InitialFocusOf(const plat::TDlgForm& form);
// The modal result of Escape: the cancel button's, or 0 when no button cancels.
int EscapeResultOf(const plat::TDlgForm& form);

// The folder a path typed into the chooser names: "~" and "~/..." start at home, a
// relative path at the folder the chooser shows (current); blanks around it are
// dropped and the rest is kept as typed. Empty when nothing usable was typed (an
// empty text, or a relative path with no folder to start from).
std::string TypedFolderPath(const std::string& typed, const std::string& current, const std::string& home);

// Style sheet for a window named windowName: its font (family with fallbacks, size
// in pixels) and button-face background, flat compact buttons, and the memo named
// memoName drawn in the normal text colours even when insensitive.
std::string MainWindowCss(const std::string& windowName, const std::string& memoName,
                          const std::string& fontFamily, int fontPx);
// A CSS font-family list: the family first (quoted), then the fallbacks.
std::string FontFamilyList(const std::string& family);

}  // namespace gtkui
