#include "capture/capture_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>

namespace qv {
namespace {

TEST(CaptureSession, OnlyRegisteredNumbersFindASession) {
  std::int32_t stranger = 1;
  EXPECT_EQ(TCaptureSession::Find(0), nullptr);
  EXPECT_EQ(TCaptureSession::Find(-1), nullptr);
  EXPECT_EQ(TCaptureSession::Find(reinterpret_cast<std::intptr_t>(&stranger)), nullptr);

  std::shared_ptr<TCaptureSession> session = TCaptureSession::Create();
  const std::intptr_t number = session->Number();
  EXPECT_EQ(TCaptureSession::Find(number), session);
  // A number next to a registered one is still unknown.
  EXPECT_EQ(TCaptureSession::Find(number + 1), nullptr);

  // Unknown or absent: a session of the device's own, its own time line, never paused.
  bool unknown = false;
  std::shared_ptr<TCaptureSession> own = TCaptureSession::FindOrOwn(number + 1, unknown);
  EXPECT_TRUE(unknown);
  EXPECT_NE(own, session);
  EXPECT_EQ(own->Number(), 0);
  EXPECT_EQ(TCaptureSession::FindOrOwn(0, unknown)->Number(), 0);
  EXPECT_FALSE(unknown);
  EXPECT_EQ(TCaptureSession::FindOrOwn(number, unknown), session);
  EXPECT_FALSE(unknown);

  // A device that outlives the recording keeps its session, which nobody finds any more; a later
  // recording never gets the old number.
  std::shared_ptr<TCaptureSession> held = TCaptureSession::Find(number);
  session.reset();
  EXPECT_EQ(TCaptureSession::Find(number), held);
  held.reset();
  EXPECT_EQ(TCaptureSession::Find(number), nullptr);
  EXPECT_GT(TCaptureSession::Create()->Number(), number);
}

TEST(CaptureSession, PausesAddUpAndTheFirstStartFixesTheOrigin) {
  std::shared_ptr<TCaptureSession> session = TCaptureSession::Create();
  EXPECT_FALSE(session->Paused());
  session->SetPaused(true);
  session->SetPaused(true);  // twice is one pause
  EXPECT_TRUE(session->Paused());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  session->SetPaused(false);
  const std::int64_t paused = session->PausedMicros();
  EXPECT_GE(paused, 50000);
  EXPECT_LT(paused, 500000);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(session->PausedMicros(), paused);
  // Where it lay, for as long as it is asked about.
  const auto since = session->PausesSince(0);
  ASSERT_EQ(since.size(), 1u);
  EXPECT_EQ(since[0].ToUs - since[0].FromUs, paused);
  EXPECT_TRUE(session->PausesSince(since[0].ToUs).empty());

  int screen = 0, sound = 0, stranger = 0;
  session->Join(&screen);
  session->Join(&sound);
  EXPECT_EQ(session->Start(&stranger, 5), 0);  // not a member: no origin
  EXPECT_FALSE(session->Started());
  EXPECT_EQ(session->Start(&screen, 1000), 0);
  EXPECT_EQ(session->Start(&sound, 1300), 300);
  std::int64_t origin = 0;
  ASSERT_TRUE(session->Origin(origin));
  EXPECT_EQ(origin, 1000);
  EXPECT_TRUE(session->MemberStarted(&sound));
  session->Leave(&sound);
  EXPECT_FALSE(session->MemberStarted(&sound));

  session->PostNotice("one");
  session->PostNotice("two");
  EXPECT_EQ(session->TakeNotices(), (std::vector<std::string>{"one", "two"}));
  EXPECT_TRUE(session->TakeNotices().empty());
}

}  // namespace
}  // namespace qv
