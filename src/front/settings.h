// The settings of one run of programma, with their defaults, and the rules
// by which an option's text value is accepted: the values programma shares
// with digit-tools (kernel, constant, degree, epochs) are read by the
// library's parse functions (programma/api.h), the rest here.
#pragma once

#include <cstdint>

#include "programma/api.h"

namespace programma {

// Every option of the command line. A path refers to the command-line text
// itself; nothing is copied.
struct Settings {
    uint8_t adaboost = 0;
    float gaussian_c = kDefaultConstant;
    float polinomial_degree = kDefaultDegree;
    uint32_t digit = 0;
    uint32_t epocs = kDefaultEpochs;
    KernelKind kernel_algoritm = kDefaultKernel;
    uint8_t load_list = 0;
    const char* list = nullptr;
    const char* training_set = "Data/Training_set";
    const char* test_set = "Data/Test_set";
    uint8_t voted = 0;
};

// The option names, in the order they are tried.
inline constexpr const char* arguments[10] = {"-a", "-c", "-d", "-dg", "-e", "-k", "-l", "-tr", "-ts", "-vot"};

// Applies one option/value pair to `settings`: 0 when the value was accepted
// and stored, 1 when it was refused. Numbers are read as atoi and atof read
// them, refused when the first character is a letter; -dg takes 0 to 9, -e
// no negative count, -k "pol" or "gauss", -a and -vot "0" or "1".
int set_variable(Settings& settings, const char* name, const char* value);

// The kernel the settings choose.
constexpr KernelSpec kernel_of(const Settings& settings) {
    return kernel_spec(settings.kernel_algoritm, settings.polinomial_degree, settings.gaussian_c);
}

}  // namespace programma
