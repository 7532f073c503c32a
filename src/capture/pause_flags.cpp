#include "capture/pause_flags.h"

#include <map>
#include <mutex>

namespace qv {

struct TPauseFlagEntry {
  std::mutex Lock;  // held while reading, so unregistering waits for a reader in progress
  std::atomic<std::int32_t>* Atomic = nullptr;
  std::int32_t* Plain = nullptr;
};

namespace {

std::mutex RegistryLock;

std::map<std::intptr_t, std::shared_ptr<TPauseFlagEntry>>& Registry() {
  static auto* registry = new std::map<std::intptr_t, std::shared_ptr<TPauseFlagEntry>>();
  return *registry;
}

template <typename T>
std::intptr_t Register(T* flag, std::atomic<std::int32_t>* atomic, std::int32_t* plain) {
  if (!flag) return 0;
  const auto address = reinterpret_cast<std::intptr_t>(flag);
  std::lock_guard guard(RegistryLock);
  auto& slot = Registry()[address];
  if (!slot) {
    slot = std::make_shared<TPauseFlagEntry>();
    slot->Atomic = atomic;
    slot->Plain = plain;
  }
  return address;
}

}  // namespace

bool TPauseFlagRef::Paused() const {
  if (!Entry) return false;
  std::lock_guard guard(Entry->Lock);
  if (Entry->Atomic) return Entry->Atomic->load(std::memory_order_relaxed) != 0;
  if (Entry->Plain) return std::atomic_ref<std::int32_t>(*Entry->Plain).load(std::memory_order_relaxed) != 0;
  return false;
}

std::intptr_t RegisterPauseFlag(std::atomic<std::int32_t>* flag) { return Register(flag, flag, nullptr); }

std::intptr_t RegisterPauseFlag(std::int32_t* flag) { return Register(flag, nullptr, flag); }

void UnregisterPauseFlag(const void* flag) {
  std::shared_ptr<TPauseFlagEntry> entry;
  {
    std::lock_guard guard(RegistryLock);
    auto it = Registry().find(reinterpret_cast<std::intptr_t>(flag));
    if (it == Registry().end()) return;
    entry = std::move(it->second);
    Registry().erase(it);
  }
  std::lock_guard guard(entry->Lock);
  entry->Atomic = nullptr;
  entry->Plain = nullptr;
}

TPauseFlagRef ResolvePauseFlag(std::intptr_t address) {
  if (address == 0) return {};
  std::lock_guard guard(RegistryLock);
  auto it = Registry().find(address);
  if (it == Registry().end()) return {};
  return TPauseFlagRef(it->second);
}

}  // namespace qv
