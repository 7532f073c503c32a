// Pause flags that the wave device may follow. The "pause_pointer" option carries a flag's address as
// decimal text; a device never dereferences a number taken from a string. It looks the number up
// here, among flags the program itself registered, and an unknown number simply means "no flag".
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace qv {

struct TPauseFlagEntry;

// What a device holds for a resolved flag. Reading stays safe after the owner unregisters the flag
// (a device that outlives its flag sees "not paused" instead of touching freed memory).
class TPauseFlagRef {
 public:
  TPauseFlagRef() = default;
  explicit TPauseFlagRef(std::shared_ptr<TPauseFlagEntry> entry) : Entry(std::move(entry)) {}
  explicit operator bool() const { return Entry != nullptr; }
  // True while the flag is registered and non-zero.
  bool Paused() const;

 private:
  std::shared_ptr<TPauseFlagEntry> Entry;
};

// Both return the number to put after "pause_pointer=" (the flag's address). Registering the same
// flag again is harmless and returns the same number.
std::intptr_t RegisterPauseFlag(std::atomic<std::int32_t>* flag);
// A plain flag is read with an atomic load; its owner should write it the same way (or through
// std::atomic_ref) to keep the exchange well defined.
std::intptr_t RegisterPauseFlag(std::int32_t* flag);
void UnregisterPauseFlag(const void* flag);

// The registered flag at `address`, or an empty reference when nothing was registered there.
TPauseFlagRef ResolvePauseFlag(std::intptr_t address);

}  // namespace qv
