// Shared pieces of the selection layer's desktop tests: the one QApplication, waiting while Qt
// processes events, running the X tools (xdotool, xwininfo, import) and the artifacts folder.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>

namespace qv::test {

inline bool HaveDisplay() {
  const char* display = std::getenv("DISPLAY");
  return display && *display;
}

// The tests drive the real xcb platform; call only after HaveDisplay().
inline QApplication& App() {
  static int argc = 1;
  static char arg0[] = "selection_desktop_test";
  static char* argv[] = {arg0, nullptr};
  static QApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "xcb");
    return new QApplication(argc, argv);
  }();
  return *app;
}

inline void Pump(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
}

inline bool WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
  return true;
}

inline int Shell(const std::string& command) { return std::system(command.c_str()); }

inline std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    std::array<char, 4096> buffer{};
    size_t n = 0;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), n);
    pclose(pipe);
  }
  return out;
}

// What xwininfo says of a window: the independent view of its place, size and map state.
struct TXWinInfo {
  bool Valid = false;
  long X = 0, Y = 0, Width = 0, Height = 0;
  std::string MapState;
};

inline TXWinInfo XWinInfo(unsigned long window) {
  const std::string text = Output("xwininfo -id " + std::to_string(window) + " 2>/dev/null");
  TXWinInfo info;
  auto number = [&](const char* key, long& value) {
    std::smatch m;
    if (!std::regex_search(text, m, std::regex(std::string(key) + R"(:\s*(-?\d+))"))) return false;
    value = std::stol(m[1]);
    return true;
  };
  info.Valid = number("Absolute upper-left X", info.X) && number("Absolute upper-left Y", info.Y) &&
               number("Width", info.Width) && number("Height", info.Height);
  std::smatch m;
  if (std::regex_search(text, m, std::regex(R"(Map State:\s*(\w+))"))) info.MapState = m[1];
  return info;
}

inline std::filesystem::path ArtifactDir() {
  const std::filesystem::path dir = std::filesystem::path(QV_BIN_DIR).parent_path() / "test-artifacts";
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace qv::test

#define QV_REQUIRE_DISPLAY()                                          \
  do {                                                                \
    if (!::qv::test::HaveDisplay()) GTEST_SKIP() << "needs DISPLAY"; \
    ::qv::test::App();                                                \
  } while (0)
