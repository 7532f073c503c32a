// Runs a test body in a forked child. A process maps the media libraries once for good (dependencies
// stay mapped, registrations stay registered), so tests about where and how they are loaded each get
// a fresh process. The body returns "" on success or a description of what went wrong.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace qv::test {

inline std::string InChild(const std::function<std::string()>& body) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    ::close(fds[0]);
    std::string result;
    try {
      result = body();
    } catch (const std::exception& e) {
      result = std::string("exception: ") + e.what();
    } catch (...) {
      result = "unknown exception";
    }
    std::size_t done = 0;
    while (done < result.size()) {
      ssize_t n = ::write(fds[1], result.data() + done, result.size() - done);
      if (n <= 0) break;
      done += std::size_t(n);
    }
    ::close(fds[1]);
    // Skip static destructors and gtest's exit handlers of the copied parent state.
    ::_exit(result.empty() ? 0 : 1);
  }
  ::close(fds[1]);
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buffer, sizeof(buffer))) > 0) text.append(buffer, std::size_t(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) return "child died with signal " + std::to_string(WTERMSIG(status)) + ": " + text;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return text.empty() ? "child failed" : text;
  return text;
}

// The lines of /proc/self/maps that map a file whose name starts with `prefix` (e.g. "libavcodec.so").
inline std::vector<std::string> MappedFiles(const std::string& prefix) {
  std::vector<std::string> paths;
  FILE* maps = std::fopen("/proc/self/maps", "r");
  if (!maps) return paths;
  char line[4096];
  while (std::fgets(line, sizeof(line), maps)) {
    std::string s(line);
    std::size_t slash = s.find('/');
    if (slash == std::string::npos) continue;
    std::string path = s.substr(slash);
    while (!path.empty() && (path.back() == '\n' || path.back() == ' ')) path.pop_back();
    std::string base = path.substr(path.rfind('/') + 1);
    if (base.compare(0, prefix.size(), prefix) != 0) continue;
    bool seen = false;
    for (const auto& p : paths) seen = seen || p == path;
    if (!seen) paths.push_back(path);
  }
  std::fclose(maps);
  return paths;
}

}  // namespace qv::test
