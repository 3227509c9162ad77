#include "fMainShort.h"

#include "ExportRate.h"

TFormMainShort* FormMainShort = nullptr;

namespace {

const char* const kMemoLines[] = {
    "Program generuje poprawny plik rob216.dbf dla cennika Korvant \"Informacje ",
    "kwartalne Tarnix/Tarnix-MAX 2 kw 2016\" zawierający stawki robocizny kosztorysowej. ",
    "Zapisany plik można zaimportować do programu kosztorysowego razem ",
    "z pozostałymi plikami .dbf wyekesportowanymi z płyty CD z cennikiem.",
};

const char* const kResultOk = "Aktualizacja zakończona.";
const char* const kResultFailed = "Aktualizacja zakończona z błędami.";

}  // namespace

TFormMainShort::TFormMainShort(UiOps& ui, TComponent* owner)
    : TComponent(owner), FUi(ui), FMemoLines(std::begin(kMemoLines), std::end(kMemoLines)) {
  SetName("FormMainShort");
  // The component as the window's stored definition describes it: created while
  // loading, given its stored values, then told that loading has ended so that its
  // deferred start-up work runs.
  FZipMate = new TZipMate(this);
  FZipMate->BeginLoading();
  FZipMate->SetName("ZipMate");
  FZipMate->SetAddOptions(TZMAddOpts{});
  FZipMate->SetExtrOptions(TZMExtrOpts{});
  FZipMate->SetDLL_Load(false);
  FZipMate->SetUnattended(false);
  FZipMate->SetVerbose(false);
  FZipMate->SetTrace(false);
  FZipMate->SetUseUTF8(false);
  FZipMate->SetNoReadAux(false);
  FZipMate->SetConfirmErase(false);
  FZipMate->SetLanguageID(0);
  FZipMate->Loaded();
  if (!FormMainShort) FormMainShort = this;
}

TFormMainShort::~TFormMainShort() {
  if (FormMainShort == this) FormMainShort = nullptr;
}

std::string TFormMainShort::MemoText() const {
  std::string text;
  for (size_t i = 0; i < FMemoLines.size(); ++i) {
    if (i) text += "\r\n";
    text += FMemoLines[i];
  }
  return text;
}

void TFormMainShort::cxButtonEksportujClick() {
  bool ok = ExportRateFile(*this);
  FUi.ShowMessageBox(ok ? kResultOk : kResultFailed, "", TUiIcon::Information, TUiButtons::Ok);
  FUi.Terminate();
}
