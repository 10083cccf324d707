// Numbers in the text files the tool reads (.cdi, .csv), read the same in
// every locale.
#pragma once

#include <charconv>
#include <string_view>
#include <system_error>

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
