// Reading a command's arguments: options in order, their values checked
// where they are read, each refusal naming the option.
#include "arguments.h"

#include <cstdlib>

#include "text.h"

namespace {

// A value of programma's -k, -c, -d or -e, read by programma's rules.
template <typename T>
T programma_value(const std::string& option, const std::string& text, programma::Result<T>&& parsed) {
    if (!parsed) throw std::invalid_argument(option + " does not take '" + text + "'");
    return parsed.value();
}

}  // namespace

bool is_help(std::string_view arg) { return arg == "-h" || arg == "--help"; }

const std::string& Arguments::peek_option() const {
    if (is_help(items_[next_])) throw HelpWanted{};
    return items_[next_];
}

std::string Arguments::take_option() {
    peek_option();
    return take();
}

std::string Arguments::value_of(const std::string& option) {
    if (done()) throw std::invalid_argument(option + " needs a value");
    return take();
}

std::string Arguments::path_of(const std::string& option) {
    std::string path = value_of(option);
    if (path.empty()) throw std::invalid_argument(option + " needs a file name, not an empty one");
    return path;
}

void Arguments::refuse(const std::string& option) const {
    throw std::invalid_argument(std::string(command_) + " has no option " + option);
}

uint32_t count_value(const std::string& option, const std::string& text, uint32_t least) {
    uint32_t value = 0;
    if (!parse_whole(text, value) || value < least) {
        throw std::invalid_argument(option + " needs a whole number from " + std::to_string(least) + ", not '" + text +
                                    "'");
    }
    return value;
}

uint32_t at_most(const std::string& option, uint32_t value, uint32_t most) {
    if (value > most) throw std::invalid_argument(option + " goes up to " + std::to_string(most));
    return value;
}

float float_value(const std::string& option, std::string_view text) {
    float value = 0.0f;
    if (!parse_float(text, value)) {
        throw std::invalid_argument(option + " needs a number, not '" + std::string(text) + "'");
    }
    return value;
}

programma::KernelKind kernel_value(const std::string& option, const std::string& text) {
    return programma_value(option, text, programma::parse_kernel(text));
}

uint32_t epochs_value(const std::string& option, const std::string& text) {
    return programma_value(option, text, programma::parse_epochs(text));
}

float parameter_value(const std::string& option, const std::string& text) {
    const bool constant = option == "-c";
    const float value =
        programma_value(option, text, constant ? programma::parse_constant(text) : programma::parse_degree(text));
    programma::Recogniser recogniser;
    recogniser.kernel = {constant ? programma::KernelKind::gaussian : programma::KernelKind::polynomial, value};
    if (const programma::Status checked = programma::check(recogniser); !checked) {
        throw std::invalid_argument(option + " does not take '" + text + "': " + checked.error().detail);
    }
    return value;
}

float margin_value(const std::string& option, const std::string& text) {
    const float value = programma_value(option, text, programma::parse_margin(text));
    programma::Recogniser recogniser;
    recogniser.margin = value;
    if (const programma::Status checked = programma::check(recogniser); !checked) {
        throw std::invalid_argument(option + " does not take '" + text + "': " + checked.error().detail);
    }
    return value;
}

ConstantChoice constant_value(const std::string& option, const std::string& text) {
    if (text == "scale") return {true, 1.0f};
    return {false, parameter_value(option, text)};
}

uint64_t seed_value(const std::string& option, const std::string& text) {
    uint64_t seed = 0;
    if (!parse_whole(text, seed))
        throw std::invalid_argument(option + " needs a whole number from 0, not '" + text + "'");
    return seed;
}

programma::Combine combine_value(const std::string& text) {
    for (const programma::Combine combine :
         {programma::Combine::last, programma::Combine::average, programma::Combine::vote}) {
        if (text == combine_name(combine)) return combine;
    }
    throw std::invalid_argument("--combine takes last, average or vote, not '" + text + "'");
}

const char* combine_name(programma::Combine combine) {
    switch (combine) {
        case programma::Combine::last: return "last";
        case programma::Combine::average: return "average";
        case programma::Combine::vote: return "vote";
    }
    return "last";  // not reached: every combiner is named above
}

const char* kernel_name(programma::KernelKind kind) {
    switch (kind) {
        case programma::KernelKind::polynomial: return "pol";
        case programma::KernelKind::gaussian: return "gauss";
    }
    return "pol";  // not reached: every kind is named above
}

std::string parameter_text(float parameter) {
    // Nine significant digits read back as any float.
    for (int digits = 6;; ++digits) {
        std::string text = printed("%.*g", digits, static_cast<double>(parameter));
        if (digits == 9 || !(std::strtof(text.c_str(), nullptr) != parameter)) return text;
    }
}
