// A recording under way is marked, so that the next start repairs its file only if the recording was
// cut off: a running recording's mark (in this process or another) is passed over, a finished one
// is gone, and one left behind names the file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "recording/recording_mark.h"
#include "support/temp_dir.h"

namespace qv {
namespace {

class RecordingMarkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Root = Temp.Path;
    Folder = Root + "/state/unfinished";  // made by the first mark
  }
  test::TTempDir Temp{"qv_marks"};
  std::unique_ptr<TRecordingMark> Mark(const std::string& fileName) {
    std::string error;
    auto mark = TRecordingMark::Create(Folder, fileName, error);
    EXPECT_TRUE(mark) << error;
    return mark;
  }
  std::string Root, Folder;
};

TEST_F(RecordingMarkTest, OnlyMarksOfRecordingsCutOffAreFound) {
  const std::string name = "/videos/a file\nwith a line break.avi";
  auto running = Mark(name);
  auto finished = Mark("/videos/finished.avi");
  EXPECT_TRUE(FindLeftMarks(Folder).empty());

  finished->Remove();
  finished.reset();
  EXPECT_TRUE(FindLeftMarks(Folder).empty());

  running.reset();  // the process that held it is gone
  const std::vector<TLeftMark> left = FindLeftMarks(Folder);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].FileName, name);
  RemoveMark(left[0]);
  EXPECT_TRUE(FindLeftMarks(Folder).empty());
}

TEST_F(RecordingMarkTest, AFolderThatCannotBeMadeIsSaidInWords) {
  std::string error;
  EXPECT_FALSE(TRecordingMark::Create("/proc/no/such/folder", "x.avi", error));
  EXPECT_NE(error.find("/proc/no/such/folder"), std::string::npos) << error;
}

}  // namespace
}  // namespace qv
