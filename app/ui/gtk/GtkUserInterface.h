// The component's user-interface hooks drawn with GTK 3: message pumping, the busy
// cursor on the main window, message boxes, its prompt dialog laid out by the
// portable layout code and drawn with real widgets, and text measuring in the
// dialog font.
#pragma once
#include <gtk/gtk.h>

#include <string>

#include "GtkUiModel.h"
#include "PlatUi.h"
#include "WindowUserInterface.h"

class TGtkUserInterface : public TWindowUserInterface<GtkWidget*> {
 public:
  explicit TGtkUserInterface(std::string title);
  ~TGtkUserInterface() override;

  // The window that gets the busy cursor and owns the component's dialogs (null: none).
  void SetMainWindow(GtkWidget* window);
  GtkWidget* MainWidget() const { return FMain; }

  void ProcessMessages() override;
  int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) override;
  int ShowModalDialog(const plat::TDlgForm& form, std::u16string& entered) override;
  bool RightToLeft() override;
  plat::TUiSize TextExtent(const std::u16string& text) override;
  plat::TUiSize WrappedTextExtent(const std::u16string& text, int maxWidth) override;
  plat::TUiSize ScreenSize() override;

 private:
  static void OnMainDestroyed(GtkWidget* widget, gpointer self);
  plat::TUiSize Measure(const std::u16string& text, int maxWidth);
  void ApplyCursor() override;

  PangoContext* FPango = nullptr;
  PangoFontDescription* FFont = nullptr;  // the dialog font
};

// A message box in the platform's terms: flags choose buttons and icon; parent may
// be null (the box then leaves every other window usable, and is not modal). The
// result is the pressed button's identifier, or the closing answer of those flags.
int RunGtkMessageBox(GtkWindow* parent, const std::string& text, const std::string& title, uint32_t flags);
