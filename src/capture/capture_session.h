// One recording's capture session: what the capture devices of that recording share, and nothing
// any other recording can see.
//
// The recording layer creates a session per recording and hands its number to each device in the
// option string ("session=N"; the wave device also takes it as "pause_pointer=N"). A device never
// dereferences a number taken from text: it looks the number up among the sessions the program
// registered, and an unknown number means "no session" (the device then runs on a time line of its
// own and is never paused).
//
// Threads: the recording layer (main thread) pauses and resumes; the devices' reading and capture
// threads join, start, read the pause clock and post notices. Every field sits behind the session's
// one lock; nothing is reachable without it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/sound_mix.h"

namespace qv {

class TCaptureSession {
 public:
  // Registers the session; Number() is what goes into the device option strings.
  static std::shared_ptr<TCaptureSession> Create();
  // The registered session under `number`, or nullptr. Devices hold the pointer they get, so a
  // session outlives its registration for as long as a device still uses it.
  static std::shared_ptr<TCaptureSession> Find(std::intptr_t number);
  // Find, or else a session of the caller's own that nobody else can reach: a time line of its
  // own, never paused. `unknown` tells a number that was given but is not registered.
  static std::shared_ptr<TCaptureSession> FindOrOwn(std::intptr_t number, bool& unknown);
  ~TCaptureSession();  // unregisters
  TCaptureSession(const TCaptureSession&) = delete;
  TCaptureSession& operator=(const TCaptureSession&) = delete;

  std::intptr_t Number() const { return Id; }

  // ---- pauses, told by the recording layer ----
  // The devices leave paused time out of the recording: the sound captured while paused is dropped
  // and the picture's schedule moves on by the pause.
  void SetPaused(bool paused);
  bool Paused() const;
  // Microseconds spent paused so far, the current pause included.
  std::int64_t PausedMicros() const;
  // The pauses that ended after `sinceUs` or are under way (ToUs INT64_MAX), in order, in monotonic
  // microseconds: sound captured in them is left out even when it is taken long after the pause.
  struct TSpan {
    std::int64_t FromUs;
    std::int64_t ToUs;
  };
  std::vector<TSpan> PausesSince(std::int64_t sinceUs) const;

  // ---- the common time line (see docs/design.md, "Capture timeline and A/V sync") ----
  void Join(const void* member);
  void Leave(const void* member);  // harmless for a member that never joined
  // The member's first media starts at `startUs` (monotonic microseconds). Returns startUs minus
  // the origin: 0 for the first member to start (it sets the origin), positive for media that
  // starts later, negative for media that began before it. A member that has not joined gets 0.
  std::int64_t Start(const void* member, std::int64_t startUs);
  bool Started() const;                         // some member has started
  bool Origin(std::int64_t& originUs) const;    // the origin, once some member has started
  bool MemberStarted(const void* member) const; // this member has placed its first media

  // ---- notices for the user, posted by the devices, taken by the recording layer ----
  // A device posts a notice once per event (the sound input lost, say); the recording layer takes
  // them and tells the user.
  void PostNotice(const std::string& text);
  std::vector<std::string> TakeNotices();

  // ---- each sound source's level, set by the device that mixes them, shown while recording ----
  void SetSoundLevels(const std::vector<TSoundLevel>& levels);
  std::vector<TSoundLevel> SoundLevels() const;

  // ---- the screen portal's permission to share the same screen again without asking ----
  // Set by the recording layer before the devices open (the token kept from last time) and by the
  // PipeWire device once the portal granted its stream (the one for next time: each is good once).
  void SetRestoreToken(const std::string& token);
  std::string RestoreToken() const;

 private:
  explicit TCaptureSession(std::intptr_t id);

  const std::intptr_t Id;
  mutable std::mutex Lock;
  bool PausedNow = false;
  std::int64_t PauseStartUs = 0;
  std::int64_t PausedSumUs = 0;
  std::vector<TSpan> Pauses;  // those that ended
  std::map<const void*, bool> Members;  // member -> has started
  bool HasOrigin = false;
  std::int64_t OriginUs = 0;
  std::string PortalToken;
  std::vector<std::string> Notices;
  std::vector<TSoundLevel> Levels;
};

}  // namespace qv
