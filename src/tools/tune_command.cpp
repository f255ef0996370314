// `digit-tools tune`: its help, its options (comma lists of programma's
// values), and its run: the cross-validated grid, then its table.
#include <memory>

#include "classify.h"
#include "commands.h"
#include "gnuplot.h"
#include "output.h"
#include "text.h"
#include "tune.h"

namespace {

constexpr std::string_view kHelp =
    "Usage: digit-tools tune [-k LIST] [-c LIST] [-d LIST] [-e LIST] [--combine LIST]\n"
    "                        [--margin LIST] [--folds K] [--in-order] [--shuffle SEED]\n"
    "                        [-tr FILE] [-ts FILE] [--ranges FILE] [--csv] [--plot OUT.png]\n"
    "                        [--save-model FILE] [--quiet]\n"
    "\n"
    "Cross-validates classify over a grid of settings: the training set's rows are\n"
    "cut into K folds, each answered by the recognisers of the labels of the other\n"
    "rows, trained on them in the training order (file order, or with --shuffle a\n"
    "seeded one). Folds are stratified: each label's rows, in training order, are\n"
    "dealt to folds 1, 2, ..., K in turn. Prints every setting's error over all folds\n"
    "with the lowest and highest fold error, then the best setting (the lowest error,\n"
    "the earlier row on a tie). One training per kernel, parameter, margin and fold\n"
    "serves every epoch count and combiner, and the margins of a kernel, parameter\n"
    "and fold are trained side by side, sharing their kernel values. The test set is\n"
    "checked before any training.\n"
    "\n"
    "  -k, -c, -d, -e  comma lists of programma's values; -c applies to gauss, -d to\n"
    "                  pol; -c takes scale, the constant from the training data (the\n"
    "                  features times the variance of every feature value)\n"
    "  --combine LIST  comma list of last, average, vote\n"
    "                  Left out, each list is a default grid: -k gauss, -c 1/4, 1/2,\n"
    "                  1, 2 and 4 times scale, -d 2,3,4,5, -e 1,2,5,10, every\n"
    "                  combiner, and --margin 0,0.5,1,2\n"
    "  --margin LIST   comma list of classify's margins; with one above 0\n"
    "                  the table gets a margin column and the best setting its margin\n"
    "  --folds K       2 or more (default 5)\n"
    "  --in-order      contiguous folds instead: fold f holds positions floor(f n/K)\n"
    "                  to floor((f+1) n/K) - 1 of the training order\n"
    "  --shuffle SEED  train on the rows in a seeded order, the folds cut from it: from\n"
    "                  the last position down, position i swaps with x % (i + 1), x the\n"
    "                  next number of a 64-bit Mersenne twister seeded with SEED (the\n"
    "                  same order everywhere)\n"
    "  -tr FILE        the training set (default Data/Training_set)\n"
    "  -ts FILE        then train on the whole set with the best setting and test it\n"
    "  --ranges FILE   map the training and test rows' features by ranges saved with\n"
    "                  scale --save-ranges, once, before the folds are cut\n"
    "  --csv           print one CSV table (with the best row marked) instead\n"
    "  --plot FILE     draw the best kernel and combiner's errors against constant\n"
    "                  (or degree) and epochs as a heat map (PNG; needs gnuplot)\n"
    "  --save-model FILE\n"
    "                  train the best setting on every training row, in the training\n"
    "                  order, and save its model file (for predict)\n"
    "  --quiet         no progress on standard error (shown only at a terminal)\n"
    "Rows come in the order of the lists, -k, then -c or -d, then --margin, then -e,\n"
    "then --combine.\n"
    "Without --shuffle, a training set in long runs of one label is warned of.\n";

TuneOptions parse_tune(Arguments& args, std::string& model) {
    TuneOptions options;
    while (!args.done()) {
        const std::string arg = args.take_option();
        if (arg == "-k") {
            options.kernels = list_value<programma::KernelKind>(
                arg, args.value_of(arg), [&](const std::string& v) { return kernel_value(arg, v); });
        } else if (arg == "-c") {
            options.constants = list_value<ConstantChoice>(
                arg, args.value_of(arg), [&](const std::string& v) { return constant_value(arg, v); });
        } else if (arg == "-d") {
            options.degrees = list_value<float>(arg, args.value_of(arg),
                                                [&](const std::string& v) { return parameter_value(arg, v); });
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
            options.shuffle = seed_value(arg, args.value_of(arg));
        } else if (arg == "--in-order") {
            options.in_order = true;
        } else if (arg == "--quiet") {
            set_quiet();
        } else if (arg == "-tr" || arg == "-ts") {
            (arg == "-tr" ? options.training_set : options.test_set) = args.path_of(arg);
        } else if (arg == "--csv") {
            options.csv = true;
        } else if (arg == "--plot") {
            options.plot = args.path_of(arg);
        } else if (arg == "--ranges") {
            options.ranges = args.path_of(arg);
        } else if (arg == "--save-model") {
            model = args.path_of(arg);
        } else {
            args.refuse(arg);
        }
    }
    options.make_model = !model.empty();
    return options;
}

int run(Arguments& args) {
    std::string model_path;
    const TuneOptions options = parse_tune(args, model_path);
    RunFiles files;
    files.sample_set(options.training_set);
    if (!options.test_set.empty()) files.sample_set(options.test_set);
    if (!options.ranges.empty()) files.input(options.ranges);
    const std::optional<OutputTarget> plot = plot_target(files, options.plot);
    const std::optional<OutputTarget> model =
        model_path.empty() ? std::nullopt : std::optional(files.output(model_path));
    files.report_to_standard_output();
    const TuneResult result = tune(options);
    std::vector<std::unique_ptr<StagedFile>> staged;
    if (plot) {
        if (auto picture = draw_with_gnuplot(heat_map_script(tune_map(result, options)), *plot))
            staged.push_back(std::move(picture));
    }
    if (model) stage_output(staged, *model, programma::value_or_throw(programma::model_text(*result.model)));
    commit_all(staged);
    print(tune_report(result, options.csv));
    return kExitDone;
}

}  // namespace

const Command kTuneCommand = {"tune", "cross-validate classify's settings over a grid and name the best", kHelp, run};
