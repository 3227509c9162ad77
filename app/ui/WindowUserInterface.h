// What the window front ends' user-interface hooks share: the application's title,
// the main window and the screen cursor the component last asked for, which each
// front end shows in its own way.
#pragma once
#include <cstdint>
#include <string>
#include <utility>

#include "PlatUi.h"

template <class TWindow>
class TWindowUserInterface : public plat::TUserInterface {
 public:
  explicit TWindowUserInterface(std::string title) : FTitle(std::move(title)) {}
  TWindowUserInterface(const TWindowUserInterface&) = delete;
  TWindowUserInterface& operator=(const TWindowUserInterface&) = delete;

  int ScreenCursor() override { return FCursor; }
  void SetScreenCursor(int cursor) override {
    FCursor = cursor;
    ApplyCursor();
  }
  std::string ApplicationTitle() override { return FTitle; }
  intptr_t MainWindow() override { return reinterpret_cast<intptr_t>(FMain); }

 protected:
  // Shows FCursor on the main window (or wherever the front end shows it).
  virtual void ApplyCursor() = 0;

  TWindow FMain = nullptr;
  int FCursor = plat::crDefault;

 private:
  std::string FTitle;
};
