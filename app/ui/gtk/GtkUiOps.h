// The export's four user-interface operations with GTK 3 dialogs.
#pragma once
#include <gtk/gtk.h>

#include <string>

#include "UiOps.h"

class TGtkUiOps : public UiOps {
 public:
  explicit TGtkUiOps(std::string title) : FTitle(std::move(title)) {}

  // The window that owns the folder chooser and the simple message (null: none).
  void SetMainWindow(GtkWidget* window) { FMain = window; }

  // A box without an owner: the main window stays usable while it is shown.
  TUiAnswer ShowMessageBox(const std::string& text, const std::string& title, TUiIcon icon,
                           TUiButtons buttons) override;
  // A box with the application's title, modal to the application.
  void ShowSimpleMessage(const std::string& text) override;
  // A select-folder dialog that can make folders and takes a typed path (Ctrl+L);
  // a typed folder that does not exist yet is returned as typed.
  std::string ChooseFolder(const TFolderRequest& request) override;
  // Ends the main loop once the running handler has returned.
  void Terminate() override;

  bool Terminated() const { return FTerminated; }

 private:
  std::string FTitle;
  GtkWidget* FMain = nullptr;
  bool FTerminated = false;
};
