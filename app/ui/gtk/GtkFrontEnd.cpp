#include "GtkFrontEnd.h"

#include <exception>
#include <string>

#include "FrontEnd.h"
#include "GtkUiOps.h"

namespace {

const char* const kWindowName = "FormMainShort";
const char* const kMemoName = "cxMemo1";
const char* const kButtonName = "cxButtonEksportuj";

}  // namespace

TGtkMainWindow::TGtkMainWindow(TFormMainShort& form, TGtkUserInterface& ui) : FForm(form), FUi(ui) {
  FWindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  g_object_ref_sink(FWindow);
  gtk_widget_set_name(FWindow, kWindowName);
  gtk_window_set_title(GTK_WINDOW(FWindow), TFormMainShort::kCaption);
  gtk_window_set_resizable(GTK_WINDOW(FWindow), FALSE);
  gtk_window_set_type_hint(GTK_WINDOW(FWindow), GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_position(GTK_WINDOW(FWindow), GTK_WIN_POS_CENTER);

  std::string css =
      gtkui::MainWindowCss(kWindowName, kMemoName, TFormMainShort::kFontName, TFormMainShort::kFontHeight);
  FCss = gtk_css_provider_new();
  gtk_css_provider_load_from_data(FCss, css.c_str(), -1, nullptr);
  gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(FWindow), GTK_STYLE_PROVIDER(FCss),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

  GtkWidget* fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, TFormMainShort::kClientWidth, TFormMainShort::kClientHeight);
  gtk_container_add(GTK_CONTAINER(FWindow), fixed);

  // The memo: a framed text view, insensitive and never focused, wrapping words.
  constexpr TControlGeom m = TFormMainShort::kMemoGeom;
  GtkWidget* frame = gtk_frame_new(nullptr);
  gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_IN);
  gtk_widget_set_size_request(frame, m.Width, m.Height);
  FMemo = gtk_text_view_new();
  gtk_widget_set_name(FMemo, kMemoName);
  gtk_text_view_set_editable(GTK_TEXT_VIEW(FMemo), FALSE);
  gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(FMemo), FALSE);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(FMemo), GTK_WRAP_WORD_CHAR);
  gtk_text_view_set_left_margin(GTK_TEXT_VIEW(FMemo), 2);
  gtk_text_view_set_right_margin(GTK_TEXT_VIEW(FMemo), 2);
  gtk_text_view_set_top_margin(GTK_TEXT_VIEW(FMemo), 1);
  std::string text;
  const std::vector<std::string>& lines = FForm.cxMemo1();
  for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\n" : "") + lines[i];
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(FMemo)), text.c_str(), -1);
  gtk_widget_set_can_focus(FMemo, FALSE);
  gtk_widget_set_sensitive(FMemo, FALSE);
  gtk_container_add(GTK_CONTAINER(frame), FMemo);
  gtk_fixed_put(GTK_FIXED(fixed), frame, m.Left, m.Top);

  constexpr TControlGeom b = TFormMainShort::kButtonGeom;
  FButton = gtk_button_new_with_label(TFormMainShort::kButtonCaption);
  gtk_widget_set_name(FButton, kButtonName);
  gtk_widget_set_size_request(FButton, b.Width, b.Height);
  gtk_fixed_put(GTK_FIXED(fixed), FButton, b.Left, b.Top);
  // The button is the only control that takes focus (tab order 0; the memo never does).
  static_assert(TFormMainShort::kButtonGeom.TabOrder < TFormMainShort::kMemoGeom.TabOrder);

  g_signal_connect(FButton, "clicked", G_CALLBACK(OnClicked), this);
  g_signal_connect(FWindow, "delete-event", G_CALLBACK(OnDelete), this);
  g_signal_connect(FWindow, "realize", G_CALLBACK(OnRealize), this);
}

TGtkMainWindow::~TGtkMainWindow() {
  g_signal_handlers_disconnect_by_data(FWindow, this);
  g_signal_handlers_disconnect_by_data(FButton, this);
  gtk_style_context_remove_provider_for_screen(gtk_widget_get_screen(FWindow), GTK_STYLE_PROVIDER(FCss));
  g_object_unref(FCss);
  gtk_widget_destroy(FWindow);
  g_object_unref(FWindow);
}

void TGtkMainWindow::OnRealize(GtkWidget* widget, gpointer) {
  // A dialog frame: title and close box, neither minimise nor maximise nor resizing.
  GdkWindow* w = gtk_widget_get_window(widget);
  gdk_window_set_decorations(w, GdkWMDecoration(GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU));
  gdk_window_set_functions(w, GdkWMFunction(GDK_FUNC_MOVE | GDK_FUNC_CLOSE));
}

void TGtkMainWindow::Show() {
  gtk_widget_show_all(FWindow);
  gtk_widget_grab_focus(FButton);
}

void TGtkMainWindow::OnClicked(GtkButton*, gpointer self) { static_cast<TGtkMainWindow*>(self)->Click(); }

gboolean TGtkMainWindow::OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
  // Closing while the export runs would pull the window from under it: refused.
  if (!static_cast<TGtkMainWindow*>(self)->FBusy && gtk_main_level() > 0) gtk_main_quit();
  return TRUE;  // the window is destroyed with this object
}

void TGtkMainWindow::Click() {
  if (FBusy) return;
  FBusy = true;
  std::string error;
  try {
    FForm.cxButtonEksportujClick();
  } catch (const std::exception& e) {
    error = e.what();
    if (error.empty()) error = "Nieznany błąd.";
  } catch (...) {
    error = "Nieznany błąd.";
  }
  FBusy = false;
  if (!error.empty()) {
    FUi.SetScreenCursor(plat::crDefault);
    RunGtkMessageBox(GTK_WINDOW(FWindow), error, FUi.ApplicationTitle(), plat::MB_OK | plat::MB_ICONHAND);
  }
}

int RunGtkFrontEnd(int argc, char** argv) {
  if (!gtk_init_check(&argc, &argv)) return -1;
  TGtkUiOps ops(TFormMainShort::kCaption);
  TGtkUserInterface ui(TFormMainShort::kCaption);
  plat::TUserInterface* previous = plat::SetUi(&ui);
  {
    TFormMainShort form(ops);
    TGtkMainWindow window(form, ui);
    ops.SetMainWindow(window.Window());
    ui.SetMainWindow(window.Window());
    window.Show();
    if (!ops.Terminated()) gtk_main();
    ui.SetMainWindow(nullptr);
    ops.SetMainWindow(nullptr);
  }
  plat::SetUi(previous);
  return 0;
}
