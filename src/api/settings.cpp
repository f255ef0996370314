// The settings' value rules: each option's text read the way atoi and atof
// read it, with the refusals that keep a run's numbers defined.
#include "programma/settings.h"

#include <cctype>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace programma {
namespace {

bool starts_with_letter(const char* value) { return std::isalpha(static_cast<unsigned char>(value[0])) != 0; }

// Reads a number the way atoi does (leading white space, a sign, then digits,
// anything after them ignored, no digits meaning 0), but reports a value
// outside the range of int instead of leaving it undefined.
bool integer_value(const char* text, long long& value) {
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        value = value * 10 + (*p - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) return false;
    }
    if (negative) value = -value;
    return value >= INT_MIN && value <= INT_MAX;
}

// atof narrowed to float with round-to-nearest: values beyond the float
// range become infinities (spelled out, since such a conversion is otherwise
// undefined).
float float_value(const char* text) {
    const double value = std::atof(text);
    const double magnitude = std::fabs(value);
    if (magnitude >= 0x1.ffffffp127) return value > 0 ? HUGE_VALF : -HUGE_VALF;
    if (magnitude > FLT_MAX) return value > 0 ? FLT_MAX : -FLT_MAX;
    return static_cast<float>(value);
}

bool flag_value(const char* value, uint8_t& flag) {
    const std::string_view text(value);
    if (text != "0" && text != "1") return false;
    flag = text == "1" ? 1 : 0;
    return true;
}

bool kernel_value(const char* value, KernelKind& kind) {
    const std::string_view text(value);
    if (text == "pol") {
        kind = KernelKind::polynomial;
        return true;
    }
    if (text == "gauss") {
        kind = KernelKind::gaussian;
        return true;
    }
    return false;
}

}  // namespace

int set_variable(Settings& settings, const char* name, const char* value) {
    const std::string_view option(name);
    if (option == "-a") return flag_value(value, settings.adaboost) ? 0 : 1;
    if (option == "-c" || option == "-d") {
        if (starts_with_letter(value)) return 1;
        (option == "-c" ? settings.gaussian_c : settings.polinomial_degree) = float_value(value);
        return 0;
    }
    if (option == "-dg") {
        long long number = 0;
        if (starts_with_letter(value) || !integer_value(value, number)) return 1;
        settings.digit = static_cast<uint32_t>(number);
        return settings.digit > 9 ? 1 : 0;
    }
    if (option == "-e") {
        long long number = 0;
        if (starts_with_letter(value) || !integer_value(value, number) || number < 0) return 1;
        settings.epocs = static_cast<uint32_t>(number);
        return 0;
    }
    if (option == "-k") return kernel_value(value, settings.kernel_algoritm) ? 0 : 1;
    if (option == "-l") {
        settings.load_list = 1;
        settings.list = value;
        return 0;
    }
    if (option == "-tr") {
        settings.training_set = value;
        return 0;
    }
    if (option == "-ts") {
        settings.test_set = value;
        return 0;
    }
    if (option == "-vot") return flag_value(value, settings.voted) ? 0 : 1;
    return 1;
}

}  // namespace programma
