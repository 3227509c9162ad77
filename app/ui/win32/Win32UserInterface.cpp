#include "Win32UserInterface.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "Win32Text.h"
#include "Win32UiOps.h"

namespace {

std::wstring Wide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

constexpr wchar_t kDialogClass[] = L"TZipDialogBox";
constexpr int kFirstId = 100;

// State of one shown prompt dialog.
struct TDialogRun {
  const plat::TDlgForm* Form = nullptr;
  std::vector<HWND> Handles;  // per control of the form
  int Result = 0;             // 0 while open
  int DefaultIndex = -1;
  int CancelIndex = -1;
  HBRUSH Background = nullptr;
};

void PressButton(TDialogRun& run, int index) {
  if (index >= 0) run.Result = run.Form->Controls[size_t(index)].ModalResult;
}

LRESULT CALLBACK DialogProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  auto* run = reinterpret_cast<TDialogRun*>(::GetWindowLongPtrW(w, GWLP_USERDATA));
  switch (msg) {
    case WM_NCCREATE: {
      auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
      ::SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
      break;
    }
    case WM_COMMAND:
      if (!run) break;
      if (LOWORD(wp) == IDOK && lp == 0) {
        // Enter outside a button presses the default button.
        PressButton(*run, run->DefaultIndex);
        return 0;
      }
      if (LOWORD(wp) == IDCANCEL && lp == 0) {
        PressButton(*run, run->CancelIndex);
        return 0;
      }
      if (HIWORD(wp) == BN_CLICKED && LOWORD(wp) >= kFirstId) {
        size_t i = size_t(LOWORD(wp) - kFirstId);
        if (i < run->Form->Controls.size() && run->Form->Controls[i].Kind == plat::TDlgControlKind::Button) {
          int r = run->Form->Controls[i].ModalResult;
          run->Result = r != 0 ? r : run->Result;
        }
        return 0;
      }
      break;
    case DM_GETDEFID:
      if (run && run->DefaultIndex >= 0) return MAKELRESULT(kFirstId + run->DefaultIndex, DC_HASDEFID);
      break;
    case WM_CLOSE:
      // The close button gives the cancel result 2.
      if (run) run->Result = 2;
      return 0;
    case WM_CTLCOLORSTATIC:
      ::SetBkMode(reinterpret_cast<HDC>(wp), TRANSPARENT);
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    default: break;
  }
  return ::DefWindowProcW(w, msg, wp, lp);
}

void RegisterDialogClass() {
  static bool done = false;
  if (done) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DialogProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kDialogClass;
  done = ::RegisterClassExW(&wc) != 0;
}

LPCWSTR StockIcon(plat::TDlgIcon icon) {
  switch (icon) {
    case plat::diExclamation: return IDI_EXCLAMATION;
    case plat::diError: return IDI_HAND;
    case plat::diInformation: return IDI_ASTERISK;
    case plat::diQuestion: return IDI_QUESTION;
    default: return nullptr;
  }
}

UINT IconSound(plat::TDlgIcon icon) {
  switch (icon) {
    case plat::diExclamation: return MB_ICONEXCLAMATION;
    case plat::diError: return MB_ICONHAND;
    case plat::diInformation: return MB_ICONASTERISK;
    case plat::diQuestion: return MB_ICONQUESTION;
    default: return 0;
  }
}

}  // namespace

void DispatchWithDialogKeys(MSG& msg) {
  HWND top = msg.hwnd ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  if (top) {
    wchar_t cls[32] = {};
    ::GetClassNameW(top, cls, 32);
    if ((std::wstring(cls) == kDialogClass || std::wstring(cls) == L"TFormMainShort") &&
        ::IsDialogMessageW(top, &msg))
      return;
  }
  ::TranslateMessage(&msg);
  ::DispatchMessageW(&msg);
}

TWin32UserInterface::TWin32UserInterface(std::string title) : TWindowUserInterface(std::move(title)) {
  NONCLIENTMETRICSW ncm{};
  ncm.cbSize = sizeof ncm;
  if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0))
    FDialogFont = ::CreateFontIndirectW(&ncm.lfMessageFont);
}

TWin32UserInterface::~TWin32UserInterface() {
  if (FDialogFont) ::DeleteObject(FDialogFont);
}

void TWin32UserInterface::ProcessMessages() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Left for the main loop, which ends on it.
      FQuitSeen = true;
      ::PostQuitMessage(int(msg.wParam));
      break;
    }
    DispatchWithDialogKeys(msg);
  }
}

HCURSOR TWin32UserInterface::CurrentCursor() const {
  return ::LoadCursorW(nullptr, FCursor == plat::crHourGlass ? IDC_WAIT : IDC_ARROW);
}

void TWin32UserInterface::ApplyCursor() { ::SetCursor(CurrentCursor()); }

int TWin32UserInterface::MessageBox(const std::string& text, const std::string& caption, uint32_t flags) {
  return ::MessageBoxW(FMain, WideFromUtf8(text).c_str(), WideFromUtf8(caption).c_str(), flags);
}

plat::TUiSize TWin32UserInterface::Measure(const std::u16string& text, UINT flags, int maxWidth) {
  HDC dc = ::GetDC(nullptr);
  HGDIOBJ old = FDialogFont ? ::SelectObject(dc, FDialogFont) : nullptr;
  RECT r{0, 0, maxWidth, 0};
  std::wstring w = Wide(text);
  ::DrawTextW(dc, w.c_str(), int(w.size()), &r, flags | DT_CALCRECT | DT_NOPREFIX);
  if (old) ::SelectObject(dc, old);
  ::ReleaseDC(nullptr, dc);
  return {int(r.right - r.left), int(r.bottom - r.top)};
}

plat::TUiSize TWin32UserInterface::TextExtent(const std::u16string& text) {
  return Measure(text, DT_SINGLELINE | DT_LEFT, 0);
}

plat::TUiSize TWin32UserInterface::WrappedTextExtent(const std::u16string& text, int maxWidth) {
  return Measure(text, DT_WORDBREAK | DT_EXPANDTABS | DT_LEFT, std::max(1, maxWidth));
}

plat::TUiSize TWin32UserInterface::ScreenSize() {
  return {::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
}

int TWin32UserInterface::ShowModalDialog(const plat::TDlgForm& form, std::u16string& entered) {
  entered.clear();
  RegisterDialogClass();
  TDialogRun run;
  run.Form = &form;
  run.Handles.assign(form.Controls.size(), nullptr);
  for (size_t i = 0; i < form.Controls.size(); ++i) {
    const plat::TDlgControl& c = form.Controls[i];
    if (c.Kind != plat::TDlgControlKind::Button) continue;
    if (c.Default && run.DefaultIndex < 0) run.DefaultIndex = int(i);
    if (c.Cancel && run.CancelIndex < 0) run.CancelIndex = int(i);
  }

  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT | (form.RightToLeft ? WS_EX_LAYOUTRTL : 0);
  RECT r{0, 0, form.ClientWidth, form.ClientHeight};
  ::AdjustWindowRectEx(&r, style, FALSE, exStyle);
  HWND owner = FMain && ::IsWindow(FMain) ? FMain : nullptr;
  HINSTANCE inst = ::GetModuleHandleW(nullptr);
  HWND dlg = ::CreateWindowExW(exStyle, kDialogClass, Wide(form.Caption).c_str(), style, form.Left, form.Top,
                               r.right - r.left, r.bottom - r.top, owner, nullptr, inst, &run);
  if (!dlg) return 2;

  // Children in tab order, so that the z-order gives the keyboard's order.
  std::vector<size_t> order(form.Controls.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    int ta = form.Controls[a].TabOrder < 0 ? 1 << 20 : form.Controls[a].TabOrder;
    int tb = form.Controls[b].TabOrder < 0 ? 1 << 20 : form.Controls[b].TabOrder;
    return ta < tb;
  });
  for (size_t i : order) {
    const plat::TDlgControl& c = form.Controls[i];
    DWORD cs = WS_CHILD | WS_VISIBLE | (c.TabStop ? WS_TABSTOP : 0);
    DWORD cx = 0;
    const wchar_t* cls = L"STATIC";
    std::wstring text = Wide(c.Caption);
    switch (c.Kind) {
      case plat::TDlgControlKind::Image:
        cs |= SS_ICON | SS_CENTERIMAGE;
        text.clear();
        break;
      case plat::TDlgControlKind::Label:
        cs |= SS_LEFT | SS_NOPREFIX | (c.WordWrap ? 0 : SS_LEFTNOWORDWRAP);
        break;
      case plat::TDlgControlKind::Edit:
        cls = L"EDIT";
        cs |= ES_AUTOHSCROLL | (c.PasswordChar ? ES_PASSWORD : 0);
        cx = WS_EX_CLIENTEDGE;
        break;
      case plat::TDlgControlKind::Button:
        cls = L"BUTTON";
        cs |= int(i) == run.DefaultIndex ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        break;
    }
    HWND h = ::CreateWindowExW(cx, cls, text.c_str(), cs, c.Left, c.Top, c.Width, c.Height, dlg,
                               reinterpret_cast<HMENU>(intptr_t(kFirstId + int(i))), inst, nullptr);
    run.Handles[i] = h;
    if (!h) continue;
    if (FDialogFont) ::SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(FDialogFont), FALSE);
    if (c.Kind == plat::TDlgControlKind::Image) {
      if (LPCWSTR id = StockIcon(form.Icon))
        ::SendMessageW(h, STM_SETICON, reinterpret_cast<WPARAM>(::LoadIconW(nullptr, id)), 0);
    } else if (c.Kind == plat::TDlgControlKind::Edit) {
      if (c.MaxLength > 0) ::SendMessageW(h, EM_LIMITTEXT, WPARAM(c.MaxLength), 0);
      if (c.PasswordChar) ::SendMessageW(h, EM_SETPASSWORDCHAR, WPARAM(c.PasswordChar), 0);
    }
  }

  auto disabled = std::make_unique<TDisabledWindows>(dlg);
  if (form.Beep)
    if (UINT s = IconSound(form.Icon)) ::MessageBeep(s);
  ::ShowWindow(dlg, SW_SHOWNORMAL);
  HWND focus = nullptr;
  if (form.ActiveControl >= 0 && size_t(form.ActiveControl) < run.Handles.size())
    focus = run.Handles[size_t(form.ActiveControl)];
  if (!focus && run.DefaultIndex >= 0) focus = run.Handles[size_t(run.DefaultIndex)];
  if (focus) ::SetFocus(focus);

  MSG msg;
  while (run.Result == 0) {
    BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      // The application is ending: the dialog closes as cancelled.
      if (got == 0) ::PostQuitMessage(int(msg.wParam));
      run.Result = 2;
      break;
    }
    DispatchWithDialogKeys(msg);
  }

  for (size_t i = 0; i < form.Controls.size(); ++i) {
    if (form.Controls[i].Kind != plat::TDlgControlKind::Edit || !run.Handles[i]) continue;
    int n = ::GetWindowTextLengthW(run.Handles[i]);
    std::wstring t(size_t(n) + 1, L'\0');
    n = ::GetWindowTextW(run.Handles[i], t.data(), n + 1);
    t.resize(size_t(std::max(0, n)));
    entered.assign(t.begin(), t.end());
  }
  disabled.reset();  // before the dialog goes, so that the owner takes the focus back
  ::SetWindowLongPtrW(dlg, GWLP_USERDATA, 0);
  ::DestroyWindow(dlg);
  return run.Result;
}
