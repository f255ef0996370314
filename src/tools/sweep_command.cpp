// `digit-tools sweep`: its help, its options (its own, then programma's
// pairs), and its run: programma once per digit, then the table.
#include "commands.h"
#include "gnuplot.h"
#include "output.h"
#include "show.h"
#include "sweep.h"
#include "text.h"

namespace {

constexpr std::string_view kHelp =
    "Usage: digit-tools sweep [--programma PATH] [--digits LIST] [--csv] [--plot OUT.png]\n"
    "                         [--] [PROGRAMMA OPTIONS]\n"
    "\n"
    "Runs programma once for each digit (its -dg set each time, standard input from\n"
    "/dev/null) with the given option/value pairs, and prints a Markdown table of\n"
    "training error, test error, wrong answers of each kind and run time, with a\n"
    "mean row. The first argument that is not a sweep option starts the program's\n"
    "options. A failed run stops the sweep with exit status 1.\n"
    "\n"
    "  --programma PATH  the program (default: programma beside digit-tools)\n"
    "  --digits LIST     digits to run, e.g. 0,3,7-9 (default 0-9)\n"
    "  --csv             print CSV instead of Markdown\n"
    "  --plot FILE       also draw the test errors as a bar chart (needs gnuplot)\n"
    "Example: digit-tools sweep -k gauss -e 5\n";

SweepOptions parse_sweep(Arguments& args) {
    SweepOptions options;
    while (!args.done()) {
        const std::string& arg = args.peek_option();
        if (arg == "--") {
            args.take();
            break;
        }
        if (arg.rfind("--", 0) != 0) break;  // the program's own options begin
        args.take();
        if (arg == "--programma") {
            options.programma = args.path_of(arg);
        } else if (arg == "--csv") {
            options.csv = true;
        } else if (arg == "--plot") {
            options.plot = args.path_of(arg);
        } else if (arg == "--digits") {
            options.digits.clear();
            if (!parse_row_list(args.value_of(arg), options.digits, 9)) {
                throw std::invalid_argument("--digits needs a list of digits 0 to 9 such as 0,3,7-9");
            }
        } else {
            args.refuse(arg);
        }
    }
    while (!args.done()) options.passed.push_back(args.take());
    for (std::size_t i = 0; i < options.passed.size(); i += 2) {
        if (is_help(options.passed[i])) throw HelpWanted{};
    }
    if (options.passed.size() % 2 != 0) {
        throw std::invalid_argument("programma's options come in option/value pairs");
    }
    for (std::size_t i = 0; i < options.passed.size(); i += 2) {
        if (options.passed[i] == "-dg") throw std::invalid_argument("sweep sets -dg itself");
        if (options.passed[i] == "-l") {
            throw std::invalid_argument("a mistake list (-l) belongs to one digit; sweep trains");
        }
    }
    if (options.programma.empty()) options.programma = default_programma_path();
    return options;
}

int run(Arguments& args) {
    const SweepOptions options = parse_sweep(args);
    RunFiles files;
    files.input(options.programma);
    files.sample_set(passed_value(options.passed, "-tr", kDefaultTrainingSet));
    files.sample_set(passed_value(options.passed, "-ts", kDefaultTestSet));
    const std::optional<OutputTarget> plot = plot_target(files, options.plot);
    files.report_to_standard_output();
    const std::vector<DigitResult> results = run_sweep(options);
    if (plot) draw_plot(results, options, *plot);
    print(sweep_table(results, options.csv));
    return kExitDone;
}

}  // namespace

const Command kSweepCommand = {"sweep", "run programma for every digit and print a table of its results", kHelp, run};
