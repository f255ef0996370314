// Fuzz target: the command-line parser. The input, split at NUL bytes, gives
// the arguments after the program name (an empty input none, at most 64).
// From the default settings, parse_command_line must either refuse, printing
// exactly the usage text and nothing else, or accept silently, leaving every
// setting in its range and the last value given for a file option in force.
#include <climits>
#include <map>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "programma.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static char program[] = "programma";
    static const fuzz::Printed usage = fuzz::capture([] { help(program); });
    std::vector<std::string> arguments;
    for (std::string_view rest(reinterpret_cast<const char*>(data), size); size > 0 && arguments.size() < 64;) {
        const std::size_t nul = std::min(rest.find('\0'), rest.size());
        arguments.emplace_back(rest.substr(0, nul));
        if (nul == rest.size()) break;
        rest.remove_prefix(nul + 1);
    }
    std::vector<char*> argv = {program};
    for (std::string& argument : arguments) argv.push_back(argument.data());

    Settings settings;
    int refused = -1;
    const fuzz::Printed printed =
        fuzz::capture([&] { refused = parse_command_line(int(argv.size()), argv.data(), settings); });
    fuzz::check(refused == 0 || refused == 1, "parse_command_line answers 0 or 1");
    fuzz::check(printed == (refused == 1 ? usage : fuzz::Printed{}), "a refusal prints the usage text alone");
    fuzz::check(argv.size() % 2 == 1 || refused == 1, "an option without a value is refused");
    if (refused == 0) {
        const auto kind = static_cast<int32_t>(settings.kernel_algoritm);
        fuzz::check(settings.digit <= 9 && settings.epocs <= uint32_t(INT_MAX) && (kind == 0 || kind == 1) &&
                        settings.adaboost <= 1 && settings.voted <= 1,
                    "accepted settings are in range");
        std::map<std::string_view, const char*> given;  // the last value of each option
        for (std::size_t i = 1; i + 1 < argv.size(); i += 2) given[argv[i]] = argv[i + 1];
        for (const auto& [option, value] : {std::pair{"-tr", settings.training_set},
                                            std::pair{"-ts", settings.test_set}, std::pair{"-l", settings.list}}) {
            fuzz::check(!given.contains(option) || given[option] == value, "the last value given is in force");
        }
        fuzz::check(given.contains("-l") == (settings.load_list == 1), "-l loads a list");
    }
    return 0;
}
