// The time line that the capture devices of one recording share.
//
// Each device stamps its packets from its own start: the screen device from its first frame slot,
// the wave device by counting samples from its first delivered buffer. The engine starts every
// input at 0, so whatever lies between the two starts (the first frame's trip through the encoder
// before the engine first asks for sound, the sound server's latency) would become a constant offset
// between picture and sound. So the devices meet here: the first to start fixes the origin on the
// monotonic clock, and every device places its first media against it (the screen device moves its
// stamps, the wave device trims or pads its first buffer).
//
// Devices join when they open and leave when they close; when the last one leaves, the origin is
// forgotten, so the next recording in the same process starts a time line of its own.
#pragma once

#include <cstdint>

namespace qv {

void JoinCaptureTimeline(const void* member);
void LeaveCaptureTimeline(const void* member);  // harmless for a member that never joined

// The member's first media starts at `startUs` (monotonic microseconds). Returns startUs minus the
// origin: 0 for the first member to start (it sets the origin), positive for media that starts
// later, negative for media that began before it. A member that is not joined gets 0.
std::int64_t StartOnCaptureTimeline(const void* member, std::int64_t startUs);

// True once some member has started: media captured from now on belongs to the recording.
bool CaptureTimelineStarted();
// The origin, when some member has started.
bool CaptureTimelineOrigin(std::int64_t& originUs);
// True once this member has placed its first media.
bool StartedOnCaptureTimeline(const void* member);

}  // namespace qv
