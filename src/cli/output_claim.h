// What the command-line programs do with an output file that is there already: without -y it is
// refused, and with -n always (the tray program picks unused names itself).
#pragma once

#include <sys/types.h>

#include <string>

namespace qv {

// -y: overwrite, -n: never; without either an existing output is refused too.
enum class TOverwrite { Ask, Always, Never };

// "File '<name>' already exists. Use -y to overwrite." ("... Exiting." with -n) when the file is
// there and may not be overwritten, else "". Both programs refuse with it, with exit status 2.
std::string ExistingOutputRefusal(const std::string& name, TOverwrite overwrite);

// A recording's output, taken before the recording starts by creating it empty and exclusively
// (O_CREAT|O_EXCL): of two recordings started onto one name at once, only one gets it, where a look
// first and a create later would let both through. With -y an existing file is left to be overwritten.
// When the claim ends (the run over, or never started), a file that was created here and is still
// empty is removed: nothing is left behind by a start that failed, and a file that was there before,
// or one that has a recording in it, is never touched.
class TOutputClaim {
 public:
  TOutputClaim() = default;
  ~TOutputClaim();
  TOutputClaim(const TOutputClaim&) = delete;
  TOutputClaim& operator=(const TOutputClaim&) = delete;

  // ExistingOutputRefusal's text when the name is someone else's, else "". A name that cannot be
  // created at all (no such folder, no permission) is left for the recording to say why.
  std::string Take(const std::string& name, TOverwrite overwrite);

 private:
  std::string Name;
  bool Created = false;
  dev_t Device = 0;  // the file created here, told apart from one put in its place since
  ino_t Inode = 0;
};

}  // namespace qv
