// The values programma's command line shares with other programs, read by
// programma's rules (atoi's and atof's reading, with the refusals that keep a
// run's numbers defined), and the one check of a recogniser's settings.
#include <cctype>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "file_lib.h"
#include "programma/api.h"

namespace programma {
namespace {

bool starts_with_letter(std::string_view text) {
    return !text.empty() && std::isalpha(static_cast<unsigned char>(text[0])) != 0;
}

Error refused(std::string_view text, const char* field, std::string_view why) {
    std::string detail(1, '\'');
    detail.append(text).append("' ").append(why);
    return Error{ErrorKind::invalid_argument, std::move(detail), {}, 0, 0, field};
}

// Reads a number the way atoi does (leading white space, a sign, then digits,
// anything after them ignored, no digits meaning 0), but reports a value
// outside the range of int instead of leaving it undefined.
bool integer_value(std::string_view text, long long& value) {
    std::size_t p = 0;
    while (p < text.size() && std::isspace(static_cast<unsigned char>(text[p]))) ++p;
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
    value = 0;
    for (; p < text.size() && std::isdigit(static_cast<unsigned char>(text[p])); ++p) {
        value = value * 10 + (text[p] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) return false;
    }
    if (negative) value = -value;
    return value >= INT_MIN && value <= INT_MAX;
}

Result<float> parameter_value(std::string_view text, const char* field) {
    if (starts_with_letter(text)) return refused(text, field, "starts with a letter, not a number");
    const std::string copy(text);  // atof reads up to a terminating zero
    return kernel_parameter(std::atof(copy.c_str()));
}

// A positive finite kernel parameter; `what` names it.
Status positive_finite(float value, const char* what) {
    if (std::isfinite(value) && value > 0.0f) return Done{};
    char shown[32];
    std::snprintf(shown, sizeof shown, "%g", static_cast<double>(value));
    return Error{
        ErrorKind::invalid_argument, std::string("the ") + what + " must be finite and above 0, not " + shown, {}, 0, 0,
        "kernel.parameter"};
}

// What a kind's parameter is called; null for a value no kind has.
const char* parameter_name(KernelKind kind) {
    switch (kind) {
        case KernelKind::polynomial: return "polynomial degree";
        case KernelKind::gaussian: return "gaussian constant";
    }
    return nullptr;
}

// A margin finite and not below 0; -0 is 0.
Status margin_check(float margin) {
    if (std::isfinite(margin) && margin >= 0.0f) return Done{};
    char shown[32];
    std::snprintf(shown, sizeof shown, "%g", static_cast<double>(margin));
    return Error{ErrorKind::invalid_argument,
                 std::string("the margin must be finite and not below 0, not ") + shown,
                 {},
                 0,
                 0,
                 "margin"};
}

}  // namespace

// atof narrowed to float with round-to-nearest: values beyond the float range
// become infinities (spelled out, since such a conversion is otherwise
// undefined).
float kernel_parameter(double value) {
    const double magnitude = std::fabs(value);
    if (magnitude >= 0x1.ffffffp127) return value > 0 ? HUGE_VALF : -HUGE_VALF;
    if (magnitude > FLT_MAX) return value > 0 ? FLT_MAX : -FLT_MAX;
    return static_cast<float>(value);
}

float error_fraction(uint32_t wrong, uint32_t rows) { return ::error_fraction(wrong, rows); }

Result<KernelKind> parse_kernel(std::string_view text) {
    if (text == "pol") return KernelKind::polynomial;
    if (text == "gauss") return KernelKind::gaussian;
    return refused(text, "kernel", "is no kernel: pol or gauss");
}

Result<float> parse_constant(std::string_view text) { return parameter_value(text, "constant"); }

Result<float> parse_degree(std::string_view text) { return parameter_value(text, "degree"); }

Result<float> parse_margin(std::string_view text) {
    const std::string copy(text);  // strtod reads up to a terminating zero
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    const bool whole =
        !copy.empty() && std::isspace(static_cast<unsigned char>(copy[0])) == 0 && end == copy.c_str() + copy.size();
    if (!whole) return refused(text, "margin", "is not a number");
    return kernel_parameter(value);
}

Result<uint32_t> parse_epochs(std::string_view text) {
    long long number = 0;
    if (starts_with_letter(text) || !integer_value(text, number) || number < 0) {
        return refused(text, "epochs", "is not a count of epochs from 0 to 2147483647");
    }
    return static_cast<uint32_t>(number);
}

Status check(const Recogniser& recogniser) {
    const char* parameter = parameter_name(recogniser.kernel.kind);
    if (parameter == nullptr) {
        return Error{ErrorKind::invalid_argument,
                     std::to_string(static_cast<int32_t>(recogniser.kernel.kind)) + " names no kernel kind",
                     {},
                     0,
                     0,
                     "kernel.kind"};
    }
    if (Status valued = positive_finite(recogniser.kernel.parameter, parameter); !valued) return valued;
    if (recogniser.epochs > uint32_t(INT_MAX)) {
        return Error{ErrorKind::invalid_argument,
                     std::to_string(recogniser.epochs) + " epochs are more than 2147483647",
                     {},
                     0,
                     0,
                     "epochs"};
    }
    return margin_check(recogniser.margin);
}

}  // namespace programma
