// quorvane-convert: the encoder component driven from the command line.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/convert_args.h"
#include "cli/convert_run.h"
#include "media/c_numbers.h"
#include "media/main_thread.h"

int main(int argc, char** argv) {
  qv::UseEnvironmentLocale();
  qv::MarkMainThread();
  std::vector<std::string> args(argv + 1, argv + argc);
  qv::TConvertCommand cmd;
  std::string error = qv::ParseConvertArgs(args, cmd);
  if (cmd.Help) {
    std::fputs(qv::ConvertUsage().c_str(), stdout);
    return 0;
  }
  if (!error.empty()) {
    qv::TConsole().Line("quorvane-convert: " + error + "\nTry \"quorvane-convert --help\".");
    return 2;
  }
  return cmd.Repair.empty() ? qv::RunConvert(cmd) : qv::RunRepair(cmd.Repair);
}
