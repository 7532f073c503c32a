// Shared set-up for the window tests: one QApplication on the given DISPLAY, a private settings
// folder per test, message boxes recorded instead of shown.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "app/message_box.h"
#include "app/unit_general.h"
#include "media/main_thread.h"

namespace qv::test {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "quorvane_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    MarkMainThread();
    auto* created = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return created;
  }();
  return *app;
}

// Spins the event loop until `done` holds or the time is up.
inline bool WaitFor(const std::function<bool()>& done, int ms = 3000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QTest::qWait(20);
  }
  return true;
}

class SettingsFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    char pattern[] = "/tmp/qv_app_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    Root = pattern;
    setenv("HOME", (Root + "/home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (Root + "/config").c_str(), 1);
    unsetenv("XDG_DOCUMENTS_DIR");
    std::filesystem::create_directories(Root + "/config/Quorvane");
    std::filesystem::create_directories(Root + "/home");
    SetMessageBoxHook([this](const TMessageBoxInfo& info) { Messages.push_back(info); });
  }
  void TearDown() override {
    SetMessageBoxHook(nullptr);
    std::filesystem::remove_all(Root);
  }
  void WriteOptions(const std::string& text) { std::ofstream(GetOptionsFileName(), std::ios::binary) << text; }
  std::string ReadOptions() {
    std::ifstream in(GetOptionsFileName(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string LastMessage() const { return Messages.empty() ? std::string() : Messages.back().Text; }

  std::string Root;
  std::vector<TMessageBoxInfo> Messages;
};

}  // namespace qv::test
