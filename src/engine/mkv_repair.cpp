#include "engine/mkv_repair.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "engine/mkv_cues.h"

namespace qv {

namespace {

constexpr std::uint32_t kEbml = 0x1A45DFA3, kSegment = 0x18538067, kInfo = 0x1549A966, kTracks = 0x1654AE6B,
                        kCluster = 0x1F43B675, kDuration = 0x4489, kVoid = 0xEC,
                        kCrc = 0xBF, kTimestamp = 0xE7, kSimpleBlock = 0xA3, kBlockGroup = 0xA0, kBlock = 0xA1,
                        kBlockDuration = 0x9B, kSeekHead = 0x114D9B74, kCues = 0x1C53BB6B, kTags = 0x1254C367,
                        kChapters = 0x1043A770, kAttachments = 0x1941A469, kTrackEntry = 0xAE,
                        kTrackNumber = 0xD7, kTrackType = 0x83;
// The longest element header: a four-byte ID and an eight-byte size.
constexpr std::int64_t kLongestHeader = 12;

bool IsTopLevel(std::uint32_t id) {
  for (const std::uint32_t known : {kSeekHead, kInfo, kTracks, kCues, kCluster, kTags, kChapters, kAttachments, kVoid})
    if (id == known) return true;
  return false;
}
// A Duration element holding an 8-byte float: its ID, its size, the value.
constexpr std::int64_t kDurationBytes = 11;

struct TElement {
  std::uint32_t Id = 0;
  std::int64_t Start = 0, SizeAt = 0, Body = 0, Size = 0, End = 0;
  int SizeWidth = 0;
  bool Unknown = false;  // the size is "unknown": the element runs to where its parent ends
};

std::uint64_t BigEndian(const unsigned char* bytes, std::int64_t count) {
  std::uint64_t value = 0;
  for (std::int64_t i = 0; i < count; ++i) value = value << 8 | bytes[i];
  return value;
}

// An EBML variable-length number: an ID keeps its length marker, a size loses it.
bool ReadVint(const TFileReader& file, std::int64_t at, bool id, std::uint64_t& value, int& width, bool& allOnes) {
  unsigned char bytes[8];
  if (!file.Read(at, bytes, 1) || bytes[0] == 0) return false;
  width = std::countl_zero(bytes[0]) + 1;
  if (width > (id ? 4 : 8) || !file.Read(at + 1, bytes + 1, size_t(width - 1))) return false;
  value = BigEndian(bytes, width);
  if (!id) value &= (std::uint64_t(1) << 7 * width) - 1;
  allOnes = !id && value == (std::uint64_t(1) << 7 * width) - 1;
  return true;
}

// False when no element header can be read at `at`.
bool ReadElement(const TFileReader& file, std::int64_t at, TElement& e) {
  std::uint64_t id = 0, size = 0;
  int idWidth = 0;
  bool ones = false;
  if (!ReadVint(file, at, true, id, idWidth, ones)) return false;
  e.Id = std::uint32_t(id);
  e.Start = at;
  e.SizeAt = at + idWidth;
  if (!ReadVint(file, e.SizeAt, false, size, e.SizeWidth, e.Unknown)) return false;
  e.Body = e.SizeAt + e.SizeWidth;
  // A size past the end of the file is a piece cut off; its end is only compared with others.
  e.Size = e.Unknown ? 0 : std::int64_t(std::min<std::uint64_t>(size, std::uint64_t(1) << 62));
  e.End = e.Unknown ? file.Size() : e.Body + e.Size;
  return true;
}

std::uint64_t ReadUnsigned(const TFileReader& file, const TElement& e) {
  unsigned char bytes[8];
  if (e.Size < 1 || e.Size > 8 || !file.Read(e.Body, bytes, size_t(e.Size))) return 0;
  return BigEndian(bytes, e.Size);
}

// A time in ticks; the bound keeps a damaged one from overflowing a sum (2^40 ms is 34 years).
std::int64_t ReadTicks(const TFileReader& file, const TElement& e) {
  return std::int64_t(std::min<std::uint64_t>(ReadUnsigned(file, e), std::uint64_t(1) << 40));
}

double ReadFloat(const TFileReader& file, const TElement& e) {
  unsigned char bytes[8];
  if ((e.Size != 4 && e.Size != 8) || !file.Read(e.Body, bytes, size_t(e.Size))) return 0;
  if (e.Size == 4) return double(std::bit_cast<float>(std::uint32_t(BigEndian(bytes, 4))));
  return std::bit_cast<double>(BigEndian(bytes, 8));
}

// What the header says, and where its length goes.
struct THeader {
  TElement Duration;              // Id 0: none
  TElement Placeholder;           // a Void the length fits in (Id 0: none)
  double Length = 0;              // in ticks, as stated
};

void ReadInfo(const TFileReader& file, const TElement& info, THeader& header) {
  TElement e;
  for (std::int64_t at = info.Body; at < info.End && ReadElement(file, at, e) && !e.Unknown && e.End <= info.End;
       at = e.End) {
    if (e.Id == kDuration) header.Duration = e, header.Length = ReadFloat(file, e);
    // The muxer keeps 11 bytes of padding for the length it writes at the end.
    const std::int64_t room = e.End - e.Start;
    if (e.Id == kVoid && header.Placeholder.Id == 0 && (room == kDurationBytes || room >= kDurationBytes + 2))
      header.Placeholder = e;
  }
}

// The whole blocks of a cluster, which may run past the end of the file or of its segment.
struct TClusterScan {
  std::int64_t End = 0;      // of its last whole block
  std::int64_t CrcAt = -1;   // its CRC-32 element
  std::int64_t LastTick = 0;  // where its last block ends, in ticks (as far as is known)
  bool HasBlock = false;
};

// A block's time, relative to its cluster: after the track number, two bytes.
std::int64_t BlockTime(const TFileReader& file, const TElement& block) {
  std::uint64_t track = 0;
  int width = 0;
  bool ones = false;
  unsigned char bytes[2];
  if (!ReadVint(file, block.Body, false, track, width, ones) || !file.Read(block.Body + width, bytes, 2)) return 0;
  return std::int16_t(std::uint16_t(bytes[0] << 8 | bytes[1]));
}

std::int64_t GroupEnd(const TFileReader& file, const TElement& group) {
  TElement e;
  std::int64_t time = 0, duration = 0;
  for (std::int64_t at = group.Body; at < group.End && ReadElement(file, at, e) && !e.Unknown && e.End <= group.End;
       at = e.End) {
    if (e.Id == kBlock) time = BlockTime(file, e);
    if (e.Id == kBlockDuration) duration = ReadTicks(file, e);
  }
  return time + duration;
}

TClusterScan ScanCluster(const TFileReader& file, const TElement& cluster, std::int64_t limit) {
  TClusterScan scan;
  scan.End = cluster.Body;
  const std::int64_t end = std::min(cluster.End, limit);
  std::int64_t base = 0;
  TElement e;
  for (std::int64_t at = cluster.Body; at < end && ReadElement(file, at, e) && !e.Unknown && e.End <= end; at = e.End) {
    if (e.Id == kTimestamp) base = ReadTicks(file, e);
    if (e.Id == kCrc) scan.CrcAt = e.Start;
    if (e.Id == kSimpleBlock || e.Id == kBlockGroup) {
      const std::int64_t tick = base + (e.Id == kSimpleBlock ? BlockTime(file, e) : GroupEnd(file, e));
      scan.LastTick = std::max(scan.LastTick, tick);
      scan.HasBlock = true;
    }
    scan.End = e.End;
  }
  return scan;
}

// The segment's level-one elements, up to the first that is not whole.
struct TSegmentWalk {
  THeader Header;
  bool Tracks = false;
  std::int64_t Kept = 0;  // where what is kept ends
  TElement LastCluster;   // the last cluster kept (Id 0: none)
  TClusterScan Last;      // its blocks
  bool Cut = false;       // the last cluster kept was cut short
  std::int64_t DamagedAt = -1;  // where something other than a cut stopped the walk
  std::vector<std::int64_t> Clusters;  // where each cluster kept starts
  TElement SeekRoom;      // a Void where the segment's data begins: the muxer's room for a SeekHead
  bool Indexed = false;   // it has a SeekHead or Cues of its own
  std::vector<std::pair<std::uint32_t, std::uint64_t>> Found;  // Info, Tracks, Tags: where, in the segment
  std::uint64_t VideoTrack = 0;  // 0: none
};

// The number of the first video track.
std::uint64_t ReadVideoTrack(const TFileReader& file, const TElement& tracks) {
  TElement entry, e;
  for (std::int64_t at = tracks.Body; at < tracks.End && ReadElement(file, at, entry) && !entry.Unknown &&
                                      entry.End <= tracks.End;
       at = entry.End) {
    if (entry.Id != kTrackEntry) continue;
    std::uint64_t number = 0, type = 0;
    for (std::int64_t in = entry.Body; in < entry.End && ReadElement(file, in, e) && !e.Unknown && e.End <= entry.End;
         in = e.End) {
      if (e.Id == kTrackNumber) number = ReadUnsigned(file, e);
      if (e.Id == kTrackType) type = ReadUnsigned(file, e);
    }
    if (type == 1) return number;
  }
  return 0;
}

void NoteElement(const TFileReader& file, const TElement& segment, const TElement& e, TSegmentWalk& walk) {
  if (e.Start == segment.Body && e.Id == kVoid) walk.SeekRoom = e;
  walk.Indexed = walk.Indexed || e.Id == kSeekHead || e.Id == kCues;
  if (e.Id == kInfo || e.Id == kTracks || e.Id == kTags) walk.Found.push_back({e.Id, e.Start - segment.Body});
  if (e.Id == kTracks && walk.VideoTrack == 0) walk.VideoTrack = ReadVideoTrack(file, e);
}

TSegmentWalk WalkSegment(const TFileReader& file, const TElement& segment) {
  TSegmentWalk walk;
  walk.Kept = segment.Body;
  const std::int64_t limit = std::min(segment.End, file.Size());
  TElement e;
  for (std::int64_t at = segment.Body; at < limit; at = e.End) {
    const bool read = ReadElement(file, at, e);
    if (!read || !IsTopLevel(e.Id)) {
      // A header the end cut short is what a cut leaves; anything else is damage.
      if ((read || at + kLongestHeader <= file.Size()) && !file.OnlyZerosFrom(at)) walk.DamagedAt = at;
      break;
    }
    const bool whole = !e.Unknown && e.End <= limit;
    // Only the cut cluster and the last whole one are read inside.
    if (e.Id == kCluster && whole) {
      walk.Clusters.push_back(e.Start);
      walk.LastCluster = e;
      walk.Kept = e.End;
      continue;
    }
    if (e.Id == kCluster) {
      const TClusterScan scan = ScanCluster(file, e, limit);
      if (!scan.HasBlock) break;
      walk.Clusters.push_back(e.Start);
      walk.LastCluster = e;
      walk.Last = scan;
      walk.Kept = scan.End;
      walk.Cut = true;
      break;
    }
    if (!whole) break;
    if (e.Id == kInfo) ReadInfo(file, e, walk.Header);
    NoteElement(file, segment, e, walk);
    walk.Tracks = walk.Tracks || e.Id == kTracks;
    walk.Kept = e.End;
  }
  if (walk.LastCluster.Id != 0 && !walk.Cut) walk.Last = ScanCluster(file, walk.LastCluster, limit);
  return walk;
}

void CloseCutCluster(const TSegmentWalk& walk, TRepairPlan& plan) {
  const TElement& cluster = walk.LastCluster;
  std::string size;
  if (EbmlSizeBytes(std::uint64_t(walk.Kept - cluster.Body), cluster.SizeWidth, size))
    plan.Patches.push_back({cluster.SizeAt, size});
  if (walk.Last.CrcAt >= 0) plan.Patches.push_back({walk.Last.CrcAt, std::string(1, char(kVoid))});
}

void SetLength(const THeader& header, double ticks, TRepairPlan& plan) {
  const std::string value = BigEndianBytes(std::bit_cast<std::uint64_t>(ticks), 8);
  if (header.Duration.Id != 0) {
    if (header.Duration.Size == 8) plan.Patches.push_back({header.Duration.Body, value});
    if (header.Duration.Size == 4)
      plan.Patches.push_back({header.Duration.Body, BigEndianBytes(std::bit_cast<std::uint32_t>(float(ticks)), 4)});
    return;
  }
  const TElement& room = header.Placeholder;
  if (room.Id == 0) return;
  // What is left of the padding stays padding.
  std::string padding;
  if (!EbmlVoid(room.End - room.Start - kDurationBytes, padding)) return;
  const std::string bytes = "\x44\x89\x88" + value + padding;
  plan.Patches.push_back({room.Start, bytes});
}

// A cue for the cluster at `start` when its first video block is a key frame (one the cut left).
bool ClusterCue(const TFileReader& file, std::int64_t start, std::int64_t kept, const TSegmentWalk& walk,
                std::int64_t segmentBody, TMkvCue& cue) {
  TElement cluster, e;
  if (!ReadElement(file, start, cluster)) return false;
  const std::int64_t end = std::min(cluster.End, kept);
  std::int64_t base = 0;
  for (std::int64_t at = cluster.Body; at < end && ReadElement(file, at, e) && !e.Unknown && e.End <= end; at = e.End) {
    if (e.Id == kTimestamp) base = ReadTicks(file, e);
    if (e.Id != kSimpleBlock) continue;
    std::uint64_t track = 0;
    int width = 0;
    bool ones = false;
    unsigned char bytes[3];
    if (!ReadVint(file, e.Body, false, track, width, ones) || !file.Read(e.Body + width, bytes, 3)) return false;
    if (track != walk.VideoTrack) continue;
    // The flags after the block's time: 0x80 marks a key frame.
    const std::int64_t tick = base + std::int16_t(std::uint16_t(bytes[0] << 8 | bytes[1]));
    if (!(bytes[2] & 0x80) || tick < 0) return false;
    cue = {std::uint64_t(tick), std::uint64_t(start - segmentBody)};
    return true;
  }
  return false;
}

// Cues after the last cluster, found through a SeekHead in the room the muxer kept for one; when
// they do not fit on the disk, the repair goes on without them.
void AddCues(const TFileReader& file, const TElement& segment, const TSegmentWalk& walk, TRepairPlan& plan) {
  if (walk.Indexed || walk.SeekRoom.Id == 0 || walk.VideoTrack == 0) return;
  std::vector<TMkvCue> cues;
  TMkvCue cue;
  for (const std::int64_t start : walk.Clusters)
    if (ClusterCue(file, start, walk.Kept, walk, segment.Body, cue)) cues.push_back(cue);
  if (cues.empty()) return;
  const std::string bytes = EbmlCues(walk.VideoTrack, cues);
  auto entries = walk.Found;
  entries.push_back({kCues, std::uint64_t(walk.Kept - segment.Body)});
  std::string seekHead, size;
  if (!EbmlSeekHead(entries, walk.SeekRoom.End - walk.SeekRoom.Start, seekHead) ||
      !EbmlSizeBytes(std::uint64_t(walk.Kept - segment.Body) + bytes.size(), segment.SizeWidth, size))
    return;
  plan.Append = bytes;
  plan.AppendPatches = {{walk.SeekRoom.Start, seekHead}, {segment.SizeAt, size}};
}

}  // namespace

TRepairPlan PlanMkvRepair(const TFileReader& file) {
  TRepairPlan plan;
  TElement ebml, segment;
  if (!ReadElement(file, 0, ebml) || ebml.Id != kEbml || ebml.Unknown || !ReadElement(file, ebml.End, segment) ||
      segment.Id != kSegment) {
    plan.Error = "It is not an MKV file.";
    return plan;
  }
  const TSegmentWalk walk = WalkSegment(file, segment);
  if (walk.DamagedAt >= 0) {
    plan.Error = DamagedText(walk.DamagedAt);
    return plan;
  }
  // A length of nothing would leave the file no better than it was.
  if (!walk.Tracks || walk.LastCluster.Id == 0 || walk.Last.LastTick <= 0) {
    plan.Error = "No picture or sound in it can be read.";
    return plan;
  }
  plan.KeepBytes = walk.Kept;
  const std::uint64_t segmentSize = std::uint64_t(walk.Kept - segment.Body);
  const bool sizeRight = !segment.Unknown && std::uint64_t(segment.Size) == segmentSize;
  plan.Complete = walk.Kept == file.Size() && sizeRight && walk.Header.Length > 0;
  if (plan.Complete) return plan;
  std::string size;
  if (!sizeRight && EbmlSizeBytes(segmentSize, segment.SizeWidth, size)) plan.Patches.push_back({segment.SizeAt, size});
  if (walk.Cut) CloseCutCluster(walk, plan);
  SetLength(walk.Header, double(walk.Last.LastTick), plan);
  AddCues(file, segment, walk, plan);
  return plan;
}

}  // namespace qv
