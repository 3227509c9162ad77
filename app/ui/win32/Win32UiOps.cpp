#include "Win32UiOps.h"

#include <objbase.h>
#include <shlobj.h>

#include "Win32Text.h"

TUiAnswer TWin32UiOps::ShowMessageBox(const std::string& text, const std::string& title, TUiIcon icon,
                                      TUiButtons buttons) {
  UINT flags = (buttons == TUiButtons::YesNo ? MB_YESNO : MB_OK) |
               (icon == TUiIcon::Question ? MB_ICONQUESTION : MB_ICONINFORMATION);
  // No owner window: the main window stays enabled.
  int r = ::MessageBoxW(nullptr, WideFromUtf8(text).c_str(), WideFromUtf8(title).c_str(), flags);
  if (buttons == TUiButtons::Ok) return TUiAnswer::Ok;
  return r == IDYES ? TUiAnswer::Yes : TUiAnswer::No;
}

void TWin32UiOps::ShowSimpleMessage(const std::string& text) {
  // Modal to the application: its window is the owner and is disabled meanwhile.
  ::MessageBoxW(FMain, WideFromUtf8(text).c_str(), WideFromUtf8(FTitle).c_str(), MB_OK | MB_TASKMODAL);
}

POINT FolderChooserPosition(HWND owner, SIZE dialog) {
  MONITORINFO mi{};
  mi.cbSize = sizeof mi;
  HMONITOR m = ::MonitorFromWindow(owner, MONITOR_DEFAULTTOPRIMARY);
  RECT area{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  if (m && ::GetMonitorInfoW(m, &mi)) area = mi.rcWork;
  return POINT{((area.right - area.left) - dialog.cx) / 2, ((area.bottom - area.top) - dialog.cy) / 2};
}

TDisabledWindows::TDisabledWindows(HWND keep) : FKeep(keep) {
  ::EnumThreadWindows(::GetCurrentThreadId(), Collect, reinterpret_cast<LPARAM>(this));
}

BOOL CALLBACK TDisabledWindows::Collect(HWND w, LPARAM self) {
  auto* d = reinterpret_cast<TDisabledWindows*>(self);
  if (w == d->FKeep || !::IsWindowVisible(w) || !::IsWindowEnabled(w)) return TRUE;
  if (d->FCount >= int(sizeof d->FList / sizeof d->FList[0])) return FALSE;
  d->FList[d->FCount++] = w;
  ::EnableWindow(w, FALSE);
  return TRUE;
}

TDisabledWindows::~TDisabledWindows() {
  for (int i = FCount - 1; i >= 0; --i)
    if (::IsWindow(FList[i])) ::EnableWindow(FList[i], TRUE);
}

namespace {

struct TChooserState {
  HWND Owner;
};

int CALLBACK ChooserCallback(HWND dlg, UINT msg, LPARAM, LPARAM data) {
  if (msg == BFFM_INITIALIZED) {
    auto* s = reinterpret_cast<TChooserState*>(data);
    RECT r{};
    ::GetWindowRect(dlg, &r);
    POINT p = FolderChooserPosition(s->Owner ? s->Owner : dlg, SIZE{r.right - r.left, r.bottom - r.top});
    ::SetWindowPos(dlg, nullptr, p.x, p.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return 0;
}

}  // namespace

std::string TWin32UiOps::ChooseFolder(const TFolderRequest& request) {
  // The newer style needs a single-threaded apartment; a thread already in another
  // apartment model gets the older style.
  HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const bool joined = SUCCEEDED(hr);
  const bool newStyle = hr != RPC_E_CHANGED_MODE && request.NewStyle;

  std::wstring instruction = WideFromUtf8(request.Instruction);
  TChooserState state{FMain};
  BROWSEINFOW bi{};
  bi.hwndOwner = FMain;
  bi.pidlRoot = nullptr;
  bi.lpszTitle = instruction.c_str();
  bi.ulFlags = 0;
  if (request.FileSystemOnly) bi.ulFlags |= BIF_RETURNONLYFSDIRS;
  if (newStyle) {
    bi.ulFlags |= BIF_NEWDIALOGSTYLE;
    if (request.EditBox) bi.ulFlags |= BIF_EDITBOX;
    if (!request.NewFolderButton) bi.ulFlags |= BIF_NONEWFOLDERBUTTON;
  } else if (request.EditBox) {
    bi.ulFlags |= BIF_EDITBOX;
  }
  if (!request.NoValidate) bi.ulFlags |= BIF_VALIDATE;
  bi.lpfn = ChooserCallback;
  bi.lParam = reinterpret_cast<LPARAM>(&state);

  std::string result;
  {
    TDisabledWindows disabled;
    // No critical-error boxes (a drive without a medium) while the tree is browsed.
    UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS);
    PIDLIST_ABSOLUTE pidl = ::SHBrowseForFolderW(&bi);
    ::SetErrorMode(oldMode);
    if (pidl) {
      wchar_t path[MAX_PATH + 1] = {};
      if (::SHGetPathFromIDListW(pidl, path)) result = Utf8FromWide(path);
      ::CoTaskMemFree(pidl);
    }
  }
  if (joined) ::CoUninitialize();
  return result;
}
