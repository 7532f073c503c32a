#include "engine/repair_plan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/ffmpeg_exception.h"
#include "engine/run_state.h"
#include "media/ff_api.h"
#include "media/ff_utils.h"

namespace qv {

namespace {

std::string SystemText(const std::string& what) { return what + ": " + std::strerror(errno); }

bool WriteAt(int fd, std::int64_t offset, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, off_t(offset + std::int64_t(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

// The cut first: should the patches fail half way, the file still ends at a whole piece.
void Apply(const std::string& fileName, const TRepairPlan& plan) {
  const int fd = ::open(fileName.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) RaiseFFmpeg(SystemText("Cannot write " + fileName));
  bool ok = ::ftruncate(fd, off_t(plan.KeepBytes)) == 0;
  // The index is worth having, not worth failing for: a full disk goes without it.
  const bool appended = ok && !plan.Append.empty() && WriteAt(fd, plan.KeepBytes, plan.Append);
  if (ok && !appended && !plan.Append.empty()) ok = ::ftruncate(fd, off_t(plan.KeepBytes)) == 0;
  for (const TPatch& patch : plan.Patches) ok = ok && WriteAt(fd, patch.Offset, patch.Bytes);
  if (appended)
    for (const TPatch& patch : plan.AppendPatches) ok = ok && WriteAt(fd, patch.Offset, patch.Bytes);
  ok = ok && ::fsync(fd) == 0;
  const std::string error = ok ? std::string() : SystemText("Cannot write " + fileName);
  ::close(fd);
  if (!ok) RaiseFFmpeg(error);
}

// Its length, after every packet has been read: a file that opens but whose pieces do not hold
// together fails here rather than in the user's player.
std::int64_t ReadBack(const std::string& fileName, const char* demuxer, bool packetsToo) {
  AVFormatContext* raw = nullptr;
  // "file:" keeps a name with a colon in it from being taken for some other protocol's URL.
  int ret = ff::avformat_open_input(&raw, ("file:" + fileName).c_str(), ff::av_find_input_format(demuxer), nullptr);
  if (ret < 0) RaiseFFmpeg(ErrorCodeText("Cannot read " + fileName, ret));
  TInputContextPtr ctx(raw);
  ret = ff::avformat_find_stream_info(raw, nullptr);
  if (ret < 0) RaiseFFmpeg(ErrorCodeText("Cannot read the streams of " + fileName, ret));
  if (packetsToo) {
    TPacketPtr pkt = NewPacket();
    int count = 0;
    while (ff::av_read_frame(raw, pkt.get()) >= 0) {
      if (pkt->size > 0) ++count;
      ff::av_packet_unref(pkt.get());
    }
    if (count == 0) RaiseFFmpeg("No picture or sound in it can be read.");
  }
  if (ctx->duration == AV_NOPTS_VALUE || ctx->duration <= 0) RaiseFFmpeg("The repaired file states no length.");
  return ctx->duration;
}

}  // namespace

TFileReader::TFileReader(const std::string& fileName) {
  Fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (Fd >= 0 && ::fstat(Fd, &st) == 0) Bytes = std::int64_t(st.st_size);
}

TFileReader::~TFileReader() {
  if (Fd >= 0) ::close(Fd);
}

bool TFileReader::Read(std::int64_t offset, void* data, std::size_t count) const {
  if (offset < 0 || offset > Bytes || std::int64_t(count) > Bytes - offset) return false;
  auto* bytes = static_cast<char*>(data);
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(Fd, bytes + done, count - done, off_t(offset + std::int64_t(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

std::string DamagedText(std::int64_t offset) {
  return "It is damaged at byte " + std::to_string(offset) + ", before its end; it was left as it is.";
}

bool TFileReader::OnlyZerosFrom(std::int64_t offset) const {
  char buffer[1 << 16];
  for (std::int64_t at = offset; at < Bytes; at += std::int64_t(sizeof buffer)) {
    const size_t count = size_t(std::min<std::int64_t>(Bytes - at, std::int64_t(sizeof buffer)));
    if (!Read(at, buffer, count)) return false;
    for (size_t i = 0; i < count; ++i)
      if (buffer[i] != 0) return false;
  }
  return true;
}

TAviRepair RepairInPlace(const std::string& fileName, TRepairPlanner planner, const char* demuxer) {
  TAviRepair result;
  try {
    const TFileReader file(fileName);
    if (!file.IsOpen()) RaiseFFmpeg(SystemText("Cannot read " + fileName));
    const TRepairPlan plan = planner(file);
    if (!plan.Error.empty()) RaiseFFmpeg(plan.Error);
    if (!plan.Complete) Apply(fileName, plan);
    result.DurationUs = ReadBack(fileName, demuxer, !plan.Complete);
    result.Ok = true;
    result.WasComplete = plan.Complete;
  } catch (const FFmpegException& e) {
    result.Error = e.what();
  }
  return result;
}

}  // namespace qv
