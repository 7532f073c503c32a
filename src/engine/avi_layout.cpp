#include "engine/avi_layout.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "media/ff_owners.h"
#include "media/text_utils.h"

namespace qv {

namespace {

// A size the writer had not filled in yet.
constexpr std::uint32_t kUnwritten = 0xFFFFFFFFu;

std::uint32_t Le16(const unsigned char* p) { return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8; }
std::uint32_t Le32(const unsigned char* p) { return Le16(p) | Le16(p + 2) << 16; }
std::uint64_t Le64(const unsigned char* p) { return std::uint64_t(Le32(p)) | std::uint64_t(Le32(p + 4)) << 32; }

class TAviFile {
 public:
  explicit TAviFile(const std::string& fileName)
      : File(std::fopen(fileName.c_str(), "rb")), Size(GetFileSize(fileName)) {}
  bool Open() const { return File != nullptr && Size > 0; }
  std::int64_t FileSize() const { return Size; }
  bool Read(std::int64_t pos, void* data, std::size_t count) {
    if (pos < 0 || pos + std::int64_t(count) > Size || ::fseeko(File.get(), off_t(pos), SEEK_SET) != 0) return false;
    return std::fread(data, 1, count, File.get()) == count;
  }

 private:
  TFilePtr File;
  std::int64_t Size;
};

struct TChunk {
  char Id[5] = {};
  std::uint32_t Size = 0;
  std::int64_t Data = 0;  // where its data begins
  bool Is(const char* id) const { return std::memcmp(Id, id, 4) == 0; }
  std::int64_t End() const { return Data + Size + (Size & 1); }
};

bool ReadChunk(TAviFile& file, std::int64_t pos, TChunk& chunk) {
  unsigned char head[8];
  if (!file.Read(pos, head, sizeof head)) return false;
  std::memcpy(chunk.Id, head, 4);
  chunk.Size = Le32(head + 4);
  chunk.Data = pos + 8;
  return true;
}

// A LIST's (or RIFF's) form type, the four bytes its data begins with.
bool IsList(TAviFile& file, const TChunk& chunk, const char* list, const char* form) {
  char type[4];
  return chunk.Is(list) && chunk.Size >= 4 && file.Read(chunk.Data, type, 4) && std::memcmp(type, form, 4) == 0;
}

// The RIFFs, in file order. False when one has no size yet or runs past the end of the file. Bytes
// after the last that do not begin another RIFF are some other writer's padding, and a RIFF header
// cut short has nothing after it: neither holds anything of the recording.
bool ReadRiffs(TAviFile& file, std::vector<TChunk>& riffs) {
  for (std::int64_t pos = 0; pos < file.FileSize();) {
    TChunk riff;
    if (!ReadChunk(file, pos, riff)) return !riffs.empty();
    if (!riffs.empty() && !riff.Is("RIFF")) return true;
    if (!IsList(file, riff, "RIFF", riffs.empty() ? "AVI " : "AVIX"))
      return !riffs.empty() && pos + 12 > file.FileSize();
    if (riff.Size == kUnwritten || riff.Data + riff.Size > file.FileSize()) return false;
    riffs.push_back(riff);
    pos = std::min(riff.End(), file.FileSize());
  }
  return !riffs.empty();
}

struct TStreamFacts {
  std::uint32_t Length = 0;      // in the header: pictures, or blocks of SampleSize bytes
  std::uint32_t SampleSize = 0;  // 0: a stream counted in chunks
  bool Video = false;
  TChunk SuperIndex;             // Size 0: none
};

struct THeaderFacts {
  std::vector<TStreamFacts> Streams;
  bool HasTotalFrames = false;
  std::uint32_t TotalFrames = 0;  // the OpenDML count of pictures over every RIFF
};

// Calls `each` with every chunk of the list's data [from, end); false when one cannot be read.
template <typename Each>
bool ForEachChunk(TAviFile& file, std::int64_t from, std::int64_t end, Each each) {
  for (std::int64_t pos = from; pos + 8 <= end;) {
    TChunk chunk;
    if (!ReadChunk(file, pos, chunk) || chunk.Data + chunk.Size > end) return false;
    if (!each(chunk)) return false;
    pos = chunk.End();
  }
  return true;
}

bool ReadStreamHeader(TAviFile& file, const TChunk& strl, TStreamFacts& stream) {
  bool haveHeader = false;
  const bool read = ForEachChunk(file, strl.Data + 4, strl.Data + strl.Size, [&](const TChunk& chunk) {
    if (chunk.Is("strh")) {
      unsigned char strh[48];
      if (chunk.Size < sizeof strh || !file.Read(chunk.Data, strh, sizeof strh)) return false;
      stream.Video = std::memcmp(strh, "vids", 4) == 0;
      stream.Length = Le32(strh + 32);
      stream.SampleSize = Le32(strh + 44);
      haveHeader = true;
    } else if (chunk.Is("indx")) {
      stream.SuperIndex = chunk;
    }
    return true;
  });
  return read && haveHeader;
}

bool ReadHeader(TAviFile& file, const TChunk& firstRiff, THeaderFacts& facts) {
  auto odml = [&](const TChunk& list) {
    return ForEachChunk(file, list.Data + 4, list.Data + list.Size, [&](const TChunk& chunk) {
      unsigned char frames[4];
      if (chunk.Is("dmlh") && chunk.Size >= 4 && file.Read(chunk.Data, frames, 4)) {
        facts.HasTotalFrames = true;
        facts.TotalFrames = Le32(frames);
      }
      return true;
    });
  };
  // The writer puts the OpenDML list inside hdrl; elsewhere before the pictures is accepted too.
  std::function<bool(const TChunk&)> visit;
  bool seenHeader = false;
  visit = [&](const TChunk& chunk) {
    if (IsList(file, chunk, "LIST", "strl")) {
      facts.Streams.emplace_back();
      return ReadStreamHeader(file, chunk, facts.Streams.back());
    }
    if (IsList(file, chunk, "LIST", "odml")) return odml(chunk);
    if (IsList(file, chunk, "LIST", "hdrl")) {
      seenHeader = true;
      return ForEachChunk(file, chunk.Data + 4, chunk.Data + chunk.Size, visit);
    }
    return true;
  };
  return ForEachChunk(file, firstRiff.Data + 4, firstRiff.Data + firstRiff.Size, visit) && seenHeader &&
         !facts.Streams.empty();
}

// Adds up one standard index: its entries, and their bytes when `bytes` is wanted.
bool AddStandardIndex(TAviFile& file, const TChunk& riff, std::uint64_t offset, std::uint32_t chunkId,
                      std::uint64_t& count, std::uint64_t* bytes) {
  TChunk ix;
  unsigned char head[24];
  if (offset < std::uint64_t(riff.Data) || !ReadChunk(file, std::int64_t(offset), ix) || ix.End() > riff.End() ||
      ix.Size < sizeof head || !file.Read(ix.Data, head, sizeof head))
    return false;
  const std::uint32_t entries = Le32(head + 4);
  // Two longs an entry, an index of chunks, of the stream the super index is of.
  if (Le16(head) != 2 || head[3] != 1 || Le32(head + 8) != chunkId || 24 + std::uint64_t(entries) * 8 > ix.Size)
    return false;
  count += entries;
  if (!bytes) return true;
  unsigned char block[8 * 1024];
  for (std::uint32_t done = 0; done < entries;) {
    const std::uint32_t n = std::min<std::uint32_t>(entries - done, sizeof block / 8);
    if (!file.Read(ix.Data + 24 + std::int64_t(done) * 8, block, n * 8)) return false;
    for (std::uint32_t i = 0; i < n; ++i) *bytes += Le32(block + i * 8 + 4) & 0x7FFFFFFFu;
    done += n;
  }
  return true;
}

// What one stream's standard indexes hold, through its super index: one per RIFF, in order.
bool AddSuperIndex(TAviFile& file, const TStreamFacts& stream, const std::vector<TChunk>& riffs,
                   std::uint64_t& count, std::uint64_t& bytes) {
  unsigned char head[24];
  const TChunk& indx = stream.SuperIndex;
  if (indx.Size < sizeof head || !file.Read(indx.Data, head, sizeof head)) return false;
  const std::uint32_t entries = Le32(head + 4);
  // Four longs an entry, an index of indexes.
  if (Le16(head) != 4 || head[3] != 0 || entries != riffs.size() || 24 + std::uint64_t(entries) * 16 > indx.Size)
    return false;
  for (std::uint32_t i = 0; i < entries; ++i) {
    unsigned char entry[16];
    if (!file.Read(indx.Data + 24 + std::int64_t(i) * 16, entry, sizeof entry) ||
        !AddStandardIndex(file, riffs[i], Le64(entry), Le32(head + 8), count, stream.SampleSize ? &bytes : nullptr))
      return false;
  }
  return true;
}

bool IndexesAddUp(TAviFile& file, const THeaderFacts& facts, const std::vector<TChunk>& riffs) {
  std::uint64_t pictures = 0;
  for (const TStreamFacts& stream : facts.Streams) {
    std::uint64_t count = 0, bytes = 0;
    if (!AddSuperIndex(file, stream, riffs, count, bytes)) return false;
    if ((stream.SampleSize ? bytes / stream.SampleSize : count) != stream.Length) return false;
    if (stream.Video) pictures = std::max(pictures, count);
  }
  return facts.HasTotalFrames && facts.TotalFrames == pictures;
}

}  // namespace

bool AviLayoutIsWhole(const std::string& fileName) {
  TAviFile file(fileName);
  std::vector<TChunk> riffs;
  if (!file.Open() || !ReadRiffs(file, riffs)) return false;
  // One RIFF: its size is written last of all, once the index and the lengths are in.
  if (riffs.size() == 1) return true;
  THeaderFacts facts;
  return ReadHeader(file, riffs.front(), facts) && IndexesAddUp(file, facts, riffs);
}

}  // namespace qv
