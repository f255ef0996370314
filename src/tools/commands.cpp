// The table of digit-tools' commands, the main help made from it, and the
// one place a command's failures become messages and exit statuses.
#include "commands.h"

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <new>
#include <stdexcept>

#include "interrupt.h"
#include "output.h"
#include "programma/version.h"
#include "samples.h"
#include "text.h"

namespace {

// In the order the main help lists them.
constexpr std::array<const Command*, 7> kCommands = {&kClassifyCommand, &kConvertCommand, &kPredictCommand,
                                                     &kScaleCommand,    &kShowCommand,    &kSweepCommand,
                                                     &kTuneCommand};

const Command* command_named(std::string_view name) {
    for (const Command* command : kCommands) {
        if (command->name == name) return command;
    }
    return nullptr;
}

// The usage line, a line for each command (its name, then its summary), and
// where to read more.
std::string main_help() {
    std::size_t widest = 0;
    for (const Command* command : kCommands) widest = std::max(widest, command->name.size());
    std::string help =
        "Usage: digit-tools COMMAND [OPTIONS] FILES\n"
        "Tools beside programma: data conversion, pictures of samples, all-digit runs.\n"
        "\n"
        "Commands:\n";
    for (const Command* command : kCommands) {
        help += "  " + std::string(command->name) + std::string(widest + 1 - command->name.size(), ' ');
        help += std::string(command->summary) + "\n";
    }
    return help +
           "\n"
           "'digit-tools COMMAND --help' describes each command's options.\n"
           "Exit status: 0 done, 1 failed (bad input or a failed run), 2 wrong command line.\n";
}

// The help of the command named, or the main help.
std::string help_of(std::string_view name) {
    const Command* command = command_named(name);
    return command != nullptr ? std::string(command->help) : main_help();
}

// A failure's message; none once a signal has come, which ends the run
// by itself.
void complain(const std::string& message) {
    if (!interrupted()) std::fprintf(stderr, "digit-tools: %s\n", message.c_str());
}

int run(const Command& command, const std::vector<std::string>& arguments) {
    Arguments args(command.name, arguments);
    try {
        return command.run(args);
    } catch (const HelpWanted&) {
        print(command.help);
        return kExitDone;
    } catch (const std::invalid_argument& error) {
        const std::string name(command.name);
        std::fprintf(stderr, "digit-tools %s: %s; see digit-tools %s --help\n", name.c_str(), error.what(),
                     name.c_str());
        return kExitUsage;
    } catch (const std::bad_alloc&) {
        complain("out of memory");
        return kExitFailed;
    } catch (const std::runtime_error& error) {
        complain(error.what());
        return kExitFailed;
    }
}

}  // namespace

int digit_tools_run(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        std::fputs(main_help().c_str(), stderr);
        return kExitUsage;
    }
    const std::string& name = arguments[0];
    if (is_help(name) || name == "help") {
        print(help_of(arguments.size() > 1 ? arguments[1] : ""));
        return kExitDone;
    }
    if (name == "--version") {
        print(std::string("digit-tools ") + programma::version() + "\n");
        return kExitDone;
    }
    const Command* command = command_named(name);
    if (command == nullptr) {
        std::fprintf(stderr, "digit-tools: no command '%s'; see digit-tools --help\n", name.c_str());
        return kExitUsage;
    }
    return run(*command, std::vector<std::string>(arguments.begin() + 1, arguments.end()));
}

int digit_tools_main(int argc, char** argv) {
    // A file-size limit must give a write error to report, not a silent death.
    std::signal(SIGXFSZ, SIG_IGN);
    catch_interrupts();
    engine_options();  // the environment's engine options are read once, at start
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    const int status = digit_tools_run(args);
    // Everything the run staged or made is gone by now.
    raise_caught_signal();
    return standard_output_ok() ? status : kExitFailed;
}
