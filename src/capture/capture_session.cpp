#include "capture/capture_session.h"

#include <time.h>

#include <cstdint>
#include <utility>

namespace qv {

namespace {

std::int64_t MonotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// Numbers are handed out once and never reused, so a stale number read from an old option string
// can never reach a later recording's session.
struct TSessionRegistry {
  std::mutex Lock;
  std::intptr_t LastId = 0;
  std::map<std::intptr_t, std::weak_ptr<TCaptureSession>> Sessions;
};

TSessionRegistry& Registry() {
  static auto* registry = new TSessionRegistry();  // never destroyed: devices may look up late
  return *registry;
}

}  // namespace

TCaptureSession::TCaptureSession(std::intptr_t id) : Id(id) {}

std::shared_ptr<TCaptureSession> TCaptureSession::Create() {
  TSessionRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  std::shared_ptr<TCaptureSession> session(new TCaptureSession(++r.LastId));
  r.Sessions[session->Id] = session;
  return session;
}

std::shared_ptr<TCaptureSession> TCaptureSession::Find(std::intptr_t number) {
  if (number <= 0) return nullptr;
  TSessionRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  auto it = r.Sessions.find(number);
  return it == r.Sessions.end() ? nullptr : it->second.lock();
}

std::shared_ptr<TCaptureSession> TCaptureSession::FindOrOwn(std::intptr_t number, bool& unknown) {
  std::shared_ptr<TCaptureSession> session = Find(number);
  unknown = number != 0 && !session;
  // Number 0 is never handed out, so the registry never holds this one.
  return session ? session : std::shared_ptr<TCaptureSession>(new TCaptureSession(0));
}

TCaptureSession::~TCaptureSession() {
  if (Id == 0) return;
  TSessionRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  r.Sessions.erase(Id);
}

void TCaptureSession::SetPaused(bool paused) {
  const std::int64_t now = MonotonicUs();
  std::lock_guard guard(Lock);
  if (paused == PausedNow) return;
  if (paused) {
    PauseStartUs = now;
  } else {
    PausedSumUs += now - PauseStartUs;
    Pauses.push_back({PauseStartUs, now});
  }
  PausedNow = paused;
}

bool TCaptureSession::Paused() const {
  std::lock_guard guard(Lock);
  return PausedNow;
}

std::int64_t TCaptureSession::PausedMicros() const {
  const std::int64_t now = MonotonicUs();
  std::lock_guard guard(Lock);
  return PausedSumUs + (PausedNow ? now - PauseStartUs : 0);
}

std::vector<TCaptureSession::TSpan> TCaptureSession::PausesSince(std::int64_t sinceUs) const {
  std::vector<TSpan> spans;
  std::lock_guard guard(Lock);
  for (const TSpan& pause : Pauses)
    if (pause.ToUs > sinceUs) spans.push_back(pause);
  if (PausedNow) spans.push_back({PauseStartUs, INT64_MAX});
  return spans;
}

void TCaptureSession::Join(const void* member) {
  std::lock_guard guard(Lock);
  Members.emplace(member, false);
}

void TCaptureSession::Leave(const void* member) {
  std::lock_guard guard(Lock);
  Members.erase(member);
}

std::int64_t TCaptureSession::Start(const void* member, std::int64_t startUs) {
  std::lock_guard guard(Lock);
  auto it = Members.find(member);
  if (it == Members.end()) return 0;
  it->second = true;
  if (!HasOrigin) {
    OriginUs = startUs;
    HasOrigin = true;
  }
  return startUs - OriginUs;
}

bool TCaptureSession::Started() const {
  std::lock_guard guard(Lock);
  return HasOrigin;
}

bool TCaptureSession::Origin(std::int64_t& originUs) const {
  std::lock_guard guard(Lock);
  if (!HasOrigin) return false;
  originUs = OriginUs;
  return true;
}

bool TCaptureSession::MemberStarted(const void* member) const {
  std::lock_guard guard(Lock);
  auto it = Members.find(member);
  return it != Members.end() && it->second;
}

void TCaptureSession::PostNotice(const std::string& text) {
  std::lock_guard guard(Lock);
  Notices.push_back(text);
}

std::vector<std::string> TCaptureSession::TakeNotices() {
  std::lock_guard guard(Lock);
  return std::exchange(Notices, {});
}

void TCaptureSession::SetSoundLevels(const std::vector<TSoundLevel>& levels) {
  std::lock_guard guard(Lock);
  Levels = levels;
}

std::vector<TSoundLevel> TCaptureSession::SoundLevels() const {
  std::lock_guard guard(Lock);
  return Levels;
}

void TCaptureSession::SetRestoreToken(const std::string& token) {
  std::lock_guard guard(Lock);
  PortalToken = token;
}

std::string TCaptureSession::RestoreToken() const {
  std::lock_guard guard(Lock);
  return PortalToken;
}

}  // namespace qv
