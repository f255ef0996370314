// Fuzz target: the command-line parser.
//
// The input is split at NUL bytes into the arguments after the program name
// (an empty input gives none; at most 64 are kept); every run starts from
// reset_settings() and standard output goes to /dev/null. Besides the
// sanitizers' checks, an accepted command line must leave every setting in
// its documented range, with the last value given for a file option in force.
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "programma.h"

namespace {

constexpr std::size_t kMaxArguments = 64;

// The value of the last occurrence of `option` in an option position, or null.
const char* last_value(const std::vector<char*>& argv, std::size_t argc, const char* option) {
    const char* value = nullptr;
    for (std::size_t i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], option) == 0) value = argv[i + 1];
    }
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzz::quiet_stdio();
    std::vector<std::string> storage = {"programma"};
    if (size > 0) {
        const char* text = reinterpret_cast<const char*>(data);
        std::size_t start = 0;
        for (;;) {
            const void* nul = std::memchr(text + start, 0, size - start);
            std::size_t end = nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : size;
            storage.emplace_back(text + start, end - start);
            if (nul == nullptr || storage.size() > kMaxArguments) break;
            start = end + 1;
        }
    }
    std::vector<char*> argv;
    for (std::string& argument : storage) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const std::size_t argc = storage.size();

    reset_settings();
    int refused = parse_command_line(static_cast<int>(argc), argv.data());
    FUZZ_CHECK(refused == 0 || refused == 1);
    if (argc % 2 == 0) FUZZ_CHECK(refused == 1);
    if (refused == 0) {
        FUZZ_CHECK(digit <= 9);
        FUZZ_CHECK(epocs <= static_cast<uint32_t>(INT_MAX));
        FUZZ_CHECK(kernel_algoritm == 0 || kernel_algoritm == 1);
        FUZZ_CHECK(adaboost <= 1);
        FUZZ_CHECK(voted <= 1);
        if (const char* value = last_value(argv, argc, "-tr")) FUZZ_CHECK(training_set == value);
        if (const char* value = last_value(argv, argc, "-ts")) FUZZ_CHECK(test_set == value);
        if (const char* value = last_value(argv, argc, "-l")) FUZZ_CHECK(load_list == 1 && list == value);
        FUZZ_CHECK(load_list == 0 || list != nullptr);
        FUZZ_CHECK(training_set != nullptr && test_set != nullptr);
    }
    reset_settings();  // drops the pointers into this input's arguments
    return 0;
}
