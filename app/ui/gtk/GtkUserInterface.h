// The component's user-interface hooks drawn with GTK 3: message pumping, the busy
// cursor on the main window, message boxes, its prompt dialog laid out by the
// portable layout code and drawn with real widgets, and text measuring in the
// dialog font.
#pragma once
#include <gtk/gtk.h>

#include <string>

#include "GtkUiModel.h"
#include "PlatUi.h"

class TGtkUserInterface : public plat::TUserInterface {
 public:
  explicit TGtkUserInterface(std::string title);
  ~TGtkUserInterface() override;
  TGtkUserInterface(const TGtkUserInterface&) = delete;
  TGtkUserInterface& operator=(const TGtkUserInterface&) = delete;

  // The window that gets the busy cursor and owns the component's dialogs (null: none).
  void SetMainWindow(GtkWidget* window);
  GtkWidget* MainWidget() const { return FMain; }

  void ProcessMessages() override;
  int ScreenCursor() override { return FCursor; }
  void SetScreenCursor(int cursor) override;
  int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) override;
  int ShowModalDialog(const plat::TDlgForm& form, std::u16string& entered) override;
  std::string ApplicationTitle() override { return FTitle; }
  intptr_t MainWindow() override { return reinterpret_cast<intptr_t>(FMain); }
  bool RightToLeft() override;
  plat::TUiSize TextExtent(const std::u16string& text) override;
  plat::TUiSize WrappedTextExtent(const std::u16string& text, int maxWidth) override;
  plat::TUiSize ScreenSize() override;

 private:
  static void OnMainDestroyed(GtkWidget* widget, gpointer self);
  plat::TUiSize Measure(const std::u16string& text, int maxWidth);
  void ApplyCursor();

  std::string FTitle;
  GtkWidget* FMain = nullptr;
  int FCursor = plat::crDefault;
  PangoContext* FPango = nullptr;
  PangoFontDescription* FFont = nullptr;  // the dialog font
};

// A message box in the platform's terms: flags choose buttons and icon; parent may
// be null (the box then leaves every other window usable, and is not modal). The
// result is the pressed button's identifier, or the closing answer of those flags.
int RunGtkMessageBox(GtkWindow* parent, const std::string& text, const std::string& title, uint32_t flags);
