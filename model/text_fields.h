// Lines and numbers in the text files the tool reads (.cdi, .csv), read the
// same in every locale.
#pragma once

#include <charconv>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

// The lines of a text without their line ends (LF or CR LF); a last line
// without one counts.
inline std::vector<std::string_view> textLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::string_view::size_type end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
    }
    return lines;
}

// A reader's refusal: `why`, when given, becomes "line N: " and what is
// wrong with that line; always 0.
inline int refuseLine(std::string* why, std::size_t line, const char* what)
{
    if (why)
        *why = "line " + std::to_string(line) + ": " + what;
    return 0;
}

// A decimal number that fills its field: an optional sign, digits, and for a
// real a point and an exponent. A hexadecimal real is not read, nor one
// beyond the type's range; for an integer that is 32 bits, so no value is
// wrapped into some byte. "inf" and "nan" are read as such: callers that
// store a real refuse them.
template <typename Number>
bool readNumber(std::string_view field, Number& out)
{
    if (field.size() > 1 && field[0] == '+' && field[1] != '-')
        field.remove_prefix(1);
    const char* end = field.data() + field.size();
    const std::from_chars_result read = std::from_chars(field.data(), end, out);
    return read.ec == std::errc() && read.ptr == end;
}
