// Value parsers shared by the option handlers. Each raises FFmpegException with the text the user
// sees when the value is malformed.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

// "0" is false; anything else, also an empty text, is true.
bool ParseBoolValue(const std::string& value);
// Decimal (or 0x/$ hexadecimal) integers; "'%s' is not a valid integer value" otherwise.
int ParseIntValue(const std::string& value);
std::int64_t ParseInt64Value(const std::string& value);
// "'%s' is not a valid floating point value" otherwise.
double ParseFloatValue(const std::string& value);
// Raises "The value for <option> was <value> which is not within <lowest> - <highest>" for a value
// outside the range; options whose values are multiplied or summed keep the results representable.
void CheckRange(const std::string& option, double value, double lowest, double highest);
// The mux delay and preload become whole microseconds in an int.
constexpr double kMaxMuxSeconds = 2147483647 / 1e6;
// The library's time parser: a duration ("[-][HH:]MM:SS[.m...]" or seconds) or a date; µs.
// "Invalid duration specification for <option>: <value>" / "Invalid date ..." otherwise.
std::int64_t ParseTimeValue(const std::string& option, const std::string& value, bool isDuration);
// The text before the first ':' ... used by a few handlers: strtol-like reading that stops at the
// first character that is not part of the number; `pos` moves past what was read.
long ReadLeadingInt(const std::string& text, std::size_t& pos);
// The program's folder with a trailing '/'.
std::string ProgramFolder();

}  // namespace qv
