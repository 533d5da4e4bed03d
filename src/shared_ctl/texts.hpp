// SPDX-License-Identifier: MIT
// How velkshared-ctl writes what it found: texts for a person (in double
// quotes, escaped as C and a shell's $'...' read alike) and JSON.
#pragma once

#include <string>
#include <string_view>

namespace velkctl {

// In double quotes: \n, \t, \r, \\, \", \xHH (never followed by a hex
// digit, else \ooo in octal); valid UTF-8 as it is.
std::string quoted(std::string_view text);

// `"name": "text"` (invalid UTF-8 as U+FFFD), and `"name_base64": "..."`
// beside it for bytes that are no UTF-8.
std::string json_field(const char* name, std::string_view bytes);

// A number of JSON: the shortest form that reads back as the same double;
// NaN and the infinities, which JSON has no numbers for, as the strings
// "NaN", "Infinity" and "-Infinity".
std::string json_number(double value);

std::string number(long long value);

// "1 entry", "2 entries", "0 entries".
std::string counted(long long n, const char* one, const char* many);

}  // namespace velkctl
