#pragma once

#include <cstdint>

namespace qv {

// Load order and bit number in a TLibrarySet. Kind 1 is libswresample (its old slot held a library
// whose functions now live in libavutil); kind 7 is the C library, always taken from the system.
enum TLibraryKind : int {
  kAvcodec = 0,
  kSwresample = 1,
  kAvdevice = 2,
  kAvfilter = 3,
  kAvformat = 4,
  kAvutil = 5,
  kSwscale = 6,
  kCLibrary = 7,
};

constexpr int kLibraryKindCount = 8;

using TLibrarySet = std::uint8_t;

constexpr TLibrarySet LibraryBit(TLibraryKind kind) { return TLibrarySet(1u << kind); }
// Everything the encoder needs: all kinds but the device library.
constexpr TLibrarySet kEncoderLibraries = TLibrarySet(0xFF & ~(1u << kAvdevice));
constexpr TLibrarySet kAllLibraries = 0xFF;

}  // namespace qv
