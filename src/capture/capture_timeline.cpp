#include "capture/capture_timeline.h"

#include <atomic>
#include <map>
#include <mutex>

namespace qv {

namespace {

std::mutex Lock;
std::map<const void*, bool> Members;  // member -> has started
std::int64_t Origin = 0;
std::atomic<bool> HasOrigin{false};

}  // namespace

void JoinCaptureTimeline(const void* member) {
  std::lock_guard<std::mutex> lock(Lock);
  Members.emplace(member, false);
}

void LeaveCaptureTimeline(const void* member) {
  std::lock_guard<std::mutex> lock(Lock);
  Members.erase(member);
  if (Members.empty()) HasOrigin = false;
}

std::int64_t StartOnCaptureTimeline(const void* member, std::int64_t startUs) {
  std::lock_guard<std::mutex> lock(Lock);
  auto it = Members.find(member);
  if (it == Members.end()) return 0;
  it->second = true;
  if (!HasOrigin) {
    Origin = startUs;
    HasOrigin = true;
  }
  return startUs - Origin;
}

bool CaptureTimelineStarted() { return HasOrigin.load(); }

bool CaptureTimelineOrigin(std::int64_t& originUs) {
  std::lock_guard<std::mutex> lock(Lock);
  if (!HasOrigin) return false;
  originUs = Origin;
  return true;
}

bool StartedOnCaptureTimeline(const void* member) {
  std::lock_guard<std::mutex> lock(Lock);
  auto it = Members.find(member);
  return it != Members.end() && it->second;
}

}  // namespace qv
