// The arguments of one digit-tools command, taken in order, and the readers
// of the values its options take. A wrong command line is thrown as
// std::invalid_argument (exit status 2); -h or --help where an option may
// stand is thrown as HelpWanted (the command's help, status 0).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "programma/api.h"
#include "samples.h"

struct HelpWanted {};

bool is_help(std::string_view arg);

class Arguments {
public:
    Arguments(std::string_view command, std::vector<std::string> items) : command_(command), items_(std::move(items)) {}

    bool done() const { return next_ >= items_.size(); }
    std::string take() { return items_[next_++]; }
    // The next argument where an option may stand, left in place or taken;
    // HelpWanted when it asks for help.
    const std::string& peek_option() const;
    std::string take_option();
    // The next argument, taken as the value of `option`.
    std::string value_of(const std::string& option);
    // A file or folder name: an empty one would silently mean "none".
    std::string path_of(const std::string& option);
    // Refuses an option the command does not have.
    [[noreturn]] void refuse(const std::string& option) const;

private:
    std::string_view command_;
    std::vector<std::string> items_;
    std::size_t next_ = 0;
};

// A whole number from `least` on.
uint32_t count_value(const std::string& option, const std::string& text, uint32_t least);
// Refuses a value above `most`.
uint32_t at_most(const std::string& option, uint32_t value, uint32_t most);
// A number as sample files hold it.
float float_value(const std::string& option, std::string_view text);

// Values of programma's -k, -e, -c and -d, read by programma's rules; a
// constant or degree must also pass the library's check as its kernel's.
programma::KernelKind kernel_value(const std::string& option, const std::string& text);
uint32_t epochs_value(const std::string& option, const std::string& text);
float parameter_value(const std::string& option, const std::string& text);
// A --margin value: a number, finite and not below 0, by the library's
// reading and check.
float margin_value(const std::string& option, const std::string& text);

// A gaussian constant as -c gives it: a number, or a multiple of the
// constant the training data gives (`-c scale`: programma::scale_constant).
struct ConstantChoice {
    bool from_data = false;
    float value = 0.0f;  // the constant, or the multiple of the data's

    // The constant itself, given the data's.
    float resolved(float data_constant) const { return from_data ? value * data_constant : value; }
};

// A -c value: `scale`, or a constant as parameter_value reads it.
ConstantChoice constant_value(const std::string& option, const std::string& text);

// A --shuffle seed: a whole number from 0 to 2^64 - 1.
uint64_t seed_value(const std::string& option, const std::string& text);

// A --combine value: last, average or vote.
programma::Combine combine_value(const std::string& text);

// The names of a combiner and a kernel, as --combine and -k take them.
const char* combine_name(programma::Combine combine);
const char* kernel_name(programma::KernelKind kind);
// A kernel's constant or degree as the reports show it: "%g", with more
// digits where six would read back as another float.
std::string parameter_text(float parameter);

// programma's own sample files when -tr or -ts is not given.
inline constexpr const char* kDefaultTrainingSet = "Data/Training_set";
inline constexpr const char* kDefaultTestSet = "Data/Test_set";

// The items of a comma list, each read by `read`; an empty item is refused.
template <typename T, typename Read>
std::vector<T> list_value(const std::string& option, const std::string& text, const Read& read) {
    std::vector<T> values;
    for_each_item(text, ',', [&](std::string_view item) {
        if (item.empty()) throw std::invalid_argument(option + " needs a comma list without empty items");
        values.push_back(read(std::string(item)));
        return true;
    });
    return values;
}
