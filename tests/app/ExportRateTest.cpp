// The export flow with a scripted user interface and the real component and engine.
#include <gtest/gtest.h>
#include <unistd.h>

#include "ExportRate.h"
#include "ExportTestSupport.h"
#include "fMainShort.h"

using namespace exporttest;
using ratetest::ReadFile;
using ratetest::WriteFile;

namespace {

const std::string kTable = ReadFile(ZM_RATE_TABLE_FILE);

class ExportRateFileTest : public TExportFixture {
 protected:
  // Records what was staged while the chooser was open.
  void WatchStaging() {
    Ops.OnChoose = [this] {
      StagedAtChoice = ReadFile(StagedArchive());
      EngineAtChoice = ReadFile(StagedEngine());
    };
  }
  void ExpectNoStagedFiles() {
    EXPECT_FALSE(Exists(StagedArchive()));
    EXPECT_FALSE(Exists(StagedEngine()));
  }
  std::string StagedAtChoice, EngineAtChoice;
};

TEST_F(ExportRateFileTest, WritesTheTableIntoAFolderItCreates) {
  ASSERT_EQ(kTable.size(), 17049u);
  TFormMainShort form(Ops);
  WatchStaging();
  const std::string target = Root + "/out";
  Ops.Folders.push_back(target);

  EXPECT_TRUE(ExportRateFile(form));

  EXPECT_EQ(ReadFile(target + "/ROB216.dbf"), kTable);
  // Both payloads were staged unchanged before the chooser opened.
  EXPECT_EQ(StagedAtChoice, ReadFile(ZM_RATE_PAYLOAD_FILE));
  EXPECT_EQ(EngineAtChoice, ReadFile(ZM_ENGINE_PAYLOAD_FILE));
  ExpectNoStagedFiles();
  // A fresh folder is empty: only the chooser was shown.
  ASSERT_EQ(Ops.Calls.size(), 1u);
  EXPECT_EQ(Ops.Calls[0].Kind, "choose");
  const TFolderRequest& rq = Ops.Requests.at(0);
  EXPECT_EQ(rq.Instruction, "Wybierz folder do zapisu kopii");
  EXPECT_TRUE(rq.FileSystemOnly && rq.NewStyle && rq.EditBox && rq.NewFolderButton && rq.NoValidate);
  // The component ran without a complaint and holds the export's settings.
  TZipMate& zip = form.ZipMate();
  EXPECT_EQ(zip.ErrCode(), 0) << zip.ErrMsg();
  EXPECT_TRUE(ComponentUi.Boxes.empty()) << ComponentUi.Boxes[0].Text;
  EXPECT_TRUE(ComponentUi.Dialogs.empty());
  EXPECT_EQ(zip.DLLDirectory(), Temp + "/");
  EXPECT_EQ(zip.ZipFileName(), Temp + "/_xkgcsa9fjsk8_.tmp");
  EXPECT_EQ(zip.ExtrBaseDir(), target);
  EXPECT_EQ(zip.ExtrOptions(), TZMExtrOpts{ExtrOverWrite});
  // One entry selected by "*.*" and extracted; the engine's run consumed the selection.
  EXPECT_EQ(zip.SuccessCnt(), 1);
  EXPECT_EQ(zip.FSpecArgs().Count(), 0);
}

TEST_F(ExportRateFileTest, ExistingEmptyFolderIsUsedWithoutAQuestion) {
  TFormMainShort form(Ops);
  const std::string target = NewFolder("empty");
  Ops.Folders.push_back(target);
  EXPECT_TRUE(ExportRateFile(form));
  EXPECT_EQ(Ops.Count("box"), 0u);
  EXPECT_EQ(ReadFile(target + "/ROB216.dbf"), kTable);
}

TEST_F(ExportRateFileTest, CancelledChooserLeavesNothingBehind) {
  TFormMainShort form(Ops);
  WatchStaging();
  EXPECT_FALSE(ExportRateFile(form));
  EXPECT_FALSE(StagedAtChoice.empty());  // staged while the chooser was open
  ExpectNoStagedFiles();
  EXPECT_EQ(Ops.Calls.size(), 1u);
  EXPECT_TRUE(form.ZipMate().ZipFileName().empty());
  EXPECT_TRUE(form.ZipMate().ExtrOptions().Empty());
  EXPECT_EQ(form.ZipMate().FSpecArgs().Count(), 0);
}

TEST_F(ExportRateFileTest, FolderThatCannotBeCreatedIsReported) {
  TFormMainShort form(Ops);
  // Only one level is created: a missing parent makes the folder unusable.
  const std::string target = Root + "/missing/child";
  Ops.Folders.push_back(target);
  EXPECT_FALSE(ExportRateFile(form));
  ASSERT_EQ(Ops.Calls.size(), 2u);
  EXPECT_EQ(Ops.Calls[1].Kind, "simple");
  EXPECT_EQ(Ops.Calls[1].Text, "Błędny katalog: " + target);
  EXPECT_FALSE(Exists(Root + "/missing"));
  ExpectNoStagedFiles();
  EXPECT_TRUE(form.ZipMate().ZipFileName().empty());
}

TEST_F(ExportRateFileTest, PathNamingAFileIsNotAFolder) {
  TFormMainShort form(Ops);
  const std::string target = Root + "/plain.txt";
  WriteFile(target, "x");
  Ops.Folders.push_back(target);
  EXPECT_FALSE(ExportRateFile(form));
  ASSERT_EQ(Ops.Count("simple"), 1u);
  EXPECT_EQ(Ops.Calls.back().Text, "Błędny katalog: " + target);
  EXPECT_EQ(ReadFile(target), "x");
  ExpectNoStagedFiles();
}

TEST_F(ExportRateFileTest, NonEmptyFolderAnsweredNoIsLeftAlone) {
  TFormMainShort form(Ops);
  const std::string target = NewFolder("full");
  WriteFile(target + "/other.txt", "keep");
  Ops.Folders.push_back(target);
  Ops.Answers.push_back(TUiAnswer::No);
  EXPECT_FALSE(ExportRateFile(form));
  ASSERT_EQ(Ops.Calls.size(), 2u);
  EXPECT_EQ(Ops.Calls[1], TScriptedOps::TCall("box", "Wskazany Folder nie jest pusty.\r\nKontynuować?",
                                              "Folder kopii istnieje", TUiIcon::Question, TUiButtons::YesNo));
  EXPECT_FALSE(Exists(target + "/ROB216.dbf"));
  EXPECT_EQ(ReadFile(target + "/other.txt"), "keep");
  ExpectNoStagedFiles();
}

TEST_F(ExportRateFileTest, NonEmptyFolderAnsweredYesGetsTheTable) {
  TFormMainShort form(Ops);
  const std::string target = NewFolder("full");
  MakeDir(target + "/sub");
  WriteFile(target + "/other.txt", "keep");
  Ops.Folders.push_back(target);
  Ops.Answers.push_back(TUiAnswer::Yes);
  EXPECT_TRUE(ExportRateFile(form));
  EXPECT_EQ(Ops.Count("box"), 1u);
  EXPECT_EQ(ReadFile(target + "/ROB216.dbf"), kTable);
  EXPECT_EQ(ReadFile(target + "/other.txt"), "keep");
  ExpectNoStagedFiles();
}

TEST_F(ExportRateFileTest, OldTableIsReplacedAfterOneQuestion) {
  TFormMainShort form(Ops);
  const std::string target = NewFolder("previous");
  WriteFile(target + "/ROB216.dbf", std::string(20000, 'o'));
  Ops.Folders.push_back(target);
  Ops.Answers.push_back(TUiAnswer::Yes);
  EXPECT_TRUE(ExportRateFile(form));
  EXPECT_EQ(Ops.Count("box"), 1u);
  // The component overwrote without a prompt of its own.
  EXPECT_TRUE(ComponentUi.Boxes.empty());
  EXPECT_TRUE(ComponentUi.Dialogs.empty());
  EXPECT_EQ(ReadFile(target + "/ROB216.dbf"), kTable);
}

TEST_F(ExportRateFileTest, StaleStagedFilesAreReplaced) {
  WriteFile(StagedArchive(), "left over by an aborted run");
  WriteFile(StagedEngine(), std::string(1000000, '\x7f'));
  TFormMainShort form(Ops);
  WatchStaging();
  const std::string target = Root + "/out";
  Ops.Folders.push_back(target);
  EXPECT_TRUE(ExportRateFile(form));
  EXPECT_EQ(StagedAtChoice, ReadFile(ZM_RATE_PAYLOAD_FILE));
  EXPECT_EQ(EngineAtChoice, ReadFile(ZM_ENGINE_PAYLOAD_FILE));
  EXPECT_EQ(ReadFile(target + "/ROB216.dbf"), kTable);
  ExpectNoStagedFiles();
}

TEST_F(ExportRateFileTest, StagedFileThatCannotBeWrittenRaises) {
  MakeDir(StagedArchive());  // a folder where the archive must go
  TFormMainShort form(Ops);
  try {
    ExportRateFile(form);
    FAIL() << "no error raised";
  } catch (const EExportError& e) {
    EXPECT_NE(std::string(e.what()).find(StagedArchive()), std::string::npos) << e.what();
  }
  EXPECT_TRUE(Ops.Calls.empty());
  EXPECT_FALSE(Exists(StagedEngine()));
}

// ---- The temporary folder's length limit ----

class StagingFolderTest : public TExportFixture {
 protected:
  // A folder whose path is exactly length characters long (false when the private
  // folder's own path is already longer).
  bool MakeFolderOfLength(size_t length, std::string& path) {
    path = Root;
    const char letter = char('a' + FFolders++ % 26);
    if (path.size() + 2 > length) return false;
    while (path.size() < length) {
      size_t room = length - path.size() - 1;  // after the next '/'
      size_t take = room > 100 ? 100 : room;
      if (room > 100 && room - 100 < 2) take = room - 2;  // leave room for one more level
      path += "/" + std::string(take, letter);
      if (::mkdir(path.c_str(), 0755) != 0) return false;
    }
    return path.size() == length;
  }

 private:
  int FFolders = 0;
};

TEST_F(StagingFolderTest, AcceptsAPathThatFitsTheBufferAndRefusesALongerOne) {
  std::string fits, tooLong;
  if (!MakeFolderOfLength(258, fits) || !MakeFolderOfLength(259, tooLong))
    GTEST_SKIP() << "the test folder's path is too long: " << Root;
  // 258 characters and a delimiter fill the buffer with its terminator.
  ::setenv("TMPDIR", fits.c_str(), 1);
  EXPECT_EQ(rob216::StagingFolder(), fits + "/");
  ::setenv("TMPDIR", tooLong.c_str(), 1);
  EXPECT_THROW(rob216::StagingFolder(), EExportError);
}

TEST_F(StagingFolderTest, ExportWithATooLongTemporaryFolderStagesNothing) {
  std::string tooLong;
  if (!MakeFolderOfLength(300, tooLong)) GTEST_SKIP() << "cannot build a long folder";
  ::setenv("TMPDIR", tooLong.c_str(), 1);
  TFormMainShort form(Ops);
  Ops.Folders.push_back(Root + "/out");
  try {
    ExportRateFile(form);
    FAIL() << "no error raised";
  } catch (const EExportError& e) {
    EXPECT_NE(std::string(e.what()).find("temporary folder path is too long"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(Ops.Calls.empty());
  EXPECT_FALSE(Exists(tooLong + "/_xkgcsa9fjsk8_.tmp"));
  EXPECT_FALSE(Exists(Root + "/out"));
}

// ---- IsFolderEmpty ----

class IsFolderEmptyTest : public TExportFixture {};

TEST_F(IsFolderEmptyTest, CountsEveryEntryBesidesDotAndDotDot) {
  const std::string d = Root + "/d";
  MakeDir(d);
  EXPECT_TRUE(IsFolderEmpty(d));
  // A trailing delimiter doubles the one before the pattern; still the same folder.
  EXPECT_TRUE(IsFolderEmpty(d + "/"));
  WriteFile(d + "/one", "1");
  EXPECT_FALSE(IsFolderEmpty(d));
  WriteFile(d + "/two", "2");
  EXPECT_FALSE(IsFolderEmpty(d));
  WriteFile(d + "/three", "3");
  EXPECT_FALSE(IsFolderEmpty(d));
}

TEST_F(IsFolderEmptyTest, HiddenEntriesAndFoldersCount) {
  const std::string hidden = Root + "/h", sub = Root + "/s";
  MakeDir(hidden);
  WriteFile(hidden + "/.profile", "");
  EXPECT_FALSE(IsFolderEmpty(hidden));
  MakeDir(sub);
  MakeDir(sub + "/inner");
  EXPECT_FALSE(IsFolderEmpty(sub));
  EXPECT_TRUE(IsFolderEmpty(sub + "/inner"));
}

TEST_F(IsFolderEmptyTest, MissingFolderOrFileIsNotEmpty) {
  EXPECT_FALSE(IsFolderEmpty(Root + "/nothing"));
  WriteFile(Root + "/f", "");
  EXPECT_FALSE(IsFolderEmpty(Root + "/f"));
}

}  // namespace

namespace {

std::string StreamBytes(TStream& s) {
  std::string out(size_t(s.Size()), '\0');
  s.SetPosition(0);
  if (!out.empty()) s.ReadBuffer(out.data(), int(out.size()));
  return out;
}

TEST(PayloadResources, FoundWithoutRegardToCaseAndCarriedUnchanged) {
  for (const char* name : {"ROB_2KW2016", "rob_2kw2016"}) {
    TReadOnlyMemoryStream s = rob216::OpenPayload(name);
    EXPECT_EQ(StreamBytes(s), ReadFile(ZM_RATE_PAYLOAD_FILE)) << name;
  }
  for (const char* name : {"DZENGINE190", "DzEngine190"}) {
    TReadOnlyMemoryStream s = rob216::OpenPayload(name);
    EXPECT_EQ(StreamBytes(s), ReadFile(ZM_ENGINE_PAYLOAD_FILE)) << name;
  }
}

TEST(PayloadResources, MissingResourceRaisesWithItsName) {
  try {
    rob216::OpenPayload("ROB_2KW2017");
    FAIL() << "no error raised";
  } catch (const EExportError& e) {
    EXPECT_STREQ(e.what(), "Resource ROB_2KW2017 not found");
  }
}

}  // namespace

namespace {

class ExportRateFileFailures : public TExportFixture {};

TEST_F(ExportRateFileFailures, FailedExtractionIsNotReportedAsSuccess) {
  TFormMainShort form(Ops);
  const std::string target = NewFolder("blocked");
  MakeDir(target + "/ROB216.dbf");  // the table cannot take the place of a folder
  Ops.Folders.push_back(target);
  Ops.Answers.push_back(TUiAnswer::Yes);
  form.cxButtonEksportujClick();
  // The engine's failure is recorded by the component (reported as a message, not in
  // a box of its own), so the result box is the only place the user learns of it.
  EXPECT_NE(form.ZipMate().ErrCode(), 0);
  EXPECT_NE(form.ZipMate().ErrMsg().find("ROB216.dbf"), std::string::npos) << form.ZipMate().ErrMsg();
  EXPECT_EQ(form.ZipMate().SuccessCnt(), 0);
  ASSERT_EQ(Ops.Calls.size(), 4u);
  EXPECT_EQ(Ops.Calls[2].Text, "Aktualizacja zakończona z błędami.");
  EXPECT_EQ(Ops.Calls[3].Kind, "terminate");
  EXPECT_FALSE(Exists(StagedArchive()));
  EXPECT_FALSE(Exists(StagedEngine()));
}

TEST_F(ExportRateFileFailures, StagedNameLinkedElsewhereIsReplacedNotWrittenThrough) {
  const std::string victim = Root + "/victim";
  WriteFile(victim, "precious");
  ASSERT_EQ(::symlink(victim.c_str(), StagedEngine().c_str()), 0);
  ASSERT_EQ(::symlink((Root + "/nowhere").c_str(), StagedArchive().c_str()), 0);
  TFormMainShort form(Ops);
  Ops.Folders.push_back(Root + "/out");
  EXPECT_TRUE(ExportRateFile(form));
  EXPECT_EQ(ReadFile(victim), "precious");
  EXPECT_FALSE(Exists(Root + "/nowhere"));
  EXPECT_EQ(ReadFile(Root + "/out/ROB216.dbf"), kTable);
}

}  // namespace
