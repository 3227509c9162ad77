// A component whose archive work is supplied by each test, a scripted user interface
// installed for the test's lifetime, and a fixture with both, a private folder and the
// component's messages.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "PlatUi.h"
#include "TestTempDir.h"
#include "ZMCore.h"
#include "ZMMsgStr.h"
#include "ZMXcpt.h"
#include "ZipMate.h"

class TTestZipMate : public TCustomZipMate {
 public:
  using TCustomZipMate::RunQuickOperation;
  using TCustomZipMate::TCustomZipMate;

  std::function<void(const std::string&)> OnList;
  std::function<void()> OnExtract;
  std::function<void(bool)> OnEngine;
  std::function<void(TZMListingChange)> OnListingChanged;
  std::vector<std::string> Listed;
  std::vector<int> States;  // every state handed to OnStateChange

  void TrackStates() {
    OnStateChange = [this](TObject*, int s, bool&) { States.push_back(s); };
  }
  int Operations() const {
    int n = 0;
    for (size_t i = 0; i < States.size(); ++i)
      if (States[i] == 3) ++n;
    return n;
  }

 protected:
  void ListArchive(const std::string& name) override {
    Listed.push_back(name);
    if (OnList) OnList(name);
  }
  void ExtractEntries() override {
    if (OnExtract) OnExtract();
  }
  void LoadEngine(bool load) override {
    if (OnEngine) OnEngine(load);
  }
  void ListingChanged(TZMListingChange c) override {
    if (OnListingChanged) OnListingChanged(c);
  }
};

// Installs a scripted user interface and restores the previous one.
struct TScopedUi {
  plat::TScriptedUi Ui;
  plat::TUserInterface* Prev;
  TScopedUi() : Prev(plat::SetUi(&Ui)) {}
  ~TScopedUi() { plat::SetUi(Prev == &Ui ? nullptr : Prev); }
  TScopedUi(const TScopedUi&) = delete;
  TScopedUi& operator=(const TScopedUi&) = delete;
};

// A component with a scripted user interface, in a private folder (dir, with its
// closing separator) named from the prefix; the component's messages land in lines.
struct TComponentFixture : ::testing::Test {
  explicit TComponentFixture(const std::string& prefix) : FTemp(prefix) {}
  zmtest::TTempDir FTemp;
  TScopedUi ui;
  TTestZipMate z;
  std::vector<std::string> lines;
  std::string dir;
  void SetUp() override {
    z.OnMessage = [this](TObject*, int, const std::string& m) { lines.push_back(m); };
    dir = FTemp.Dir();
  }
  // Writes a file of the folder; its path.
  std::string Make(const std::string& name, const std::string& bytes) { return FTemp.Write(name, bytes); }
  static std::string Slurp(const std::string& path) { return zmtest::Slurp(path); }
};
