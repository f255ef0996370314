// `digit-tools tune`: its help, its options (comma lists of programma's
// values), and its run: the cross-validated grid, then its table.
#include "classify.h"
#include "commands.h"
#include "gnuplot.h"
#include "output.h"
#include "text.h"
#include "tune.h"

namespace {

constexpr std::string_view kHelp =
    "Usage: digit-tools tune [-k LIST] [-c LIST] [-d LIST] [-e LIST] [--combine LIST]\n"
    "                        [--margin LIST] [--folds K] [--shuffle SEED] [-tr FILE]\n"
    "                        [-ts FILE] [--csv] [--plot OUT.png]\n"
    "\n"
    "Cross-validates classify over a grid of settings: the training set's rows are\n"
    "cut into K folds (fold f holds rows floor(f n/K) to floor((f+1) n/K) - 1), each\n"
    "answered by the recognisers of the labels of the other rows, trained on them in\n"
    "file order. Prints every setting's error over all folds with the lowest and\n"
    "highest fold error, then the best setting (the lowest error, the earlier row on\n"
    "a tie). One training per kernel, parameter, margin and fold serves every epoch\n"
    "count and combiner, and the margins of a kernel, parameter and fold are trained\n"
    "side by side, sharing their kernel values. The test set is checked before any\n"
    "training.\n"
    "\n"
    "  -k, -c, -d, -e  comma lists of programma's values (defaults pol, 3, 2, 2);\n"
    "                  -c applies to gauss, -d to pol\n"
    "  --combine LIST  comma list of last, average, vote (default last)\n"
    "  --margin LIST   comma list of classify's margins (default 0); with one above 0\n"
    "                  the table gets a margin column and the best setting its margin\n"
    "  --folds K       2 or more (default 5)\n"
    "  --shuffle SEED  put the rows in a seeded order first: from the last row down,\n"
    "                  row i swaps with row x % (i + 1), x the next number of a 64-bit\n"
    "                  Mersenne twister seeded with SEED (the same folds everywhere)\n"
    "  -tr FILE        the training set (default Data/Training_set)\n"
    "  -ts FILE        then train on the whole set with the best setting and test it\n"
    "  --csv           print one CSV table (with the best row marked) instead\n"
    "  --plot FILE     draw the best kernel and combiner's errors against constant\n"
    "                  (or degree) and epochs as a heat map (PNG; needs gnuplot)\n"
    "Rows come in the order of the lists, -k, then -c or -d, then --margin, then -e,\n"
    "then --combine.\n";

TuneOptions parse_tune(Arguments& args) {
    TuneOptions options;
    while (!args.done()) {
        const std::string arg = args.take_option();
        if (arg == "-k") {
            options.kernels = list_value<programma::KernelKind>(
                arg, args.value_of(arg), [&](const std::string& v) { return kernel_value(arg, v); });
        } else if (arg == "-c" || arg == "-d") {
            (arg == "-c" ? options.constants : options.degrees) = list_value<float>(
                arg, args.value_of(arg), [&](const std::string& v) { return parameter_value(arg, v); });
        } else if (arg == "-e") {
            options.epochs = list_value<uint32_t>(arg, args.value_of(arg),
                                                  [&](const std::string& v) { return epochs_value(arg, v); });
        } else if (arg == "--combine") {
            options.combines = list_value<programma::Combine>(arg, args.value_of(arg), combine_value);
        } else if (arg == "--margin") {
            options.margins =
                list_value<float>(arg, args.value_of(arg), [&](const std::string& v) { return margin_value(arg, v); });
        } else if (arg == "--folds") {
            options.folds = count_value(arg, args.value_of(arg), 2);
        } else if (arg == "--shuffle") {
            const std::string text = args.value_of(arg);
            uint64_t seed = 0;
            if (!parse_whole(text, seed)) {
                throw std::invalid_argument("--shuffle needs a whole number from 0, not '" + text + "'");
            }
            options.shuffle = seed;
        } else if (arg == "-tr" || arg == "-ts") {
            (arg == "-tr" ? options.training_set : options.test_set) = args.path_of(arg);
        } else if (arg == "--csv") {
            options.csv = true;
        } else if (arg == "--plot") {
            options.plot = args.path_of(arg);
        } else {
            args.refuse(arg);
        }
    }
    return options;
}

int run(Arguments& args) {
    const TuneOptions options = parse_tune(args);
    RunFiles files;
    files.sample_set(options.training_set);
    if (!options.test_set.empty()) files.sample_set(options.test_set);
    const std::optional<OutputTarget> plot = plot_target(files, options.plot);
    files.report_to_standard_output();
    const TuneResult result = tune(options);
    if (plot) {
        if (const auto staged = draw_with_gnuplot(heat_map_script(tune_map(result, options)), *plot)) staged->commit();
    }
    print(tune_report(result, options.csv));
    return kExitDone;
}

}  // namespace

const Command kTuneCommand = {"tune", "cross-validate classify's settings over a grid and name the best", kHelp, run};
