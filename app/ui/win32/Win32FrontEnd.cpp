// The utility's main window on Windows: a fixed dialog-style frame around a 423 by
// 132 client area in Tahoma 11 px on the button face colour, the disabled memo drawn
// in normal text colours, and the export button.
#include "Win32Base.h"

#include <exception>
#include <string>

#include "FrontEnd.h"
#include "Win32Text.h"
#include "Win32UiOps.h"
#include "Win32UserInterface.h"
#include "fMainShort.h"

namespace {

constexpr wchar_t kMainClass[] = L"TFormMainShort";
constexpr int kButtonId = 1;
constexpr int kMemoId = 2;
constexpr DWORD kMainStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_DLGFRAME | WS_CLIPCHILDREN;
constexpr DWORD kMainExStyle = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_CONTROLPARENT;

struct TMainWindow {
  TFormMainShort* Form = nullptr;
  TWin32UserInterface* Ui = nullptr;
  HWND Window = nullptr;
  HWND Memo = nullptr;
  HWND Button = nullptr;
  HFONT Font = nullptr;
  bool Busy = false;
  WNDPROC MemoProc = nullptr;
};

TMainWindow* gMain = nullptr;

// The memo is disabled, yet reads as normal text: the system greys a disabled edit's
// text whatever colour WM_CTLCOLORSTATIC chooses, so its text is drawn here.
LRESULT CALLBACK MemoProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_PAINT && gMain) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(w, &ps);
    RECT r;
    ::GetClientRect(w, &r);
    ::FillRect(dc, &r, ::GetSysColorBrush(COLOR_WINDOW));
    HGDIOBJ old = ::SelectObject(dc, gMain->Font);
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    ::SetBkMode(dc, TRANSPARENT);
    LRESULT margins = ::SendMessageW(w, EM_GETMARGINS, 0, 0);
    RECT text{r.left + LOWORD(margins) + 1, r.top, r.right - HIWORD(margins) - 1, r.bottom};
    int n = ::GetWindowTextLengthW(w);
    std::wstring t(size_t(n) + 1, L'\0');
    n = ::GetWindowTextW(w, t.data(), n + 1);
    ::DrawTextW(dc, t.c_str(), n, &text, DT_LEFT | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
    ::SelectObject(dc, old);
    ::EndPaint(w, &ps);
    return 0;
  }
  return ::CallWindowProcW(gMain ? gMain->MemoProc : ::DefWindowProcW, w, msg, wp, lp);
}

void ShowUnexpectedError(const std::string& text) {
  // As the application's default handler: the error's own text in an error box.
  std::string shown = text.empty() ? std::string("Nieznany błąd.") : text;
  ::MessageBoxW(gMain ? gMain->Window : nullptr, WideFromUtf8(shown).c_str(),
                WideFromUtf8(TFormMainShort::kCaption).c_str(), MB_OK | MB_ICONERROR);
}

void Click(TMainWindow& m) {
  // One export at a time: the component pumps messages while it extracts.
  if (m.Busy) return;
  m.Busy = true;
  std::string error;
  bool failed = false;
  try {
    m.Form->cxButtonEksportujClick();
  } catch (const std::exception& e) {
    failed = true;
    error = e.what();
  } catch (...) {
    failed = true;
  }
  m.Busy = false;
  if (failed) {
    m.Ui->SetScreenCursor(plat::crDefault);
    ShowUnexpectedError(error);
  }
}

LRESULT CALLBACK MainProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  TMainWindow* m = gMain;
  switch (msg) {
    case WM_COMMAND:
      if (m && LOWORD(wp) == kButtonId && HIWORD(wp) == BN_CLICKED) {
        Click(*m);
        return 0;
      }
      if (m && LOWORD(wp) == IDOK && lp == 0 && ::GetFocus() == m->Button) {
        Click(*m);
        return 0;
      }
      break;
    case DM_GETDEFID: return MAKELRESULT(kButtonId, DC_HASDEFID);
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
      if (m && reinterpret_cast<HWND>(lp) == m->Memo) {
        HDC dc = reinterpret_cast<HDC>(wp);
        ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
        ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
      }
      break;
    case WM_SETCURSOR:
      if (m && m->Ui->ScreenCursor() != plat::crDefault && LOWORD(lp) == HTCLIENT) {
        ::SetCursor(m->Ui->CurrentCursor());
        return TRUE;
      }
      break;
    case WM_CLOSE:
      // Not while the export runs: its objects live on this window.
      if (m && m->Busy) return 0;
      ::DestroyWindow(w);
      return 0;
    case WM_DESTROY: ::PostQuitMessage(0); return 0;
    default: break;
  }
  return ::DefWindowProcW(w, msg, wp, lp);
}

bool RegisterMainClass(HINSTANCE inst) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = MainProc;
  wc.hInstance = inst;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kMainClass;
  return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

std::wstring MemoText(const TFormMainShort& form) { return WideFromUtf8(form.MemoText()); }

bool CreateMainWindow(TMainWindow& m, HINSTANCE inst) {
  RECT r{0, 0, TFormMainShort::kClientWidth, TFormMainShort::kClientHeight};
  ::AdjustWindowRectEx(&r, kMainStyle, FALSE, kMainExStyle);
  const int w = r.right - r.left, h = r.bottom - r.top;
  const int x = (::GetSystemMetrics(SM_CXSCREEN) - w) / 2;
  const int y = (::GetSystemMetrics(SM_CYSCREEN) - h) / 2;
  m.Window = ::CreateWindowExW(kMainExStyle, kMainClass, WideFromUtf8(TFormMainShort::kCaption).c_str(),
                               kMainStyle, x, y, w, h, nullptr, nullptr, inst, nullptr);
  if (!m.Window) return false;
  m.Font = ::CreateFontW(-TFormMainShort::kFontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                         DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
  // Tab order: the button first, the memo (no tab stop) after it.
  constexpr TControlGeom b = TFormMainShort::kButtonGeom;
  m.Button =
      ::CreateWindowExW(0, L"BUTTON", WideFromUtf8(TFormMainShort::kButtonCaption).c_str(),
                        WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, b.Left, b.Top, b.Width,
                        b.Height, m.Window, reinterpret_cast<HMENU>(intptr_t(kButtonId)), inst, nullptr);
  constexpr TControlGeom t = TFormMainShort::kMemoGeom;
  m.Memo = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", MemoText(*m.Form).c_str(),
                             WS_CHILD | WS_VISIBLE | WS_DISABLED | ES_MULTILINE | ES_READONLY, t.Left, t.Top,
                             t.Width, t.Height, m.Window, reinterpret_cast<HMENU>(intptr_t(kMemoId)), inst,
                             nullptr);
  if (!m.Button || !m.Memo) return false;
  for (HWND c : {m.Button, m.Memo}) ::SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(m.Font), FALSE);
  m.MemoProc = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(m.Memo, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(MemoProc)));
  return true;
}

}  // namespace

int RunWin32FrontEnd() {
  HINSTANCE inst = ::GetModuleHandleW(nullptr);
  if (!RegisterMainClass(inst)) return 1;
  TWin32UiOps ops(TFormMainShort::kCaption);
  TWin32UserInterface ui(TFormMainShort::kCaption);
  plat::TUserInterface* previous = plat::SetUi(&ui);
  int code = 0;
  {
    TMainWindow m;
    m.Ui = &ui;
    std::string startError;
    try {
      TFormMainShort form(ops);
      m.Form = &form;
      gMain = &m;
      if (!CreateMainWindow(m, inst)) {
        code = 1;
      } else {
        ops.SetMainWindow(m.Window);
        ui.SetMainWindow(m.Window);
        form.ZipMate().SetOwnerWindow(reinterpret_cast<intptr_t>(m.Window));
        ::ShowWindow(m.Window, SW_SHOWNORMAL);
        ::UpdateWindow(m.Window);
        ::SetFocus(m.Button);
        MSG msg;
        BOOL got;
        while ((got = ::GetMessageW(&msg, nullptr, 0, 0)) != 0 && got != -1) DispatchWithDialogKeys(msg);
        if (got == 0) code = int(msg.wParam);
        if (::IsWindow(m.Window)) ::DestroyWindow(m.Window);
        // The quit posted by WM_DESTROY of a window closed above is not needed.
        ::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
      }
      ui.SetMainWindow(nullptr);
      ops.SetMainWindow(nullptr);
      gMain = nullptr;
    } catch (const std::exception& e) {
      gMain = nullptr;
      startError = e.what();
      code = 1;
    }
    if (m.Font) ::DeleteObject(m.Font);
    if (!startError.empty()) ShowUnexpectedError(startError);
  }
  plat::SetUi(previous);
  return code;
}
