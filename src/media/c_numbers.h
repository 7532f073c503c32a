// Numbers in the "C" conventions whatever the user's locale says. The media libraries read and print
// decimals with the C library's locale-dependent functions (option values such as "0.6", rates such
// as "29.97"), so a German locale would make "0.5" read as 0. The program takes the user's locale
// for everything else: the charset of file names, messages.
#pragma once

#include <string>
#include <string_view>

namespace qv {

// The environment's locale for every category but LC_NUMERIC, which stays "C".
void UseEnvironmentLocale();
// Puts LC_NUMERIC back to "C" when someone (a toolkit at start-up) took the environment's.
void KeepNumbersInCLocale();

// A plain decimal number ("-1.5", "2e3", "+.5"; no "inf", "nan" or hexadecimal), the whole text, read
// the same under every locale.
bool ParseDecimal(std::string_view text, double& out);
// The shortest text that reads back as `value`, with a '.' as the decimal point; an exponent only
// for very large or small values.
std::string FormatDecimal(double value);

}  // namespace qv
