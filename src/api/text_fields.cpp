// Tokens and numbers of the library's text files.
#include "text_fields.h"

#include <charconv>
#include <cstdlib>

namespace programma {

std::vector<std::string_view> tokens_of(std::string_view line) {
    std::vector<std::string_view> tokens;
    constexpr std::string_view kBlanks = " \t\v\f";
    for (std::size_t start = line.find_first_not_of(kBlanks); start != std::string_view::npos;) {
        const std::size_t end = std::min(line.find_first_of(kBlanks, start), line.size());
        tokens.push_back(line.substr(start, end - start));
        start = line.find_first_not_of(kBlanks, end);
    }
    return tokens;
}

std::optional<float> float_token(std::string_view token) {
    if (token.size() > 1 && token[0] == '+' && token[1] != '-' && token[1] != '+') token.remove_prefix(1);
    float value = 0.0f;
    const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
    if (token.empty() || end != token.data() + token.size()) return std::nullopt;
    if (error == std::errc::result_out_of_range) return std::strtof(std::string(token).c_str(), nullptr);
    if (error != std::errc()) return std::nullopt;
    return value;
}

std::optional<float> exact_float(std::string_view token) {
    float value = 0.0f;
    const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
    if (token.empty() || error != std::errc() || end != token.data() + token.size()) return std::nullopt;
    return value;
}

void append_number(std::string& out, float value) {
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, double(value), std::chars_format::general, 17);
    out.append(text, written.ptr);
}

void append_shortest(std::string& out, float value) {
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    out.append(text, written.ptr);
}

}  // namespace programma
