#include "GtkUiModel.h"

#include <algorithm>

#include "PlatCodePage.h"

namespace gtkui {

std::string Utf8Of(const std::u16string& text) {
  if (text.empty()) return {};
  int n =
      plat::WideToMultiByte(plat::kCpUtf8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(std::max(n, 0)), '\0');
  if (n > 0)
    plat::WideToMultiByte(plat::kCpUtf8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::u16string Utf16Of(const std::string& text) {
  if (text.empty()) return {};
  int n = plat::MultiByteToWide(plat::kCpUtf8, 0, text.data(), int(text.size()), nullptr, 0);
  std::u16string out(size_t(std::max(n, 0)), u'\0');
  if (n > 0) plat::MultiByteToWide(plat::kCpUtf8, 0, text.data(), int(text.size()), out.data(), n);
  return out;
}

std::string MnemonicOf(const std::u16string& caption) {
  std::u16string m;
  for (size_t i = 0; i < caption.size(); ++i) {
    char16_t c = caption[i];
    if (c == u'&') {
      if (i + 1 < caption.size() && caption[i + 1] == u'&') {
        m += u'&';
        ++i;
      } else if (i + 1 < caption.size()) {
        m += u'_';
      }
      // A trailing '&' marks nothing and is dropped.
    } else if (c == u'_') {
      m += u"__";
    } else {
      m += c;
    }
  }
  return Utf8Of(m);
}

TBoxIcon BoxIconOf(uint32_t flags) {
  switch (flags & 0xF0) {
    case plat::MB_ICONHAND: return TBoxIcon::Error;
    case plat::MB_ICONQUESTION: return TBoxIcon::Question;
    case plat::MB_ICONEXCLAMATION: return TBoxIcon::Warning;
    case plat::MB_ICONASTERISK: return TBoxIcon::Information;
    default: return TBoxIcon::None;
  }
}

namespace {
constexpr TBoxButton kOk{"_OK", 1}, kCancel{"_Cancel", 2}, kAbort{"_Abort", 3}, kRetry{"_Retry", 4},
    kIgnore{"_Ignore", 5}, kYes{"_Yes", 6}, kNo{"_No", 7}, kTryAgain{"_Try Again", 10},
    kContinue{"_Continue", 11};
}  // namespace

std::vector<TBoxButton> BoxButtonsOf(uint32_t flags) {
  switch (flags & 0xF) {
    case 1: return {kOk, kCancel};
    case 2: return {kAbort, kRetry, kIgnore};
    case 3: return {kYes, kNo, kCancel};
    case plat::MB_YESNO: return {kYes, kNo};
    case 5: return {kRetry, kCancel};
    case 6: return {kCancel, kTryAgain, kContinue};
    default: return {kOk};
  }
}

int BoxCloseResultOf(uint32_t flags) {
  switch (flags & 0xF) {
    case 0: return 1;               // a lone OK answers OK
    case 2: return 3;               // abort
    case plat::MB_YESNO: return 7;  // no cancel button: the closing answer is No
    default: return 2;              // cancel
  }
}

std::vector<int> TabSequenceOf(const plat::TDlgForm& form) {
  std::vector<int> seq;
  for (size_t i = 0; i < form.Controls.size(); ++i) {
    const auto& c = form.Controls[i];
    bool focusable = c.Kind == plat::TDlgControlKind::Edit || c.Kind == plat::TDlgControlKind::Button;
    if (focusable && c.TabStop) seq.push_back(int(i));
  }
  std::stable_sort(seq.begin(), seq.end(), [&](int a, int b) {
    return form.Controls[size_t(a)].TabOrder < form.Controls[size_t(b)].TabOrder;
  });
  return seq;
}

int NextTabStop(const plat::TDlgForm& form, int current, bool forward) {
  std::vector<int> seq = TabSequenceOf(form);
  if (seq.empty()) return -1;
  auto it = std::find(seq.begin(), seq.end(), current);
  if (it == seq.end()) return forward ? seq.front() : seq.back();
  size_t pos = size_t(it - seq.begin());
  size_t n = seq.size();
  return seq[forward ? (pos + 1) % n : (pos + n - 1) % n];
}

int InitialFocusOf(const plat::TDlgForm& form) {
  std::vector<int> seq = TabSequenceOf(form);
  if (std::find(seq.begin(), seq.end(), form.ActiveControl) != seq.end()) return form.ActiveControl;
  return seq.empty() ? -1 : seq.front();
}

int EscapeResultOf(const plat::TDlgForm& form) {
  for (const auto& c : form.Controls)
    if (c.Kind == plat::TDlgControlKind::Button && c.Cancel) return c.ModalResult;
  return 0;
}

std::string TypedFolderPath(const std::string& typed, const std::string& current, const std::string& home) {
  size_t a = typed.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return {};
  size_t b = typed.find_last_not_of(" \t\r\n");
  std::string p = typed.substr(a, b - a + 1);
  auto join = [](const std::string& base, const std::string& rest) {
    if (base.empty()) return std::string();
    if (rest.empty()) return base;
    return base.back() == '/' ? base + rest : base + "/" + rest;
  };
  if (p[0] == '/') return p;
  if (p == "~") return home;
  if (p.compare(0, 2, "~/") == 0) return join(home, p.substr(2));
  return join(current, p);
}

std::string FontFamilyList(const std::string& family) {
  std::string q;
  for (char c : family)
    if (c != '"' && c != '\\' && c != ';' && c != '{' && c != '}') q += c;
  std::string list;
  if (!q.empty()) list = "\"" + q + "\", ";
  // Close in width and shape to the usual dialog faces, then whatever sans face exists.
  return list + "\"DejaVu Sans Condensed\", \"DejaVu Sans\", sans-serif";
}

std::string MainWindowCss(const std::string& windowName, const std::string& memoName,
                          const std::string& fontFamily, int fontPx) {
  const std::string w = "#" + windowName, m = "#" + memoName;
  std::string css;
  css += w + ", " + w + " * {\n  font-family: " + FontFamilyList(fontFamily) +
         ";\n  font-size: " + std::to_string(fontPx) + "px;\n}\n";
  css += w + " { background-color: @theme_bg_color; }\n";
  // Buttons keep the size they are given instead of the theme's larger minimum.
  css += w + " button { min-height: 0; min-width: 0; padding: 0 4px; }\n";
  // The memo is insensitive but reads as normal text.
  css += m + ", " + m + ":disabled, " + m + " text, " + m +
         " text:disabled {\n"
         "  color: @theme_text_color;\n  background-color: @theme_base_color;\n}\n";
  return css;
}

}  // namespace gtkui
