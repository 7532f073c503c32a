// The recordings this program made, newest first, kept as a list of file names in the state
// folder; a file that is no longer there drops out. And the way a recording leaves: into the
// desktop's trash, where the user can still get it back.
#pragma once

#include <string>
#include <vector>

namespace qv {

class TRecentRecordings {
 public:
  // `listFile`: where the list is kept (RecentListFile() for the program's own).
  explicit TRecentRecordings(std::string listFile);
  std::vector<std::string> Files() const;  // newest first, only files still there
  void Add(const std::string& file);       // to the top (once)
  void Remove(const std::string& file);

 private:
  void Write(const std::vector<std::string>& files) const;
  std::vector<std::string> Read() const;
  std::string ListFile;
};

constexpr size_t kRecentRecordingsKept = 30;

// "<state folder>/recent-recordings.txt".
std::string RecentListFile();

// The freedesktop trash of the user's home: the file goes to Trash/files with its Trash/info
// .trashinfo written first. A file on another file system goes through "gio trash". Never a plain
// delete: false with the reason when neither could take it (the file is then where it was).
bool MoveToTrash(const std::string& file, std::string& error);

}  // namespace qv
