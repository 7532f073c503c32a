// The generic option store: option names the transcoder does not know itself are handed to the media
// libraries' own option tables (codec, format, scaler), kept here and copied into each new codec or
// format context the transcoder creates. The store belongs to one transcoder and is used by the
// thread that sets its options and opens its files.
#pragma once

#include <string>
#include <vector>

struct AVCodec;
struct AVCodecContext;
struct AVDictionary;
struct AVFormatContext;
struct SwsContext;

namespace qv {

constexpr int kOptionStoreCodecContexts = 5;  // video, audio, data, subtitle, attachment

struct TOptionStore {
  AVCodecContext* CodecContexts[kOptionStoreCodecContexts] = {};
  AVFormatContext* FormatContext = nullptr;
  SwsContext* ScalerContext = nullptr;
  // Parallel lists: an option that one of the contexts above took is kept by its own name with no
  // value (the value lives in the context); one that only a codec's or muxer's private table knows is
  // kept with the value given.
  std::vector<std::string> Names;
  std::vector<std::string> Values;
  // Whether some codec or muxer context took an option kept with its value (private table).
  std::vector<bool> Taken;
  int Count = 0;
  // Options from this index on were given after the last file was opened: they are meant for the
  // next file, which must take each one.
  int FreshFrom = 0;

  TOptionStore() = default;
  ~TOptionStore();
  TOptionStore(const TOptionStore&) = delete;
  TOptionStore& operator=(const TOptionStore&) = delete;
};

// Frees what the store holds, then makes fresh contexts (the scaler one with scalerFlags).
void InitOptionStore(TOptionStore& store, int scalerFlags);
void FreeOptionStore(TOptionStore& store);

// False when no context, codec or muxer knows the name or the value is rejected; LastOptionError()
// then holds the reason, which the caller logs under its own name.
bool SetGenericOption(TOptionStore& store, const std::string& name, const std::string& value);

// Copies the stored options into a newly created codec context or format context (`target`), taking
// the values from the store's context of the same kind (`source`); options whose flags do not contain
// all of `flags` go to the target's private options instead, if those know them. `codec` is the codec
// the target was created for (ignored for format contexts). Returns "" or the refusal of a private
// option's value ("Invalid value "x" for option "y"").
std::string ApplyGenericOptions(TOptionStore& store, void* target, void* source, const AVCodec* codec, int flags);

// The first option given for the file being opened that none of its contexts took, or "". `kinds`
// are the media types of the file's encoders (AVMediaType values).
struct TUnusedOption {
  std::string Name;
  std::string Value;
  bool KnownToEncoders[kOptionStoreCodecContexts] = {};  // by media type, as the contexts above
  bool KnownToMuxers = false;
};
bool FindUnusedOption(const TOptionStore& store, TUnusedOption& unused);
// A demuxer takes its options from a dictionary and leaves there the ones it does not know: the
// options given for the file being opened go in, and those gone after the open count as taken.
void PutFreshOptions(const TOptionStore& store, AVDictionary** dict);
void TakeOptionsMissingFrom(TOptionStore& store, const AVDictionary* left);
// The options given so far have had their file.
void UseUpGenericOptions(TOptionStore& store);

// Text of the last rejected generic option, process-wide.
std::string LastOptionError();

}  // namespace qv
