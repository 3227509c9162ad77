// Shows the component's prompt dialog, laid out by the component and drawn by the GTK
// front end, on the current display, and prints its answer as
// "<modal result><TAB><entered text>" for the GUI test to check.
//   gtk_prompt_probe password|question
#include <gtk/gtk.h>

#include <cstdio>
#include <string>

#include "GtkUserInterface.h"
#include "ZMDlg.h"

int main(int argc, char** argv) {
  std::string kind = argc > 1 ? argv[1] : "password";
  if (kind != "password" && kind != "question") {
    std::fprintf(stderr, "usage: gtk_prompt_probe password|question\n");
    return 2;
  }
  if (!gtk_init_check(&argc, &argv)) {
    std::fprintf(stderr, "gtk_prompt_probe: no display\n");
    return 3;
  }
  TGtkUserInterface ui("Prompt probe");
  plat::SetUi(&ui);
  int result;
  std::string entered;
  if (kind == "password") {
    TZipDialogBox dlg(ZMDlgPassword + 10003);
    dlg.BuildLayout("Hasło", "Podaj hasło dla ROB216.dbf", TMsgDlgButtons{mbOK, mbCancel});
    result = dlg.ShowModal();
    if (result == mrOk) entered = dlg.EnteredText();  // as the component reads it
  } else {
    TZipDialogBox dlg(0x130000 + 7);
    dlg.BuildLayout("Pytanie", "Zastąpić istniejący plik?\tROB216.dbf", TMsgDlgButtons{mbNo, mbYes});
    result = dlg.ShowModal();
  }
  plat::SetUi(nullptr);
  std::printf("%d\t%s\n", result, entered.c_str());
  return 0;
}
