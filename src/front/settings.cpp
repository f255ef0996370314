// programma's value rules for its options: the shared values through the
// library's parse functions, the flags and the digit here.
#include "settings.h"

#include <string_view>

#include "programma/api.h"

namespace programma {
namespace {

bool flag_value(const char* value, uint8_t& flag) {
    const std::string_view text(value);
    if (text != "0" && text != "1") return false;
    flag = text == "1" ? 1 : 0;
    return true;
}

// Stores a parsed value; false when it was refused.
template <typename T, typename Stored>
bool store(Result<T>&& parsed, Stored& stored) {
    if (!parsed) return false;
    stored = parsed.value();
    return true;
}

}  // namespace

int set_variable(Settings& settings, const char* name, const char* value) {
    const std::string_view option(name);
    if (option == "-a") return flag_value(value, settings.adaboost) ? 0 : 1;
    if (option == "-c") return store(parse_constant(value), settings.gaussian_c) ? 0 : 1;
    if (option == "-d") return store(parse_degree(value), settings.polinomial_degree) ? 0 : 1;
    if (option == "-dg") {
        // A digit is read as a count is (atoi's reading, no sign), then held
        // to 0..9.
        return store(parse_epochs(value), settings.digit) && settings.digit <= 9 ? 0 : 1;
    }
    if (option == "-e") return store(parse_epochs(value), settings.epocs) ? 0 : 1;
    if (option == "-k") return store(parse_kernel(value), settings.kernel_algoritm) ? 0 : 1;
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
