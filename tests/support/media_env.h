// Shared set-up for tests that call the media libraries: marks the main thread and loads the
// libraries from the system once per test program.
#pragma once

#include <gtest/gtest.h>

#include "media/loader.h"
#include "media/main_thread.h"

namespace qv::test {

class MediaEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    MarkMainThread();
    ASSERT_TRUE(FFLoader().LoadLibraries(kAllLibraries)) << FFLoader().LastError();
  }
};

// Put QV_MEDIA_TEST_ENV once in a test file that needs loaded libraries.
#define QV_MEDIA_TEST_ENV \
  static ::testing::Environment* const qv_media_env = \
      ::testing::AddGlobalTestEnvironment(new ::qv::test::MediaEnvironment)

}  // namespace qv::test
