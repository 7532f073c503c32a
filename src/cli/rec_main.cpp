// quorvane-rec: records the screen (and sound) into an AVI, MKV or MP4 file without the tray program.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/rec_args.h"
#include "cli/rec_run.h"
#include "cli/rec_setup.h"
#include "media/c_numbers.h"
#include "media/main_thread.h"

int main(int argc, char** argv) {
  qv::UseEnvironmentLocale();
  qv::MarkMainThread();
  std::vector<std::string> args(argv + 1, argv + argc);
  qv::TRecCommand cmd;
  const std::string error = qv::ParseRecArgs(args, cmd);
  if (cmd.Help) {
    std::fputs(qv::RecUsage().c_str(), stdout);
    return 0;
  }
  if (cmd.ListAudioSources && error.empty()) return qv::PrintAudioSources();
  if (cmd.ForgetScreenPermission && cmd.Output.empty() && error.empty()) return qv::ForgetScreenPermission();
  if (cmd.ListMonitors && error.empty()) return qv::PrintMonitors();
  if (!error.empty()) {
    qv::TConsole().Line("quorvane-rec: " + error + "\nTry \"quorvane-rec --help\".");
    return 2;
  }
  return qv::RunRecording(cmd);
}
