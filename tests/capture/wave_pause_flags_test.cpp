#include "capture/pause_flags.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

namespace qv {
namespace {

TEST(PauseFlags, OnlyRegisteredAddressesResolve) {
  std::int32_t plain = 0;
  std::atomic<std::int32_t> atomic{0};
  std::int32_t stranger = 1;

  EXPECT_FALSE(ResolvePauseFlag(0));
  EXPECT_FALSE(ResolvePauseFlag(reinterpret_cast<std::intptr_t>(&stranger)));
  EXPECT_FALSE(ResolvePauseFlag(-1));
  EXPECT_FALSE(ResolvePauseFlag(0x10));

  const std::intptr_t plainId = RegisterPauseFlag(&plain);
  const std::intptr_t atomicId = RegisterPauseFlag(&atomic);
  EXPECT_EQ(plainId, reinterpret_cast<std::intptr_t>(&plain));
  EXPECT_EQ(RegisterPauseFlag(&plain), plainId);  // twice is harmless

  TPauseFlagRef plainRef = ResolvePauseFlag(plainId);
  TPauseFlagRef atomicRef = ResolvePauseFlag(atomicId);
  ASSERT_TRUE(plainRef);
  ASSERT_TRUE(atomicRef);
  // An address next to a registered one is still unknown.
  EXPECT_FALSE(ResolvePauseFlag(plainId + 1));

  EXPECT_FALSE(plainRef.Paused());
  plain = 1;
  atomic = 7;
  EXPECT_TRUE(plainRef.Paused());
  EXPECT_TRUE(atomicRef.Paused());
  plain = 0;
  EXPECT_FALSE(plainRef.Paused());

  // A device that outlives the flag reads "not paused", never the freed flag.
  UnregisterPauseFlag(&atomic);
  EXPECT_FALSE(atomicRef.Paused());
  EXPECT_FALSE(ResolvePauseFlag(atomicId));
  UnregisterPauseFlag(&plain);
  UnregisterPauseFlag(&plain);
  EXPECT_FALSE(ResolvePauseFlag(plainId));
}

}  // namespace
}  // namespace qv
