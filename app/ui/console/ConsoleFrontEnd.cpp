#include "ConsoleFrontEnd.h"

#include <cstdlib>
#include <exception>

#include "FrontEnd.h"
#include "PlatFileSys.h"
#include "PlatPath.h"
#include "PlatUi.h"
#include "fMainShort.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

bool IsAbsolute(const std::string& p) {
#ifdef _WIN32
  if (p.size() >= 2 && p[1] == ':') return true;
  return !p.empty() && (p[0] == '\\' || p[0] == '/');
#else
  return !p.empty() && p[0] == '/';
#endif
}

}  // namespace

std::string ConsoleFolderPath(const std::string& typed) {
  std::string p = Trim(typed);
  if (p.empty()) return p;
  if (p[0] == '~' && (p.size() == 1 || p[1] == '/' || p[1] == plat::PathDelim)) {
    const char* home = std::getenv("HOME");
#ifdef _WIN32
    if (!home || !*home) home = std::getenv("USERPROFILE");
#endif
    if (home && *home) p = std::string(home) + p.substr(1);
  }
  if (!IsAbsolute(p)) {
    std::string cur = plat::CurrentFolder();
    if (!cur.empty() && cur.back() != plat::PathDelim) cur.push_back(plat::PathDelim);
    p = cur + p;
  }
  return p;
}

bool TConsoleUiOps::ReadLine(std::string& line) {
  line.clear();
  std::fflush(FOut);
  int c;
  bool any = false;
  while ((c = std::fgetc(FIn)) != EOF) {
    any = true;
    if (c == '\n') break;
    line.push_back(char(c));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

void TConsoleUiOps::Print(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out.push_back('\n');
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  std::fputs(out.c_str(), FOut);
}

void TConsoleUiOps::WaitForOk() {
  Print("[OK] (Enter) ");
  std::string line;
  ReadLine(line);
  Print("\n");
}

TUiAnswer TConsoleUiOps::ShowMessageBox(const std::string& text, const std::string& title, TUiIcon icon,
                                        TUiButtons buttons) {
  Print("\n");
  if (!title.empty()) Print("== " + title + " ==\n");
  Print((icon == TUiIcon::Question ? "(?) " : "(i) ") + text + "\n");
  if (buttons == TUiButtons::Ok) {
    WaitForOk();
    return TUiAnswer::Ok;
  }
  for (;;) {
    Print("Tak/Nie [t/n]: ");
    std::string line;
    if (!ReadLine(line)) {
      Print("\n");
      return TUiAnswer::No;
    }
    std::string a = Lower(Trim(line));
    if (a.empty() || a == "n" || a == "nie" || a == "no") return TUiAnswer::No;
    if (a == "t" || a == "tak" || a == "y" || a == "yes") return TUiAnswer::Yes;
  }
}

void TConsoleUiOps::ShowSimpleMessage(const std::string& text) {
  Print("\n== " + FTitle + " ==\n" + text + "\n");
  WaitForOk();
}

std::string TConsoleUiOps::ChooseFolder(const TFolderRequest& request) {
  Print("\n" + request.Instruction + "\n");
  Print("Folder (puste anuluje): ");
  std::string line;
  if (!ReadLine(line)) {
    Print("\n");
    return std::string();
  }
  return ConsoleFolderPath(line);
}

int RunConsoleFrontEndOn(std::FILE* in, std::FILE* out, std::FILE* err) {
  TConsoleUiOps ops(in, out, TFormMainShort::kCaption);
  // The component's own message boxes and prompts go to the same terminal.
  plat::TConsoleUi componentUi;
  componentUi.SetStreams(in, out);
  componentUi.SetApplicationTitle(TFormMainShort::kCaption);
  plat::TUserInterface* previous = plat::SetUi(&componentUi);
  int code = 0;
  {
    TFormMainShort form(ops);
    std::string caption = TFormMainShort::kCaption;
    ops.Print(caption + "\n" + std::string(caption.size(), '=') + "\n\n");
    for (const std::string& line : form.cxMemo1()) ops.Print(line + "\n");
    ops.Print(std::string("\n[") + TFormMainShort::kButtonCaption + "] (Enter) ");
    std::string line;
    if (ops.ReadLine(line)) {
      try {
        form.cxButtonEksportujClick();
      } catch (const std::exception& e) {
        // No loop to return to: the error is shown and the run ends unsuccessfully.
        std::fflush(out);
        std::fprintf(err, "Błąd: %s\n", e.what());
        code = 1;
      }
    } else {
      ops.Print("\n");
    }
  }
  plat::SetUi(previous);
  std::fflush(out);
  return code;
}

int RunConsoleFrontEnd() {
#ifdef _WIN32
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
#endif
  return RunConsoleFrontEndOn(stdin, stdout, stderr);
}
