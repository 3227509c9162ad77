#include "GtkUiOps.h"

#include <cstring>

#include "GtkUserInterface.h"

namespace {

// The chooser's answer for a typed folder: an id of our own, since the chooser vetoes
// its accept answers for folders that do not exist.
constexpr int kTypedFolderResponse = 1;

struct TChooserState {
  GtkWidget* Dialog = nullptr;
  std::string Typed;  // a path accepted from the location entry
  bool Accepted = false;
};

bool IsLocationEntry(GtkWidget* w) {
  return w && GTK_IS_ENTRY(w) && std::strcmp(G_OBJECT_TYPE_NAME(w), "GtkFileChooserEntry") == 0;
}

// Takes the folder typed into the location entry, even one that does not exist yet
// (the export creates it; the chooser itself would refuse it). False when the text
// is left to the chooser: nothing usable, or an existing file that is no folder.
bool AcceptTyped(TChooserState& s, GtkWidget* entry) {
  if (s.Accepted) return true;
  std::string current;
  if (char* folder = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(s.Dialog))) {
    current = folder;
    g_free(folder);
  }
  const char* home = g_get_home_dir();
  std::string path = gtkui::TypedFolderPath(gtk_entry_get_text(GTK_ENTRY(entry)), current, home ? home : "");
  if (path.empty()) return false;
  if (g_file_test(path.c_str(), G_FILE_TEST_EXISTS) && !g_file_test(path.c_str(), G_FILE_TEST_IS_DIR))
    return false;
  s.Typed = path;
  s.Accepted = true;
  gtk_dialog_response(GTK_DIALOG(s.Dialog), kTypedFolderResponse);
  return true;
}

// Enter while the location entry has focus.
gboolean OnChooserKey(GtkWidget* dlg, GdkEventKey* event, gpointer data) {
  if (event->keyval != GDK_KEY_Return && event->keyval != GDK_KEY_KP_Enter &&
      event->keyval != GDK_KEY_ISO_Enter)
    return FALSE;
  GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(dlg));
  return IsLocationEntry(focus) && AcceptTyped(*static_cast<TChooserState*>(data), focus);
}

// Enter that reached the entry past its completion popup.
void OnEntryActivate(GtkEntry* entry, gpointer data) {
  AcceptTyped(*static_cast<TChooserState*>(data), GTK_WIDGET(entry));
}

// The location entry is made when it is first shown: hook it when it takes focus.
void OnChooserFocus(GtkWindow*, GtkWidget* focus, gpointer data) {
  if (!IsLocationEntry(focus) || g_object_get_data(G_OBJECT(focus), "zm-typed-folder")) return;
  g_object_set_data(G_OBJECT(focus), "zm-typed-folder", data);
  g_signal_connect(focus, "activate", G_CALLBACK(OnEntryActivate), data);
}

uint32_t FlagsOf(TUiIcon icon, TUiButtons buttons) {
  return (icon == TUiIcon::Question ? plat::MB_ICONQUESTION : plat::MB_ICONASTERISK) |
         (buttons == TUiButtons::YesNo ? plat::MB_YESNO : plat::MB_OK);
}

}  // namespace

TUiAnswer TGtkUiOps::ShowMessageBox(const std::string& text, const std::string& title, TUiIcon icon,
                                    TUiButtons buttons) {
  int r = RunGtkMessageBox(nullptr, text, title, FlagsOf(icon, buttons));
  if (buttons == TUiButtons::Ok) return TUiAnswer::Ok;
  return r == 6 ? TUiAnswer::Yes : TUiAnswer::No;
}

void TGtkUiOps::ShowSimpleMessage(const std::string& text) {
  RunGtkMessageBox(FMain ? GTK_WINDOW(FMain) : nullptr, text, FTitle, plat::MB_OK);
}

void TGtkUiOps::Terminate() {
  FTerminated = true;
  if (gtk_main_level() > 0) gtk_main_quit();
}

std::string TGtkUiOps::ChooseFolder(const TFolderRequest& request) {
  GtkWidget* dlg = gtk_file_chooser_dialog_new(
      g_dgettext("gtk30", "Select a folder"), FMain ? GTK_WINDOW(FMain) : nullptr,
      GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, g_dgettext("gtk30", "_Cancel"), GTK_RESPONSE_CANCEL,
      g_dgettext("gtk30", "_Select"), GTK_RESPONSE_ACCEPT, nullptr);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dlg);
  gtk_window_set_modal(GTK_WINDOW(dlg), TRUE);
  gtk_window_set_position(GTK_WINDOW(dlg), GTK_WIN_POS_CENTER);
  gtk_window_set_resizable(GTK_WINDOW(dlg), request.NewStyle);
  gtk_file_chooser_set_local_only(chooser, request.FileSystemOnly);
  gtk_file_chooser_set_create_folders(chooser, request.NewFolderButton);
  gtk_dialog_set_default_response(GTK_DIALOG(dlg), GTK_RESPONSE_ACCEPT);
  if (!request.Instruction.empty()) {
    // The instruction stands above the folder view.
    GtkWidget* area = gtk_dialog_get_content_area(GTK_DIALOG(dlg));
    GtkWidget* label = gtk_label_new(request.Instruction.c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_widget_set_margin_start(label, 6);
    gtk_widget_set_margin_end(label, 6);
    gtk_widget_set_margin_top(label, 6);
    gtk_box_pack_start(GTK_BOX(area), label, FALSE, FALSE, 0);
    gtk_box_reorder_child(GTK_BOX(area), label, 0);
    gtk_widget_show(label);
  }
  TChooserState state;
  state.Dialog = dlg;
  if (request.EditBox) {
    g_signal_connect(dlg, "key-press-event", G_CALLBACK(OnChooserKey), &state);
    g_signal_connect(dlg, "set-focus", G_CALLBACK(OnChooserFocus), &state);
  }
  std::string chosen;
  int response = gtk_dialog_run(GTK_DIALOG(dlg));
  if (response == kTypedFolderResponse && state.Accepted) {
    chosen = state.Typed;
  } else if (response == GTK_RESPONSE_ACCEPT) {
    if (GFile* file = gtk_file_chooser_get_file(chooser)) {
      if (char* path = g_file_get_path(file)) {
        chosen = path;
        g_free(path);
      }
      g_object_unref(file);
    }
  }
  gtk_widget_destroy(dlg);
  // Let the chooser's window go away before the export goes on.
  for (int i = 0; i < 100 && gtk_events_pending(); ++i) gtk_main_iteration_do(FALSE);
  return chosen;
}
