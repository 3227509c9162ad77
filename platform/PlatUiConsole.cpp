// The process-wide user-interface hook and its terminal implementation.
#include <algorithm>
#include <cctype>
#include <functional>
#include <string>

#include "PlatCodePage.h"
#include "PlatUi.h"

namespace plat {

namespace {

TConsoleUi& ConsoleUi() {
  static TConsoleUi ui;
  return ui;
}

TUserInterface* gUi = nullptr;

// UTF-16 to UTF-8 for terminal output; unpaired surrogates become U+FFFD.
std::string ToUtf8(const std::u16string& w) {
  if (w.empty()) return {};
  const int n = WideToMultiByte(kCpUtf8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string s(size_t(n), '\0');
  const int got = WideToMultiByte(kCpUtf8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
  s.resize(size_t(got > 0 ? got : 0));
  return s;
}

// UTF-8 to UTF-16 for typed answers; invalid bytes are taken as Latin-1.
std::u16string FromUtf8(const std::string& s) {
  std::u16string w;
  for (size_t i = 0; i < s.size();) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    int len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    uint32_t c = 0;
    bool ok = len > 0 && i + size_t(len) <= s.size();
    if (ok) {
      c = len == 1 ? b : b & (0x7F >> len);
      for (int k = 1; k < len; ++k) {
        unsigned char t = static_cast<unsigned char>(s[i + size_t(k)]);
        if ((t & 0xC0) != 0x80) ok = false;
        c = (c << 6) | (t & 0x3F);
      }
    }
    if (!ok) {
      w += char16_t(b);
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      w += char16_t(0xD800 + (c >> 10));
      w += char16_t(0xDC00 + (c & 0x3FF));
    } else {
      w += char16_t(c);
    }
    i += size_t(len);
  }
  return w;
}

std::string Lower(std::string s) {
  for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return "";
  size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

std::string WithoutAccel(const std::u16string& caption) {
  std::u16string c;
  for (char16_t ch : caption)
    if (ch != u'&') c += ch;
  return ToUtf8(c);
}

}  // namespace

const TDlgControl* TDlgForm::Find(const std::string& name) const {
  for (const auto& c : Controls)
    if (c.Name == name) return &c;
  return nullptr;
}

TUserInterface& Ui() { return gUi ? *gUi : ConsoleUi(); }

TUserInterface* SetUi(TUserInterface* ui) {
  TUserInterface* old = &Ui();
  gUi = ui;
  return old;
}

std::vector<std::u16string> WrapTextCells(const std::u16string& text, int maxCols) {
  std::vector<std::u16string> lines;
  std::u16string expanded;
  auto flush = [&](std::u16string line) {
    if (maxCols <= 0) {
      lines.push_back(std::move(line));
      return;
    }
    while (int(line.size()) > maxCols) {
      size_t cut = line.rfind(u' ', size_t(maxCols));
      if (cut == std::u16string::npos || cut == 0) {
        lines.push_back(line.substr(0, size_t(maxCols)));
        line.erase(0, size_t(maxCols));
      } else {
        lines.push_back(line.substr(0, cut));
        line.erase(0, cut + 1);
      }
    }
    lines.push_back(std::move(line));
  };
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t ch = text[i];
    if (ch == u'\r' || ch == u'\n') {
      if (ch == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
      flush(expanded);
      expanded.clear();
    } else if (ch == u'\t') {
      expanded.append(8 - expanded.size() % 8, u' ');
    } else {
      expanded += ch;
    }
  }
  flush(expanded);
  return lines;
}

// ---- TConsoleUi ----

TConsoleUi::TConsoleUi() : FTitle("ZipMate"), FIn(stdin), FOut(stdout) {}

void TConsoleUi::SetStreams(std::FILE* in, std::FILE* out) {
  FIn = in ? in : stdin;
  FOut = out ? out : stdout;
}

TUiSize TConsoleUi::TextExtent(const std::u16string& text) {
  auto lines = WrapTextCells(text, 0);
  size_t w = 0;
  for (auto& l : lines) w = std::max(w, l.size());
  return {int(w) * 8, int(lines.size()) * 16};
}

TUiSize TConsoleUi::WrappedTextExtent(const std::u16string& text, int maxWidth) {
  auto lines = WrapTextCells(text, std::max(1, maxWidth / 8));
  size_t w = 0;
  for (auto& l : lines) w = std::max(w, l.size());
  return {int(w) * 8, int(lines.size()) * 16};
}

bool TConsoleUi::ReadLine(std::string& line, bool secret) {
  std::fflush(FOut);
  // A secret answer is typed without echo when the input is a terminal.
  std::function<void()> restore;
  if (secret) restore = HideConsoleEcho(FIn);
  line.clear();
  bool got = false;
  int c;
  while ((c = std::fgetc(FIn)) != EOF) {
    got = true;
    if (c == '\n') break;
    line += char(c);
  }
  if (restore) {
    restore();
    std::fputc('\n', FOut);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return got;
}

int TConsoleUi::MessageBox(const std::string& text, const std::string& caption, uint32_t flags) {
  std::fprintf(FOut, "%s\n%s\n", caption.c_str(), text.c_str());
  uint32_t kind = flags & 0xF;
  if (kind == MB_OK) {
    std::fprintf(FOut, "[Enter] OK\n");
    std::string line;
    ReadLine(line, false);
    return 1;
  }
  bool yesNo = kind == MB_YESNO;
  std::fprintf(FOut, yesNo ? "Yes/No? " : "OK/Cancel? ");
  std::string line;
  if (!ReadLine(line, false)) return yesNo ? 7 : 2;
  std::string a = Lower(Trim(line));
  if (yesNo) return !a.empty() && a[0] == 'y' ? 6 : 7;
  return !a.empty() && a[0] == 'o' ? 1 : 2;
}

int TConsoleUi::ShowModalDialog(const TDlgForm& form, std::u16string& entered) {
  entered.clear();
  // The terminal bell stands for the dialog's sound.
  std::fprintf(FOut, "%s== %s ==\n", form.Beep ? "\a" : "", ToUtf8(form.Caption).c_str());
  std::vector<const TDlgControl*> buttons;
  const TDlgControl* edit = nullptr;
  for (const auto& c : form.Controls) {
    if (c.Kind == TDlgControlKind::Label) std::fprintf(FOut, "%s\n", ToUtf8(c.Caption).c_str());
    if (c.Kind == TDlgControlKind::Button) buttons.push_back(&c);
    if (c.Kind == TDlgControlKind::Edit) edit = &c;
  }
  int cancelResult = 2;
  for (auto* b : buttons)
    if (b->Cancel) cancelResult = b->ModalResult;
  std::string line;
  if (edit) {
    std::fprintf(FOut, "> ");
    if (!ReadLine(line, edit->PasswordChar != 0)) return 2;
    if (line.empty()) return cancelResult;
    std::u16string text = FromUtf8(line);
    if (edit->MaxLength > 0 && int(text.size()) > edit->MaxLength) text.resize(size_t(edit->MaxLength));
    entered = text;
    // The text is confirmed with the default button when there is one.
    for (auto* b : buttons)
      if (b->Default) return b->ModalResult;
    if (buttons.empty()) return 1;
  }
  if (buttons.empty()) return 2;
  for (size_t i = 0; i < buttons.size(); ++i)
    std::fprintf(FOut, "%s[%zu] %s", i ? "  " : "", i + 1, WithoutAccel(buttons[i]->Caption).c_str());
  std::fprintf(FOut, "\n? ");
  for (;;) {
    if (!ReadLine(line, false)) return 2;
    std::string a = Lower(Trim(line));
    if (a.empty()) return cancelResult;
    char* end = nullptr;
    long n = std::strtol(a.c_str(), &end, 10);
    if (end && *end == '\0' && n >= 1 && size_t(n) <= buttons.size())
      return buttons[size_t(n - 1)]->ModalResult;
    for (auto* b : buttons)
      if (Lower(WithoutAccel(b->Caption)) == a) return b->ModalResult;
    std::fprintf(FOut, "? ");
  }
}

}  // namespace plat
