#include "media/crash_safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <new>

#include "media/ff_api.h"

namespace qv {

namespace {

// The AVIO buffer only collects the muxer's small writes; a chunk larger than it just passes
// through into the pending bytes, which hold a whole unit whatever its size.
constexpr int kIoBufferSize = 65536;
constexpr auto kSyncInterval = std::chrono::seconds(1);

}  // namespace

std::unique_ptr<TCrashSafeFile> TCrashSafeFile::Create(const std::string& path, int& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = AVERROR(errno);
    return nullptr;
  }
  std::unique_ptr<TCrashSafeFile> file(new TCrashSafeFile(fd));
  TAvMemPtr<unsigned char> buffer(static_cast<unsigned char*>(ff::av_malloc(kIoBufferSize)));
  file->Io.reset(buffer ? ff::avio_alloc_context(buffer.get(), kIoBufferSize, 1, file.get(), nullptr, &AppendThunk,
                                                 &SeekThunk)
                        : nullptr);
  if (file->Io) buffer.release();  // the I/O context's now
  if (!file->Io) {
    error = AVERROR(ENOMEM);
    return nullptr;  // the destructor closes the descriptor and stops the thread
  }
  file->Io->seekable = AVIO_SEEKABLE_NORMAL;
  return file;
}

TCrashSafeFile::TCrashSafeFile(int fd) : Fd(fd), Syncer([this] { SyncLoop(); }) {}

TCrashSafeFile::~TCrashSafeFile() {
  if (Io) Commit();
  {
    std::lock_guard<std::mutex> lock(Lock);
    Stopping = true;
  }
  Wake.notify_all();
  Syncer.join();
  // A finished file is on the disk when its program says so.
  if (Dirty.exchange(false)) ::fdatasync(Fd);
  Io.reset();
  ::close(Fd);
}

TCrashSafeFile* TCrashSafeFile::Of(const AVIOContext* pb) {
  return pb && pb->write_packet == &AppendThunk ? static_cast<TCrashSafeFile*>(pb->opaque) : nullptr;
}

int TCrashSafeFile::AppendThunk(void* opaque, std::uint8_t* data, int size) {
  auto* self = static_cast<TCrashSafeFile*>(opaque);
  try {
    self->Pending.insert(self->Pending.end(), data, data + size);
  } catch (const std::bad_alloc&) {
    return AVERROR(ENOMEM);
  }
  return size;
}

std::int64_t TCrashSafeFile::SeekThunk(void* opaque, std::int64_t offset, int whence) {
  return static_cast<TCrashSafeFile*>(opaque)->Seek(offset, whence & ~AVSEEK_FORCE);
}

std::int64_t TCrashSafeFile::Seek(std::int64_t offset, int whence) {
  if (whence == AVSEEK_SIZE) return End + std::int64_t(Pending.size());
  // What is pending belongs before the new position.
  if (int ret = WritePending(); ret < 0) return ret;
  const off_t pos = ::lseek(Fd, off_t(offset), whence);
  if (pos < 0) return AVERROR(errno);
  Position = pos;
  return pos;
}

int TCrashSafeFile::Commit() {
  ff::avio_flush(Io.get());
  if (Io->error < 0) return Io->error;
  if (int ret = WritePending(); ret < 0) return ret;
  return TakeSyncError();
}

int TCrashSafeFile::WritePending() {
  const std::int64_t start = Position;
  size_t done = 0;
  while (done < Pending.size()) {
    const ssize_t n = ::write(Fd, Pending.data() + done, Pending.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? AVERROR(errno) : AVERROR(EIO);
      // A unit cut short at the end of the file is taken back; one rewritten inside it (the
      // trailer's header fields) cannot be.
      if (start >= End && ::ftruncate(Fd, off_t(start)) == 0) ::lseek(Fd, off_t(start), SEEK_SET);
      Position = ::lseek(Fd, 0, SEEK_CUR);
      Pending.clear();
      return error;
    }
    done += size_t(n);
  }
  Position += std::int64_t(done);
  if (Position > End) End = Position;
  Pending.clear();
  if (done > 0) Dirty = true;
  return 0;
}

void TCrashSafeFile::SyncLoop() {
  std::unique_lock<std::mutex> lock(Lock);
  while (!Wake.wait_for(lock, kSyncInterval, [this] { return Stopping; })) {
    if (!Dirty.exchange(false)) continue;
    lock.unlock();
    const int ret = ::fdatasync(Fd);
    const int error = errno;
    lock.lock();
    if (ret != 0 && SyncError == 0) SyncError = AVERROR(error);
  }
}

int TCrashSafeFile::TakeSyncError() {
  std::lock_guard<std::mutex> lock(Lock);
  const int error = SyncError;
  SyncError = 0;
  return error;
}

}  // namespace qv
