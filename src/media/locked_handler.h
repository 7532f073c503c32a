// An event handler slot that one thread may set or clear while others call it. The owner assigns
// it as a plain std::function member (`slot = handler`, `slot = nullptr`); a caller takes a copy
// under the lock and calls the copy, so the handler it runs cannot be destroyed under it.
//
// Threads: any thread may assign, test, load or call; the handler itself runs outside the lock, so
// it may assign the slot again.
#pragma once

#include <mutex>
#include <utility>

namespace qv {

template <class TEvent>
class TLockedHandler {
 public:
  TLockedHandler() = default;
  TLockedHandler(const TLockedHandler&) = delete;
  TLockedHandler& operator=(const TLockedHandler&) = delete;

  TLockedHandler& operator=(TEvent handler) {
    {
      std::lock_guard<std::mutex> lock(Lock);
      Handler.swap(handler);
    }
    return *this;  // the old handler is destroyed outside the lock
  }

  explicit operator bool() const {
    std::lock_guard<std::mutex> lock(Lock);
    return bool(Handler);
  }

  TEvent Load() const {
    std::lock_guard<std::mutex> lock(Lock);
    return Handler;
  }

  // Calls the handler set at this moment, if any.
  template <class... TArgs>
  void operator()(TArgs&&... args) const {
    if (TEvent handler = Load()) handler(std::forward<TArgs>(args)...);
  }

 private:
  mutable std::mutex Lock;
  TEvent Handler;
};

}  // namespace qv
