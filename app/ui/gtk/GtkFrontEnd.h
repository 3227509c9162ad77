// The utility's main window in GTK 3, drawn from TFormMainShort's attributes: a
// fixed dialog frame with a client area of exactly the form's size, the memo and the
// button at their positions, the form's font; the button runs the form's handler.
#pragma once
#include <gtk/gtk.h>

#include "GtkUserInterface.h"
#include "fMainShort.h"

class TGtkMainWindow {
 public:
  // ui gets the busy cursor on this window; both outlive the window.
  TGtkMainWindow(TFormMainShort& form, TGtkUserInterface& ui);
  ~TGtkMainWindow();
  TGtkMainWindow(const TGtkMainWindow&) = delete;
  TGtkMainWindow& operator=(const TGtkMainWindow&) = delete;

  GtkWidget* Window() const { return FWindow; }
  // Shows the window centred on the screen, the button focused.
  void Show();
  // Runs the button's handler as a click does. An error that leaves it is shown in an
  // error box with its text and the window stays. A click while the handler still
  // runs (the component pumps messages during extraction) is ignored.
  void Click();
  bool Busy() const { return FBusy; }

 private:
  static void OnClicked(GtkButton* button, gpointer self);
  static gboolean OnDelete(GtkWidget* widget, GdkEvent* event, gpointer self);
  static void OnRealize(GtkWidget* widget, gpointer self);

  TFormMainShort& FForm;
  TGtkUserInterface& FUi;
  GtkWidget* FWindow = nullptr;
  GtkWidget* FMemo = nullptr;
  GtkWidget* FButton = nullptr;
  GtkCssProvider* FCss = nullptr;
  bool FBusy = false;
};
