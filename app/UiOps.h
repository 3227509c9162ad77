// The four user-interface operations the export needs. Every call is modal and
// returns only when the user has answered; the logic calls nothing else of the
// windowing system. Texts are UTF-8.
#pragma once
#include <string>

enum class TUiIcon { Information, Question };
enum class TUiButtons { Ok, YesNo };
enum class TUiAnswer { Ok, Yes, No };

// How the folder chooser is asked for: the instruction shown above the folder tree
// and the options of the request (all set for the utility's one request).
struct TFolderRequest {
  std::string Instruction;
  bool FileSystemOnly = true;   // only file-system folders may be chosen
  bool NewStyle = true;         // resizable dialog
  bool EditBox = true;          // a typed folder name is accepted
  bool NewFolderButton = true;  // folders may be created from the dialog
  bool NoValidate = true;       // typed names are not checked by the dialog
};

class UiOps {
 public:
  virtual ~UiOps() = default;
  // A message box without an owner window; the button the user pressed.
  virtual TUiAnswer ShowMessageBox(const std::string& text, const std::string& title, TUiIcon icon,
                                   TUiButtons buttons) = 0;
  // A box with the application's title and an OK button.
  virtual void ShowSimpleMessage(const std::string& text) = 0;
  // The chosen folder's path, or an empty string when the user cancelled.
  virtual std::string ChooseFolder(const TFolderRequest& request) = 0;
  // Ends the message loop once the current handler has returned.
  virtual void Terminate() = 0;
};
