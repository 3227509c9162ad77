// The scripted user interface used by tests.
#include <algorithm>

#include "PlatUi.h"

namespace plat {

void TScriptedUi::SetScreenCursor(int cursor) {
  FCursor = cursor;
  CursorHistory.push_back(cursor);
}

int TScriptedUi::MessageBox(const std::string& text, const std::string& caption, uint32_t flags) {
  Boxes.push_back({text, caption, flags});
  if (Answers.empty()) return 1;
  int r = Answers.front().ModalResult;
  Answers.pop_front();
  return r;
}

int TScriptedUi::ShowModalDialog(const TDlgForm& form, std::u16string& entered) {
  Dialogs.push_back(form);
  entered.clear();
  if (Answers.empty()) return 2;
  TAnswer a = Answers.front();
  Answers.pop_front();
  const TDlgControl* edit = nullptr;
  for (const auto& c : form.Controls)
    if (c.Kind == TDlgControlKind::Edit) edit = &c;
  if (edit) {
    entered = a.Entered;
    if (edit->MaxLength > 0 && int(entered.size()) > edit->MaxLength) entered.resize(size_t(edit->MaxLength));
  }
  return a.ModalResult;
}

TUiSize TScriptedUi::TextExtent(const std::u16string& text) {
  auto lines = WrapTextCells(text, 0);
  size_t w = 0;
  for (auto& l : lines) w = std::max(w, l.size());
  return {int(w) * CharCell.cx, int(lines.size()) * CharCell.cy};
}

TUiSize TScriptedUi::WrappedTextExtent(const std::u16string& text, int maxWidth) {
  auto lines = WrapTextCells(text, std::max(1, maxWidth / std::max(1, CharCell.cx)));
  size_t w = 0;
  for (auto& l : lines) w = std::max(w, l.size());
  return {int(w) * CharCell.cx, int(lines.size()) * CharCell.cy};
}

}  // namespace plat
