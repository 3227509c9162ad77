#include "GtkUserInterface.h"

#include <algorithm>

namespace {

const char* IconNameOf(gtkui::TBoxIcon icon) {
  switch (icon) {
    case gtkui::TBoxIcon::Error: return "dialog-error";
    case gtkui::TBoxIcon::Question: return "dialog-question";
    case gtkui::TBoxIcon::Warning: return "dialog-warning";
    case gtkui::TBoxIcon::Information: return "dialog-information";
    default: return nullptr;
  }
}

const char* IconNameOf(plat::TDlgIcon icon) {
  switch (icon) {
    case plat::diExclamation: return "dialog-warning";
    case plat::diError: return "dialog-error";
    case plat::diInformation: return "dialog-information";
    case plat::diQuestion: return "dialog-question";
    default: return nullptr;
  }
}

// Runs a nested loop until the window answers; the answer lands in Result.
struct TModalRun {
  GMainLoop* Loop = nullptr;
  int Result = 0;
  bool Done = false;

  void Finish(int result) {
    if (Done) return;
    Done = true;
    Result = result;
    if (Loop && g_main_loop_is_running(Loop)) g_main_loop_quit(Loop);
  }
  void Run() {
    if (Done) return;
    Loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(Loop);
    g_main_loop_unref(Loop);
    Loop = nullptr;
  }
};

// ---- message box ----

struct TBoxState {
  TModalRun Run;
  uint32_t Flags = 0;
};

void OnBoxResponse(GtkDialog*, gint response, gpointer data) {
  auto* s = static_cast<TBoxState*>(data);
  s->Run.Finish(response > 0 ? response : gtkui::BoxCloseResultOf(s->Flags));
}

void OnBoxDestroyed(GtkWidget*, gpointer data) {
  auto* s = static_cast<TBoxState*>(data);
  s->Run.Finish(gtkui::BoxCloseResultOf(s->Flags));
}

// ---- prompt dialog ----

struct TDlgState {
  TModalRun Run;
  const plat::TDlgForm* Form = nullptr;
  std::vector<GtkWidget*> Widgets;  // parallel to Form->Controls (null for labels/images)
  GtkWidget* Edit = nullptr;
  PangoFontDescription* Font = nullptr;
};

struct TDlgLabel {
  std::string Text;
  bool RightToLeft = false;
  PangoFontDescription* Font = nullptr;
};

// The message is drawn by hand, wrapped at the width it was measured for, so that
// it shows exactly the lines the layout was computed with.
gboolean OnLabelDraw(GtkWidget* widget, cairo_t* cr, gpointer data) {
  auto* l = static_cast<TDlgLabel*>(data);
  PangoLayout* layout = gtk_widget_create_pango_layout(widget, nullptr);
  pango_layout_set_font_description(layout, l->Font);
  pango_layout_set_width(layout, gtk_widget_get_allocated_width(widget) * PANGO_SCALE);
  pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
  pango_layout_set_alignment(layout, l->RightToLeft ? PANGO_ALIGN_RIGHT : PANGO_ALIGN_LEFT);
  pango_layout_set_text(layout, l->Text.c_str(), -1);
  GtkStyleContext* sc = gtk_widget_get_style_context(widget);
  GdkRGBA color;
  gtk_style_context_get_color(sc, gtk_style_context_get_state(sc), &color);
  gdk_cairo_set_source_rgba(cr, &color);
  cairo_move_to(cr, 0, 0);
  pango_cairo_show_layout(cr, layout);
  g_object_unref(layout);
  return FALSE;
}

void FreeLabel(gpointer data, GClosure*) { delete static_cast<TDlgLabel*>(data); }

void OnDlgButton(GtkButton* button, gpointer data) {
  auto* s = static_cast<TDlgState*>(data);
  s->Run.Finish(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "zm-modal-result")));
}

gboolean OnDlgDelete(GtkWidget*, GdkEvent*, gpointer data) {
  static_cast<TDlgState*>(data)->Run.Finish(2);
  return TRUE;  // the window is destroyed by its owner after the loop
}

gboolean OnDlgKey(GtkWidget* window, GdkEventKey* event, gpointer data) {
  auto* s = static_cast<TDlgState*>(data);
  const plat::TDlgForm& form = *s->Form;
  if (event->keyval == GDK_KEY_Escape) {
    int r = gtkui::EscapeResultOf(form);
    if (r != 0) s->Run.Finish(r);
    return TRUE;
  }
  if (event->keyval == GDK_KEY_Tab || event->keyval == GDK_KEY_ISO_Left_Tab ||
      event->keyval == GDK_KEY_KP_Tab) {
    bool forward = event->keyval != GDK_KEY_ISO_Left_Tab && !(event->state & GDK_SHIFT_MASK);
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window));
    int current = -1;
    for (size_t i = 0; i < s->Widgets.size(); ++i)
      if (s->Widgets[i] && s->Widgets[i] == focus) current = int(i);
    int next = gtkui::NextTabStop(form, current, forward);
    if (next >= 0 && s->Widgets[size_t(next)]) gtk_widget_grab_focus(s->Widgets[size_t(next)]);
    return TRUE;
  }
  return FALSE;
}

const char* kDialogCss =
    ".zm-dlg button { min-height: 0; min-width: 0; padding: 0 4px; }\n"
    ".zm-dlg entry { min-height: 0; padding: 0 2px; }\n";

void InstallDialogCss() {
  static bool done = false;
  if (done) return;
  GdkScreen* screen = gdk_screen_get_default();
  if (!screen) return;
  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css, kDialogCss, -1, nullptr);
  gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);
  done = true;
}

}  // namespace

int RunGtkMessageBox(GtkWindow* parent, const std::string& text, const std::string& title, uint32_t flags) {
  GtkWidget* dlg = gtk_dialog_new();
  gtk_window_set_title(GTK_WINDOW(dlg), title.c_str());
  gtk_window_set_resizable(GTK_WINDOW(dlg), FALSE);
  gtk_window_set_type_hint(GTK_WINDOW(dlg), GDK_WINDOW_TYPE_HINT_DIALOG);
  if (parent) {
    gtk_window_set_transient_for(GTK_WINDOW(dlg), parent);
    gtk_window_set_modal(GTK_WINDOW(dlg), TRUE);
    gtk_window_set_position(GTK_WINDOW(dlg), GTK_WIN_POS_CENTER_ON_PARENT);
  } else {
    gtk_window_set_position(GTK_WINDOW(dlg), GTK_WIN_POS_CENTER);
  }
  GtkWidget* area = gtk_dialog_get_content_area(GTK_DIALOG(dlg));
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  gtk_container_set_border_width(GTK_CONTAINER(row), 12);
  if (const char* icon = IconNameOf(gtkui::BoxIconOf(flags))) {
    GtkWidget* image = gtk_image_new_from_icon_name(icon, GTK_ICON_SIZE_DIALOG);
    gtk_widget_set_valign(image, GTK_ALIGN_START);
    gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
  }
  // Line ends of the platform's texts (CR LF) become plain line feeds.
  std::string shown;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      shown += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      shown += text[i];
    }
  }
  GtkWidget* label = gtk_label_new(shown.c_str());
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_label_set_selectable(GTK_LABEL(label), FALSE);
  gtk_box_pack_start(GTK_BOX(row), label, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(area), row, TRUE, TRUE, 0);

  std::vector<gtkui::TBoxButton> buttons = gtkui::BoxButtonsOf(flags);
  for (const auto& b : buttons)
    gtk_dialog_add_button(GTK_DIALOG(dlg), g_dgettext("gtk30", b.Label), b.Result);
  gtk_dialog_set_default_response(GTK_DIALOG(dlg), buttons.front().Result);

  TBoxState state;
  state.Flags = flags;
  g_signal_connect(dlg, "response", G_CALLBACK(OnBoxResponse), &state);
  gulong destroyed = g_signal_connect(dlg, "destroy", G_CALLBACK(OnBoxDestroyed), &state);
  gtk_widget_show_all(dlg);
  if (GtkWidget* def = gtk_dialog_get_widget_for_response(GTK_DIALOG(dlg), buttons.front().Result))
    gtk_widget_grab_focus(def);
  state.Run.Run();
  if (!state.Run.Done) state.Run.Finish(gtkui::BoxCloseResultOf(flags));
  g_signal_handler_disconnect(dlg, destroyed);
  gtk_widget_destroy(dlg);
  return state.Run.Result;
}

TGtkUserInterface::TGtkUserInterface(std::string title) : TWindowUserInterface(std::move(title)) {
  FPango = gdk_pango_context_get();
  gchar* name = nullptr;
  if (GtkSettings* settings = gtk_settings_get_default())
    g_object_get(settings, "gtk-font-name", &name, nullptr);
  FFont = pango_font_description_from_string(name && *name ? name : "Sans 10");
  g_free(name);
  InstallDialogCss();
}

TGtkUserInterface::~TGtkUserInterface() {
  SetMainWindow(nullptr);
  if (FFont) pango_font_description_free(FFont);
  if (FPango) g_object_unref(FPango);
}

void TGtkUserInterface::OnMainDestroyed(GtkWidget*, gpointer self) {
  static_cast<TGtkUserInterface*>(self)->FMain = nullptr;
}

void TGtkUserInterface::SetMainWindow(GtkWidget* window) {
  if (FMain) g_signal_handlers_disconnect_by_data(FMain, this);
  FMain = window;
  if (FMain) g_signal_connect(FMain, "destroy", G_CALLBACK(OnMainDestroyed), this);
  ApplyCursor();
}

void TGtkUserInterface::ProcessMessages() {
  // Bounded, so that a source that is always ready cannot keep the caller here.
  for (int i = 0; i < 1000 && gtk_events_pending(); ++i) gtk_main_iteration_do(FALSE);
}

void TGtkUserInterface::ApplyCursor() {
  if (!FMain) return;
  GdkWindow* w = gtk_widget_get_window(FMain);
  if (!w) return;
  GdkDisplay* display = gdk_window_get_display(w);
  GdkCursor* c = FCursor == plat::crHourGlass ? gdk_cursor_new_from_name(display, "wait") : nullptr;
  if (FCursor == plat::crHourGlass && !c) c = gdk_cursor_new_for_display(display, GDK_WATCH);
  gdk_window_set_cursor(w, c);
  if (c) g_object_unref(c);
  gdk_display_flush(display);
}

int TGtkUserInterface::MessageBox(const std::string& text, const std::string& caption, uint32_t flags) {
  return RunGtkMessageBox(FMain ? GTK_WINDOW(FMain) : nullptr, text, caption, flags);
}

bool TGtkUserInterface::RightToLeft() { return gtk_widget_get_default_direction() == GTK_TEXT_DIR_RTL; }

plat::TUiSize TGtkUserInterface::Measure(const std::u16string& text, int maxWidth) {
  PangoLayout* layout = pango_layout_new(FPango);
  pango_layout_set_font_description(layout, FFont);
  if (maxWidth > 0) {
    pango_layout_set_width(layout, maxWidth * PANGO_SCALE);
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
  }
  std::string utf8 = gtkui::Utf8Of(text);
  pango_layout_set_text(layout, utf8.c_str(), int(utf8.size()));
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  g_object_unref(layout);
  return {w, h};
}

plat::TUiSize TGtkUserInterface::TextExtent(const std::u16string& text) { return Measure(text, 0); }

plat::TUiSize TGtkUserInterface::WrappedTextExtent(const std::u16string& text, int maxWidth) {
  return Measure(text, std::max(1, maxWidth));
}

plat::TUiSize TGtkUserInterface::ScreenSize() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return {};
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (!monitor && gdk_display_get_n_monitors(display) > 0) monitor = gdk_display_get_monitor(display, 0);
  if (!monitor) return {};
  GdkRectangle r;
  gdk_monitor_get_geometry(monitor, &r);
  return {r.width, r.height};
}

int TGtkUserInterface::ShowModalDialog(const plat::TDlgForm& form, std::u16string& entered) {
  entered.clear();
  TDlgState state;
  state.Form = &form;
  state.Font = FFont;
  state.Widgets.assign(form.Controls.size(), nullptr);

  GtkWidget* win = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_style_context_add_class(gtk_widget_get_style_context(win), "zm-dlg");
  gtk_window_set_title(GTK_WINDOW(win), gtkui::Utf8Of(form.Caption).c_str());
  gtk_window_set_type_hint(GTK_WINDOW(win), GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_resizable(GTK_WINDOW(win), FALSE);
  gtk_window_set_modal(GTK_WINDOW(win), TRUE);
  if (FMain) gtk_window_set_transient_for(GTK_WINDOW(win), GTK_WINDOW(FMain));
  gtk_window_move(GTK_WINDOW(win), std::max(0, form.Left), std::max(0, form.Top));
  GtkWidget* fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, std::max(1, form.ClientWidth), std::max(1, form.ClientHeight));
  gtk_container_add(GTK_CONTAINER(win), fixed);
  const GtkTextDirection dir = form.RightToLeft ? GTK_TEXT_DIR_RTL : GTK_TEXT_DIR_LTR;
  gtk_widget_set_direction(fixed, dir);

  GtkWidget* defaultButton = nullptr;
  for (size_t i = 0; i < form.Controls.size(); ++i) {
    const plat::TDlgControl& c = form.Controls[i];
    GtkWidget* w = nullptr;
    switch (c.Kind) {
      case plat::TDlgControlKind::Image: {
        const char* icon = IconNameOf(form.Icon);
        if (!icon) break;
        w = gtk_image_new_from_icon_name(icon, GTK_ICON_SIZE_DIALOG);
        gtk_image_set_pixel_size(GTK_IMAGE(w), std::min(c.Width, c.Height));
        break;
      }
      case plat::TDlgControlKind::Label: {
        w = gtk_drawing_area_new();
        auto* l = new TDlgLabel{gtkui::Utf8Of(c.Caption), form.RightToLeft, FFont};
        g_signal_connect_data(w, "draw", G_CALLBACK(OnLabelDraw), l, FreeLabel, GConnectFlags(0));
        break;
      }
      case plat::TDlgControlKind::Edit: {
        w = gtk_entry_new();
        if (c.PasswordChar) {
          gtk_entry_set_visibility(GTK_ENTRY(w), FALSE);
          gtk_entry_set_invisible_char(GTK_ENTRY(w), gunichar(c.PasswordChar));
        }
        if (c.MaxLength > 0) gtk_entry_set_max_length(GTK_ENTRY(w), c.MaxLength);
        gtk_entry_set_activates_default(GTK_ENTRY(w), TRUE);
        gtk_widget_set_direction(w, dir);
        state.Edit = w;
        state.Widgets[i] = w;
        break;
      }
      case plat::TDlgControlKind::Button: {
        w = gtk_button_new_with_mnemonic(gtkui::MnemonicOf(c.Caption).c_str());
        g_object_set_data(G_OBJECT(w), "zm-modal-result", GINT_TO_POINTER(c.ModalResult));
        g_signal_connect(w, "clicked", G_CALLBACK(OnDlgButton), &state);
        if (c.Default) {
          gtk_widget_set_can_default(w, TRUE);
          defaultButton = w;
        }
        state.Widgets[i] = w;
        break;
      }
    }
    if (!w) continue;
    gtk_widget_set_name(w, c.Name.c_str());
    gtk_widget_set_size_request(w, std::max(1, c.Width), std::max(1, c.Height));
    gtk_fixed_put(GTK_FIXED(fixed), w, c.Left, c.Top);
  }
  // Controls outside the tab sequence are not reached with Tab (a label never is).
  for (size_t i = 0; i < form.Controls.size(); ++i)
    if (state.Widgets[i] && !form.Controls[i].TabStop) gtk_widget_set_can_focus(state.Widgets[i], FALSE);

  g_signal_connect(win, "delete-event", G_CALLBACK(OnDlgDelete), &state);
  g_signal_connect(win, "key-press-event", G_CALLBACK(OnDlgKey), &state);
  gtk_widget_show_all(win);
  if (defaultButton) gtk_window_set_default(GTK_WINDOW(win), defaultButton);
  int first = gtkui::InitialFocusOf(form);
  if (first >= 0 && state.Widgets[size_t(first)]) gtk_widget_grab_focus(state.Widgets[size_t(first)]);
  if (form.Beep) gdk_display_beep(gtk_widget_get_display(win));

  state.Run.Run();
  if (state.Edit) entered = gtkui::Utf16Of(gtk_entry_get_text(GTK_ENTRY(state.Edit)));
  gtk_widget_destroy(win);
  return state.Run.Result;
}
