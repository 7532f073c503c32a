// TFFEncoder::SetOutputFile: the output record, its option text, the defaults the codecs, presets,
// frame size and filters go through, and the streams that "newaudio"/"newvideo"/"newsubtitle" add.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "encoder/encoder_records.h"
#include "encoder/ext_options.h"
#include "encoder/ff_encoder.h"
#include "engine/ffmpeg_exception.h"

namespace qv {

namespace {

// "def_acodec", ... from the record and the option text, and every codec/preset/size/filter line of
// the option text for the streams that "new*" lines add later.
struct TOutputDefaults {
  std::map<std::string, std::string> Def;                  // key without "def_"
  std::vector<std::pair<std::string, std::string>> List;  // (key, value) in text order

  std::string Get(const std::string& key) const {
    auto it = Def.find(key);
    return it == Def.end() ? std::string() : it->second;
  }
  // The first remaining list entry of `key` (removed), else the default.
  std::string Take(const std::string& key) {
    for (auto it = List.begin(); it != List.end(); ++it)
      if (it->first == key) {
        std::string v = it->second;
        List.erase(it);
        return v;
      }
    return Get(key);
  }
};

TOutputDefaults BuildDefaults(const TOutputOptions& o, const std::vector<TOptionLine>& lines) {
  TOutputDefaults d;
  auto put = [&](const char* key, const std::string& value) {
    if (!value.empty()) d.Def[key] = value;
  };
  put("acodec", o.AudioCodec);
  put("vcodec", o.VideoCodec);
  put("scodec", o.SubtitleCodec);
  put("apre", o.AudioPreset);
  put("vpre", o.VideoPreset);
  put("spre", o.SubtitlePreset);
  put("s", o.FrameSize);
  put("vf", o.VideoFilters);
  for (const TOptionLine& line : lines) {
    std::string key = line.Key == "vfilters" ? "vf" : line.Key;
    if (line.Value.empty()) continue;
    if (key != "acodec" && key != "vcodec" && key != "scodec" && key != "apre" && key != "vpre" && key != "spre" &&
        key != "s" && key != "vf")
      continue;
    // A line that becomes the default serves the output's first stream of its kind; only the lines
    // after it are left for the streams added by "new*" lines (otherwise a second "vcodec" line
    // meant for the added stream would be passed over in favour of the first).
    if (d.Get(key).empty())
      d.Def[key] = line.Value;
    else
      d.List.emplace_back(key, line.Value);
  }
  return d;
}

void SetIfPositive(TFFmpeg& task, const char* name, int value) {
  if (value > 0) task.SetOption(name, std::to_string(value));
}

void ApplyTarget(TFFmpeg& task, const TOutputOptions& o) {
  static const char* const kTargets[] = {"", "vcd", "svcd", "dvd"};
  if (o.Target < 1 || o.Target > 3) return;
  std::string norm;
  if (o.TargetNorm == 1) {
    norm = "pal-";
  } else if (o.TargetNorm == 2) {
    norm = "ntsc-";
  } else {
    // Auto: the inputs' frame rate decides when it is one of the norms' rates.
    const AVRational r = task.Options().FrameRate;
    const int fr = r.num > 0 && r.den > 0 ? int(r.num * 1000.0 / r.den) : 0;
    if (fr != 25000 && fr != 29970 && fr != 23976) norm = o.TargetDefaultNorm == 1 ? "pal-" : "ntsc-";
  }
  task.SetOption("target", norm + kTargets[o.Target]);
}

void ApplyMetadata(TFFmpeg& task, const TStreamInfo& info) {
  std::string ts = TimestampOptionText(info.Timestamp);
  if (!ts.empty()) task.SetOption("timestamp", ts);
  if (info.Year > 0) task.SetMetadata("year", std::to_string(info.Year));
  if (info.Track > 0) task.SetMetadata("track", std::to_string(info.Track));
  const std::pair<const char*, const std::string*> texts[] = {
      {"title", &info.Title},     {"author", &info.Author}, {"copyright", &info.Copyright},
      {"comment", &info.Comment}, {"album", &info.Album},   {"genre", &info.Genre}};
  for (const auto& [key, value] : texts)
    if (!value->empty()) task.SetMetadata(key, *value);
}

// Step 3: target, default codecs and presets, the option text, then the record's fields in their
// order, then the default frame size and filters.
void ApplyOutputOptions(TFFmpeg& task, const TOutputOptions& o, const std::vector<TOptionLine>& lines,
                        const TOutputDefaults& d) {
  ApplyTarget(task, o);
  if (!d.Get("acodec").empty()) task.SetAudioCodec(d.Get("acodec"));
  if (!d.Get("vcodec").empty()) task.SetVideoCodec(d.Get("vcodec"));
  if (!d.Get("scodec").empty()) task.SetSubtitleCodec(d.Get("scodec"));
  if (!d.Get("apre").empty()) task.SetPreset('a', d.Get("apre"));
  if (!d.Get("vpre").empty()) task.SetPreset('v', d.Get("vpre"));
  if (!d.Get("spre").empty()) task.SetPreset('s', d.Get("spre"));
  for (const TOptionLine& line : lines)
    if (!IsHeldBackOutputKey(line.Key)) task.SetOption(line.Key, line.Value);

  // Fields "copied as is" are passed only when they differ from the transcoder's own default, so
  // an "async", "vsync", "isync" or language line of the option text is not undone by a record
  // that never set them.
  if (!o.FileFormat.empty()) task.SetForceFormat(o.FileFormat);
  SetIfPositive(task, "packetsize", o.PacketSize);
  SetIfPositive(task, "muxrate", o.MuxRate);
  task.SetMuxDelay(o.MuxMaxDelay);
  task.SetMuxPreload(o.MuxPreload);
  if (o.DisableAudio) task.SetOption("an", "1");
  task.SetAudioVolume(o.AudioVolume);
  task.SetAudioChannels(o.AudioChannels);
  task.SetAudioSampleRate(o.AudioSampleRate);
  if (o.Target == 0) SetIfPositive(task, "ab", o.AudioBitrate);
  SetIfPositive(task, "abt", o.AudioBitrateTolerance);
  if (!o.AudioLanguage.empty()) task.SetOption("alang", o.AudioLanguage);
  if (o.AudioSync != 0) task.SetAudioSyncMethod(o.AudioSync);
  if (!o.AudioTag.empty()) task.SetAudioTag(o.AudioTag);
  if (o.DisableVideo) task.SetOption("vn", "1");
  if (!o.FrameRate.empty()) task.SetFrameRate(o.FrameRate);
  if (!o.AspectRatio.empty()) task.SetFrameAspectRatio(o.AspectRatio);
  SetIfPositive(task, "g", o.GopSize);
  if (o.Target == 0) SetIfPositive(task, "vb", o.VideoBitrate);
  SetIfPositive(task, "maxrate", o.VideoMaxRate);
  SetIfPositive(task, "minrate", o.VideoMinRate);
  SetIfPositive(task, "bt", o.VideoBitrateTolerance);
  SetIfPositive(task, "bufsize", o.VideoBufferSize);
  if (o.VideoSync != -1) task.SetVideoSyncMethod(o.VideoSync);
  if (!o.VideoTag.empty()) task.SetVideoTag(o.VideoTag);
  if (!o.VideoLanguage.empty()) task.SetOption("vlang", o.VideoLanguage);
  if (o.DisableSubtitle) task.SetOption("sn", "1");
  if (!o.SubtitleLanguage.empty()) task.SetOption("slang", o.SubtitleLanguage);
  if (o.InputSync) task.SetOption("isync", "1");
  if (o.CopyTimestamps) task.SetOption("copyts", "1");
  task.SetStartTime(o.StartTime);
  task.SetRecordingTime(o.RecordingTime);
  ApplyMetadata(task, o.Info);

  if (!d.Get("s").empty()) task.SetFrameSize(d.Get("s"));
  if (!d.Get("vf").empty()) task.SetVideoFilters(d.Get("vf"));
}

// Step 5: each "new*" line gets its stream's codec and preset (and for video size and filters) from
// the remaining option lines, else from the defaults.
void AddNewStreams(TFFmpeg& task, const std::vector<TOptionLine>& lines, TOutputDefaults& d) {
  for (const TOptionLine& line : lines) {
    if (line.Key == "newaudio") {
      std::string codec = d.Take("acodec"), preset = d.Take("apre");
      if (!codec.empty()) task.SetAudioCodec(codec);
      if (!preset.empty()) task.SetPreset('a', preset);
    } else if (line.Key == "newvideo") {
      std::string codec = d.Take("vcodec"), preset = d.Take("vpre"), size = d.Take("s"), vf = d.Take("vf");
      if (!codec.empty()) task.SetVideoCodec(codec);
      if (!preset.empty()) task.SetPreset('v', preset);
      if (!size.empty()) task.SetFrameSize(size);
      if (!vf.empty()) task.SetVideoFilters(vf);
    } else if (line.Key == "newsubtitle") {
      std::string codec = d.Take("scodec"), preset = d.Take("spre");
      if (!codec.empty()) task.SetSubtitleCodec(codec);
      if (!preset.empty()) task.SetPreset('s', preset);
    } else {
      continue;
    }
    task.SetOption(line.Key, line.Value);
  }
}

}  // namespace

bool TFFEncoder::SetOutputFile(int taskIndex, const std::wstring& fileName, const TOutputOptions* options) {
  CheckWorking("SetOutputFile");
  TFFmpeg* task = TaskAt(taskIndex);
  if (!task) return false;
  if (task->OutputCount() >= MaxFiles) {
    FLastError = Format("max output files %d reached", MaxFiles);
    return false;
  }
  const int outputIndex = task->OutputCount();
  // A failure after the open (a stream that "new*" lines add, the join slots) closes what was opened.
  auto fail = [&](const std::string& error) {
    FLastError = error;
    task->CloseOutputsFrom(outputIndex);
    task->ResetOutputOptions(outputIndex);
    return false;
  };
  TOutputOptions o;
  if (options) {
    o = *options;
    if (o.FileName.empty()) o.FileName = fileName;
  }
  try {
    std::vector<TOptionLine> lines;
    TOutputDefaults defaults;
    if (options) {
      task->StoreOutputOptions(outputIndex, o);
      lines = ParseOptionText(o.ExtOptions);
      defaults = BuildDefaults(o, lines);
      ApplyOutputOptions(*task, o, lines, defaults);
      BindHookCallbacks(*task, o);
      if (o.HookBitmapBits != 8 && o.HookBitmapBits != 15 && o.HookBitmapBits != 16 && o.HookBitmapBits != 24 &&
          o.HookBitmapBits != 32)
        RaiseFFmpegFmt("Invalid BitsPixel %d", o.HookBitmapBits);
      task->SetHookBitsPixel(o.HookBitmapBits);
    } else {
      task->ResetOutputOptions(outputIndex);
    }
    task->IoTimeout = IoTimeout;
    if (task->OpenOutput(fileName, o.Join) < 0) return fail(task->LastError());
    AddNewStreams(*task, lines, defaults);
    if (o.Join) task->PrepareJoin();
    return true;
  } catch (const std::exception& e) {
    return fail(e.what());
  }
}

}  // namespace qv
