// The option text of the component's records (ExtOptions): one name=value per line. Line breaks may
// be CR, LF or CRLF, and the literal "<CRLF>" counts as one too, so a whole list fits on one line of
// a settings file.
#pragma once

#include <string>
#include <vector>

namespace qv {

struct TOptionLine {
  std::string Key;    // lower-cased; the text before the first "=" (all of the line without one)
  std::string Value;  // the text after the first "=", unchanged
};

std::vector<TOptionLine> ParseOptionText(const std::string& text);

// Keys that an input's option text never hands to the transcoder directly: stream creation, presets
// and filters belong to outputs.
bool IsHeldBackInputKey(const std::string& key);
// For outputs the codecs and frame size are held back too: they go through the defaults and the
// streams that "newaudio"/"newvideo"/"newsubtitle" create.
bool IsHeldBackOutputKey(const std::string& key);

// The "timestamp" option's text for a TStreamInfo.Timestamp (days since 1899-12-30, local time):
// "" for a negative value (no timestamp), "now" for 0, else the moment in UTC as
// "YYYY-MM-DDTHH:MM:SSZ".
std::string TimestampOptionText(double timestamp);

}  // namespace qv
