// The operation frame: permission, re-entry, activation, deferred work, failures.
#include <gtest/gtest.h>

#include <stdexcept>

#include "ZipMateTestKit.h"
#include "ZMMsg.h"

TEST(ZipMateFrame, FirstOperationGoesBusyThenIdleWithHourglass) {
  TScopedUi ui;
  ui.Ui.SetScreenCursor(5);
  ui.Ui.CursorHistory.clear();
  TTestZipMate z;
  z.TrackStates();
  z.SetZipFileName("a.zip");
  EXPECT_EQ(z.States, (std::vector<int>{3, 1}));
  EXPECT_EQ(z.Listed, (std::vector<std::string>{"a.zip"}));
  EXPECT_EQ(z.ZipFileName(), "a.zip");
  EXPECT_EQ(ui.Ui.CursorHistory, (std::vector<int>{plat::crHourGlass, 5}));
  // The same name again lists again.
  z.SetZipFileName("a.zip");
  EXPECT_EQ(z.Listed.size(), 2u);
}

TEST(ZipMateFrame, StateHandlerMaySuppressTheCursor) {
  TScopedUi ui;
  TTestZipMate z;
  z.OnStateChange = [](TObject*, int, bool& noCursor) { noCursor = true; };
  z.SetZipFileName("a.zip");
  EXPECT_TRUE(ui.Ui.CursorHistory.empty());
  EXPECT_EQ(z.State(), 1);
}

TEST(ZipMateFrame, ReEntryFromMessageHandlerIsRefused) {
  TScopedUi ui;
  TTestZipMate z;
  z.TrackStates();
  z.SetVerbose(true);
  std::vector<std::string> msgs;
  z.OnExtract = [&] { z.EmitMessage(0, "working", true); };
  z.OnMessage = [&](TObject*, int, const std::string& m) {
    msgs.push_back(m);
    if (m == "working") {
      z.SetExtrOptions(TZMExtrOpts{ExtrOverWrite});
      EXPECT_EQ(z.Extract(), 0);  // refused, reports the running outcome
      z.SetZipFileName("other.zip");
    }
  };
  EXPECT_EQ(z.Extract(), 0);
  EXPECT_TRUE(z.ExtrOptions().Empty());
  EXPECT_TRUE(z.Listed.empty());
  EXPECT_EQ(z.ZipFileName(), "");
  EXPECT_EQ(z.ReEntryCount(), 3);
  EXPECT_EQ(z.State(), 2);
  EXPECT_EQ(z.States, (std::vector<int>{3, 4, 4, 4, 2}));
  EXPECT_EQ(std::count(msgs.begin(), msgs.end(), "Trace: Re-entry"), 3);
  // The next operation starts counting again.
  z.OnMessage = nullptr;
  z.Extract();
  EXPECT_EQ(z.ReEntryCount(), 0);
  EXPECT_EQ(z.State(), 1);
}

// A handler that sets a property on every message, the re-entry report included, is
// refused each time without starting another report (once it recursed until the stack
// overflowed).
TEST(ZipMateFrame, ReEntryReportDoesNotNestThroughItsHandler) {
  TScopedUi ui;
  TTestZipMate z;
  z.SetVerbose(true);
  int reports = 0;
  z.OnExtract = [&] { z.EmitMessage(0, "working", true); };
  z.OnMessage = [&](TObject*, int, const std::string& m) {
    if (m == "Trace: Re-entry") ++reports;
    z.SetRootDir("elsewhere");
  };
  EXPECT_EQ(z.Extract(), 0);
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(z.ReEntryCount(), 2);
  EXPECT_EQ(z.RootDir(), "");
}

TEST(ZipMateFrame, DeactivationWhileBusyWaitsForTheEnd) {
  TScopedUi ui;
  TTestZipMate z;
  bool activeInside = false;
  z.OnExtract = [&] {
    z.SetActive(false);
    activeInside = z.Active();
  };
  z.Extract();
  EXPECT_TRUE(activeInside);
  EXPECT_FALSE(z.Active());
  EXPECT_EQ(z.State(), 0);
  z.TrackStates();
  EXPECT_EQ(z.Extract(), 197);
  EXPECT_EQ(z.ErrCode(), zmsNotActive);
  EXPECT_TRUE(z.States.empty());
}

TEST(ZipMateFrame, DeactivateAndReactivateInOneOperation) {
  TScopedUi ui;
  TTestZipMate z;
  z.TrackStates();
  z.OnExtract = [&] {
    z.SetActive(false);
    z.SetActive(true);
  };
  z.Extract();
  EXPECT_TRUE(z.Active());
  EXPECT_EQ(z.States, (std::vector<int>{3, 1}));
}

TEST(ZipMateFrame, InactiveSettersDeferAndActivationAppliesOnce) {
  TScopedUi ui;
  TTestZipMate z;
  z.SetActive(false);
  z.TrackStates();
  z.SetZipFileName("late.zip");
  z.SetZipComment("note");
  z.SetLanguageID(1033);
  EXPECT_EQ(z.DeferredWork(), uint32_t(dwZipFileName | dwZipComment | dwLanguageID));
  EXPECT_TRUE(z.Listed.empty());
  EXPECT_EQ(z.Extract(), 197);
  z.SetActive(true);
  EXPECT_EQ(z.Listed, (std::vector<std::string>{"late.zip"}));
  EXPECT_EQ(z.ZipComment(), "note");
  EXPECT_EQ(z.DeferredWork(), 0u);
  EXPECT_EQ(z.States, (std::vector<int>{1, 3, 1}));
}

TEST(ZipMateFrame, LoadedAppliesDeferredLanguageAndNameInOneOperation) {
  TScopedUi ui;
  TTestZipMate z;
  z.TrackStates();
  z.BeginLoading();
  z.SetLanguageID(0x0415);
  z.SetZipFileName("stored.zip");
  EXPECT_EQ(z.LanguageID(), 0x0415u);  // the stored value while loading
  EXPECT_TRUE(z.States.empty());
  int languageAtListing = -1;
  z.OnList = [&](const std::string&) { languageAtListing = CurrentLanguageId(); };
  z.Loaded();
  EXPECT_EQ(z.Operations(), 1);
  EXPECT_EQ(z.Listed, (std::vector<std::string>{"stored.zip"}));
  // The language was selected before the listing, within the same operation.
  EXPECT_EQ(languageAtListing, 0x0415);
  EXPECT_EQ(z.LanguageID(), uint32_t(CurrentLanguageId()));
  SelectLanguageById(1033);
}

TEST(ZipMateFrame, LoadedRunsAnOperationEvenWithNothingDeferred) {
  TScopedUi ui;
  TTestZipMate z;
  z.TrackStates();
  z.BeginLoading();
  z.Loaded();
  EXPECT_EQ(z.States, (std::vector<int>{3, 1}));
}

TEST(ZipMateFrame, ActiveSetWhileLoadingOnlyStores) {
  TTestZipMate z;
  z.TrackStates();
  z.BeginLoading();
  z.SetActive(false);
  EXPECT_FALSE(z.Active());
  z.SetActive(true);
  EXPECT_TRUE(z.States.empty());
  z.Loaded();
  EXPECT_EQ(z.Operations(), 1);
}

TEST(ZipMateFrame, FailuresAreRecordedAndShown) {
  TScopedUi ui;
  TTestZipMate z;
  z.OnExtract = [] { throw EZipMate::CreateCode(22); };
  EXPECT_EQ(z.Extract(), 22);
  EXPECT_EQ(z.FullErrCode(), zmsErrorNoExtractPasswordGiven);
  EXPECT_EQ(z.ErrMsg(), "Error - no extract password given");
  ASSERT_EQ(ui.Ui.Dialogs.size(), 1u);
  EXPECT_EQ(z.State(), 1);

  z.OnExtract = [] {
    throw EZipMate::CreateCode(ZM_CODE(zmmZipMate, zmsRequestedMemoryNotAvailable), false);
  };
  EXPECT_EQ(z.Extract(), 198);
  EXPECT_EQ(ui.Ui.Dialogs.size(), 1u);  // Show false: no dialog

  z.OnExtract = [] { throw std::runtime_error("disk on fire"); };
  EXPECT_EQ(z.Extract(), 1);
  EXPECT_EQ(z.FullErrCode(), 10101761);
  EXPECT_EQ(z.ErrMsg(), "Unknown Errordisk on fire");
  EXPECT_EQ(ui.Ui.Dialogs.size(), 2u);

  z.SetUnattended(true);
  z.OnExtract = [] { throw 42; };
  EXPECT_EQ(z.Extract(), 1);
  EXPECT_EQ(ui.Ui.Dialogs.size(), 2u);

  // A clean operation clears the outcome.
  z.OnExtract = nullptr;
  EXPECT_EQ(z.Extract(), 0);
  EXPECT_EQ(z.ErrMsg(), "");
  EXPECT_EQ(z.FullErrCode(), 0);
}

TEST(ZipMateFrame, SpecListsFollowTheOutcome) {
  TScopedUi ui;
  TTestZipMate z;
  z.SetUnattended(true);
  z.FSpecArgs().Add("ROB216.dbf");
  z.OnExtract = [&] {
    EXPECT_EQ(z.WorkingSpecs().Count(), 1);
    z.WorkingSpecs().Clear();
    throw EZipMate::CreateCode(252);
  };
  z.Extract();
  EXPECT_EQ(z.FSpecArgs().Count(), 1);
  z.OnExtract = [&] { z.WorkingSpecs().Clear(); };
  z.Extract();
  EXPECT_EQ(z.FSpecArgs().Count(), 0);
}

TEST(ZipMateFrame, QuickOperationFailureIsSilent) {
  TScopedUi ui;
  TTestZipMate z;
  z.OnExtract = [] { throw EZipMate::CreateCode(198); };
  z.Extract();
  ASSERT_EQ(z.ErrCode(), zmsRequestedMemoryNotAvailable);
  size_t dialogs = ui.Ui.Dialogs.size();
  z.OnListingChanged = [](auto) { throw EZipMate::CreateCode(202); };
  z.SetEncoding(zeoUTF8);
  EXPECT_EQ(z.Encoding(), zeoUTF8);
  EXPECT_EQ(z.ErrCode(), zmsRequestedMemoryNotAvailable);
  EXPECT_EQ(ui.Ui.Dialogs.size(), dialogs);
  EXPECT_EQ(z.State(), 1);
}

TEST(ZipMateFrame, BusySettingsRulesDiffer) {
  TScopedUi ui;
  TTestZipMate z;
  int changes = 0;
  z.OnListingChanged = [&](auto) { ++changes; };
  z.OnExtract = [&] {
    z.SetEncoding(zeoOEM);         // stored even while busy
    z.SetUseDirOnlyEntries(true);  // stored even while busy
    z.SetWriteOptions(TZMWriteOpts{zwoSafe});
    z.SetRootDir("refused");
    z.SetPassword("refused");
  };
  z.Extract();
  EXPECT_EQ(z.Encoding(), zeoOEM);
  EXPECT_TRUE(z.UseDirOnlyEntries());
  EXPECT_TRUE(z.WriteOptions().Contains(zwoSafe));
  EXPECT_EQ(z.RootDir(), "");
  EXPECT_EQ(z.Password(), "");
  EXPECT_EQ(changes, 0);  // their quick operations were refused
  EXPECT_EQ(z.State(), 2);
  z.SetEncoding(zeoNone);
  EXPECT_EQ(changes, 1);
}

TEST(ZipMateFrame, CancelReachesTheRunningWorker) {
  TScopedUi ui;
  TTestZipMate z;
  TZMCore* seen = nullptr;
  z.OnExtract = [&] {
    auto w = std::make_unique<TZMCore>(z);
    seen = w.get();
    seen->SetRunningWorker(std::move(w));
    z.SetCancel(true);
    EXPECT_EQ(seen->CancelCode(), 2);
    EXPECT_TRUE(z.Cancel());
    seen->ThrowIfCancelled();
  };
  EXPECT_EQ(z.Extract(), 2);
  EXPECT_EQ(z.RunningWorker(), nullptr);
  EXPECT_TRUE(ui.Ui.Dialogs.empty());  // user cancel is never shown
  z.SetCancel(false);
  EXPECT_FALSE(z.Cancel());
}

TEST(ZipMateFrame, NoPublicOperationLetsAHandlerExceptionEscape) {
  TScopedUi ui;
  TTestZipMate z;
  z.SetVerbose(true);
  z.SetTrace(true);
  auto thrower = [](auto&&...) { throw std::runtime_error("handler"); };
  z.OnMessage = thrower;
  z.OnStateChange = thrower;
  z.OnTick = thrower;
  z.OnZipDialog = thrower;
  z.OnProgress = thrower;
  z.OnExtract = [&] { z.EmitMessage(0, "x", true); };
  z.OnList = [&](const std::string&) { z.ShowMessageText("m", 5, true); };
  EXPECT_NO_THROW(z.Extract());
  EXPECT_NO_THROW(z.SetZipFileName("a.zip"));
  EXPECT_NO_THROW(z.SetZipComment("c"));
  EXPECT_NO_THROW(z.SetDLL_Load(true));
  EXPECT_NO_THROW(z.SetLanguage("US"));
  EXPECT_NO_THROW(z.SetLanguageID(1033));
  EXPECT_NO_THROW(z.SetEncoding(zeoOEM));
  EXPECT_NO_THROW(z.SetUseDirOnlyEntries(true));
  EXPECT_NO_THROW(z.SetUseUTF8(!z.UseUTF8()));
  EXPECT_NO_THROW(z.SetUseUTF8(!z.UseUTF8()));
  EXPECT_NO_THROW(z.SetActive(false));
  EXPECT_NO_THROW(z.SetActive(true));
  EXPECT_NO_THROW(z.SetCancel(true));
  z.BeginLoading();
  EXPECT_NO_THROW(z.Loaded());
  EXPECT_EQ(z.BusyDepth(), 0);
  EXPECT_LT(z.State(), 3);
  // Re-entry attempts from a throwing handler during an operation.
  z.OnExtract = [&] {
    z.OnMessage = [&](auto&&...) {
      z.SetRootDir("x");
      z.Extract();
      throw std::runtime_error("inner");
    };
    z.EmitMessage(0, "y", true);
  };
  EXPECT_NO_THROW(z.Extract());
  EXPECT_EQ(z.BusyDepth(), 0);
}

TEST(ZipMateFrame, OperationsWithoutAnArchiveReportTheirOwnErrors) {
  TScopedUi ui;
  TZipMate z;
  z.SetUnattended(true);
  z.SetDLLDirectory("><");      // no folder and no built-in copy of the engine
  EXPECT_EQ(z.Extract(), 133);  // no archive name
  z.SetZipFileName("definitely-missing.zip");
  EXPECT_EQ(z.ErrCode(), zmsInputFileDoesNotExist);
  z.SetDLL_Load(true);
  EXPECT_FALSE(z.DLL_Load());
  EXPECT_EQ(z.ErrCode(), zmsFailedToLoad);
  EXPECT_EQ(z.State(), 1);
}

TEST(ZipMateFrame, TraceLinesDoNotEraseTheRecordedError) {
  TScopedUi ui;
  TTestZipMate z;
  z.SetTrace(true);
  z.SetUnattended(true);
  std::vector<std::pair<int, std::string>> msgs;
  z.OnMessage = [&](TObject*, int c, const std::string& m) { msgs.emplace_back(c, m); };
  // A worker reports its own failure and lets the operation end well.
  z.OnExtract = [&] {
    z.ShowMessageText("Requested memory not available", ZM_CODE(zmmZipMate, zmsRequestedMemoryNotAvailable),
                      true);
  };
  EXPECT_EQ(z.Extract(), 198);
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_EQ(msgs[0].first, 198 & 0x1F);
  EXPECT_EQ(msgs[1], std::make_pair(0, std::string("Trace: done = 0")));
  EXPECT_EQ(z.ErrCode(), zmsRequestedMemoryNotAvailable);
  EXPECT_EQ(z.ErrMsg(), "Requested memory not available");
}
