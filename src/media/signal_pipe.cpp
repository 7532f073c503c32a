#include "media/signal_pipe.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>

#include "media/interrupt.h"
#include "media/main_thread.h"

namespace qv {

namespace {

// The write end the handler writes to; -1 while no TSignalPipe exists. A handler can reach nothing
// but process-wide state, so this one descriptor is it.
std::atomic<int> gWriteFd{-1};

void WriteSignal(int signal) {
  const int saved = errno;
  const int fd = gWriteFd.load();
  const unsigned char byte = static_cast<unsigned char>(signal);
  if (fd >= 0) (void)!::write(fd, &byte, 1);
  errno = saved;
}

}  // namespace

TSignalPipe::TSignalPipe(std::initializer_list<int> extra) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("no pipe for the signals");
  int expected = -1;
  if (!gWriteFd.compare_exchange_strong(expected, fds[1])) {
    ::close(fds[0]);
    ::close(fds[1]);
    throw std::logic_error("a second TSignalPipe");
  }
  ReadFd = fds[0];
  WriteFd = fds[1];
  struct sigaction action {};
  action.sa_handler = WriteSignal;
  sigemptyset(&action.sa_mask);
  // Interrupted reads and writes of other threads carry on where the library allows it.
  action.sa_flags = SA_RESTART;
  std::vector<int> signals{SIGINT, SIGTERM, SIGHUP};
  signals.insert(signals.end(), extra);
  for (int signal : signals) {
    struct sigaction old {};
    if (::sigaction(signal, &action, &old) == 0) Saved.emplace_back(signal, old);
  }
}

TSignalPipe::~TSignalPipe() {
  for (const auto& [signal, old] : Saved) ::sigaction(signal, &old, nullptr);
  gWriteFd.store(-1);
  ::close(ReadFd);
  ::close(WriteFd);
}

int TSignalPipe::Take() {
  unsigned char byte = 0;
  return ::read(ReadFd, &byte, 1) == 1 ? byte : 0;
}

bool TSignalPipe::Pending() const {
  pollfd p{ReadFd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

TSignalInterrupt::TSignalInterrupt(const TSignalPipe& pipe) : Signals(pipe), Thread(CurrentThreadId()) {
  if (TInterruptCB* cb = InterruptCB()) cb->Register(Thread, this, TCheckMethod{&Check, this});
}

TSignalInterrupt::~TSignalInterrupt() {
  if (TInterruptCB* cb = InterruptCB()) cb->Unregister(Thread, this, TCheckMethod{&Check, this});
}

bool TSignalInterrupt::Check(void* object, void* instance) {
  return instance == object && static_cast<const TSignalInterrupt*>(object)->Signals.Pending();
}

}  // namespace qv
