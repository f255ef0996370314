// Reading and writing the numbers of the library's text files (range files,
// models): blank-separated tokens, numbers read whole, floats written so
// that they read back the same.
#pragma once

#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace programma {

// The blank-separated tokens of a line.
std::vector<std::string_view> tokens_of(std::string_view line);

// A whole token as strtof reads a number (a leading '+' too, and out of
// range as strtof rounds it: to an infinity or towards 0); nothing when the
// token is not wholly a number.
std::optional<float> float_token(std::string_view token);

// A whole token read exactly as a float ("inf" and "nan" too); nothing when
// it is not wholly one or lies beyond the float range.
std::optional<float> exact_float(std::string_view token);

// A whole token read exactly as a number of its type (from_chars' form:
// no '+', no blanks); nothing when it is not wholly one or does not fit.
template <typename Number>
std::optional<Number> whole_number(std::string_view token) {
    Number value{};
    const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
    if (token.empty() || error != std::errc() || end != token.data() + token.size()) return std::nullopt;
    return value;
}

// "%.17g" of the float widened to double: it reads back as the same float.
void append_number(std::string& out, float value);

// The shortest text that reads back as the same float.
void append_shortest(std::string& out, float value);

}  // namespace programma
